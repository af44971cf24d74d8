// Helpers for the end-to-end tests: scratch folders, running the real
// programs, and the JVM peer.
#pragma once
#include <initializer_list>
#include <string>
#include <vector>

struct PlChild;

// Path of a program built beside the running test.
std::string tk_bin(const char *name);

// A fresh folder, removed with its files when the object goes.
struct TkScratch {
  TkScratch();
  ~TkScratch();
  TkScratch(const TkScratch &) = delete;
  TkScratch &operator=(const TkScratch &) = delete;
  // The folder as the programs report a temporary directory: with the
  // trailing separator.
  std::string dir_sep() const { return dir + sep(); }
  std::string path(const std::string &name) const { return dir + sep() + name; }
  static std::string sep();
  // TMPDIR, TMP and TEMP pointing here, for a child's environment.
  std::vector<std::string> temp_env() const;
  std::string dir;
};

struct TkResult {
  int code = -1;       // exit status; -1 when it did not end in time
  std::string out;     // standard output, read as text
  std::string err;     // standard error, read as text
};

// A program running in the background.
struct TkRun {
  PlChild *child = nullptr;
  std::string out_path, err_path;
};

bool tk_start(TkRun *run, const TkScratch &s, const std::vector<std::string> &argv,
              const std::string &input, const std::vector<std::string> &env);
// Waits for the end (timeout_ms) and collects the output; kills on time-out.
TkResult tk_finish(TkRun *run, int timeout_ms = 60000);
TkResult tk_run(const TkScratch &s, const std::vector<std::string> &argv,
                const std::string &input, const std::vector<std::string> &env,
                int timeout_ms = 60000);

std::string tk_read(const std::string &path, bool *found = nullptr);
// Reads in text mode: what a program wrote to a text stream, with the
// platform's line ends turned back into "\n".
std::string tk_read_text(const std::string &path);
bool tk_write(const std::string &path, const std::string &content);
bool tk_exists(const std::string &path);
// Polls until the file exists, up to timeout_ms.
bool tk_wait_file(const std::string &path, int timeout_ms);

// A command line as a trace shows it: each argument in brackets, long
// ones cut to 40 characters.
std::string tk_args_text(const std::vector<std::string> &args);
// An argv over args (which must outlive it), null-terminated.
std::vector<char *> tk_argv(std::vector<std::string> &args);

// A process id no real process of the test is likely to have, different
// for every call in this test process.
unsigned long tk_fake_pid();

// A loopback TCP port nothing listens on just now.
int tk_free_port();
// One control message (an HTTP/1.0 POST with that body) to the daemon's
// port on 127.0.0.1, and the whole reply; tries to connect for up to 10 s.
std::string tk_request(int port, const std::string &body);

// The JVM peer serving pid until told otherwise.
struct TkPeer {
  TkRun run;
  std::string log;
  // Entries of its log of one kind ("msg" or "req"), decoded.
  std::vector<std::string> seen(const char *kind) const;
};
bool tk_start_peer(TkPeer *peer, const TkScratch &s, unsigned long pid, const char *mode,
                   int delay_ms = 0, int max = 1);
void tk_stop_peer(TkPeer *peer);

// A scratch installation that the registry names (on POSIX the registry
// stand-in lives in the scratch folder too): folders, version record,
// scripts. The registry entry goes with the object.
struct TkInstall {
  TkScratch s;
  std::vector<std::string> env; // the registry stand-in, for children
  TkInstall();
  ~TkInstall();
  TkInstall(const TkInstall &) = delete;
  TkInstall &operator=(const TkInstall &) = delete;
  // Removes the registry entry (also done when the object goes).
  void remove_key() const;
  // rel with '/' between names, as a path of this platform.
  std::string at(const std::string &rel) const;
  bool mkdirs(std::initializer_list<const char *> dirs) const;
  // An executable script rel + the platform's script suffix: a shell
  // script on POSIX, a batch file on Windows.
  bool script(const std::string &rel, const std::string &posix, const std::string &windows) const;
  // The scripted agent behind the daemon's start script, with its
  // configuration on free loopback ports (agent and HTTP port returned).
  bool install_scripted_agent(int *agent_port, int *http_port) const;
};
