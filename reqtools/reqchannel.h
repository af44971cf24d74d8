// The request channel shared by the JVM request tools: a request file in
// the temporary directory guarded by a lock file, and a wake-up message
// into the target JVM's mailslot. Each tool fills it from its profile.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

// The fixed parameters of one tool.
struct RcProfile {
  const char *name;       // name word in file names and messages
  const char *tag;        // request tag of the mailslot message
  const char *lock_base;  // lock file name without the process id
  const char *req_base;   // request file name without the process id
  const char *prompt;     // confirmation prompt
  const char *usage;      // short usage text
  long default_limit;     // time limit in the tool's unit; 0 waits forever
  unsigned poll_ms;       // sleep before each check
  long poll_add;          // added to the elapsed count per check
  bool vanish_is_error;   // a request file gone while waiting ends the tool
};

enum RcTool { RC_MEMSNAP, RC_COLLECTNOW, RC_OBJTALLY };
extern const RcProfile rc_profiles[3];

// Longest file name the tools build, and the buffer that holds it.
enum { RC_PATH_MAX = 260 };

// Settings common to all tools.
struct RcOptions {
  unsigned long pid;
  bool have_pid;
  long limit;
  bool force;
};

// A tool's own options. Called for every argument that starts with "-"
// and is not a common option; returns true when it took the argument.
// It may advance *i past values it consumes and set *bad for a
// command-line error that has no message of its own.
typedef bool (*RcToolOption)(void *ctx, int argc, char **argv, int *i, bool *bad);

// Reads the common options and, through tool_option, the tool's own.
// Messages (illegal options, usage, not owner) are appended to *msgs in
// the order they arise. Returns -1 when the run may go on, else the exit
// status the tool ends with.
int rc_parse_options(const RcProfile *prof, int argc, char **argv, RcToolOption tool_option,
                     void *ctx, RcOptions *opts, std::string *msgs);

// Shows the prompt on err and reads one character from in. True for y/Y.
bool rc_confirm(const RcProfile *prof, FILE *in, FILE *err);

// Reply codes of rc_check_reply.
enum {
  RC_REPLY_UNLOCK_FAILED = -1, // the lock could not be released: end now
  RC_REPLY_PENDING = 0,        // lock busy, or not answered yet
  RC_REPLY_ANSWERED = 1,
  RC_REPLY_NO_FILE = 2,
  RC_REPLY_EMPTY = 3,
};

// One request in progress.
struct RcChannel {
  const RcProfile *prof;
  unsigned long pid;
  char tmpdir[RC_PATH_MAX];
  char lock_path[RC_PATH_MAX];
  char req_path[RC_PATH_MAX];
  FILE *err;                    // where messages go
  void (*sleep_ms)(unsigned);   // the clock, replaceable in tests
  void (*extra_cleanup)();      // the tool's clean-up on failure, or null
};

// Sets up a channel with the real clock and stderr.
void rc_init(RcChannel *ch, const RcProfile *prof, unsigned long pid);

// Formats "<dir><sep><base><pid>" into buf (RC_PATH_MAX). False when it
// does not fit.
bool rc_build_name(char *buf, const char *dir, const char *base, unsigned long pid);

// Installs the interruption handler that cleans up ch's files. Returns -1
// on success, else the exit status (message written).
int rc_install_handlers(RcChannel *ch);

// Temporary directory, lock name, stale lock, request name. -1 or an
// exit status.
int rc_prepare(RcChannel *ch);

bool rc_lock_request(RcChannel *ch);
bool rc_unlock_request(RcChannel *ch);
int rc_check_reply(RcChannel *ch);

// Writes the request (lines after the time line, each ending in a line
// end) and wakes the JVM. -1 or an exit status.
int rc_send_request(RcChannel *ch, const std::vector<std::string> &lines);

enum RcWait { RC_WAIT_ANSWERED, RC_WAIT_TIMEOUT, RC_WAIT_VANISHED, RC_WAIT_UNLOCK_FAILED };
// Polls for the answer with time limit limit (in the tool's unit).
RcWait rc_wait_for_reply(RcChannel *ch, long limit);

// The ends of a request: -1 (answered; the tool goes on) or exit status.
int rc_finish_answered(RcChannel *ch);
int rc_finish_timeout(RcChannel *ch);

// Deletes a work file; when that fails and the file is still there, asks
// the user to delete it. dir is the directory as the tool built it.
void rc_remove_work_file(FILE *err, const char *name_word, const char *path, const char *dir);

// The whole run of a tool whose request is its option lines: handlers,
// options, confirmation, preparation and the exchange. lines gives the
// request's option lines from ctx once the options are read. Returns the
// exit status.
int rc_run_tool(RcChannel *ch, const RcProfile *prof, int argc, char **argv, RcToolOption tool_option, void *ctx,
                std::vector<std::string> (*lines)(const void *ctx));

// send, wait and finish: the whole exchange once the channel is prepared.
// Returns -1 when answered (the tool goes on), else the exit status.
int rc_exchange(RcChannel *ch, long limit, const std::vector<std::string> &lines);
