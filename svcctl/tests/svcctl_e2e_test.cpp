// tovx_svcctl end to end: a scratch installation with scripted outside
// components, the service manager (the stand-in on POSIX, the system's
// under Windows) and, for the whole life, the real daemon in service mode
// with the scripted agent behind it.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/procinfo.h"
#include "platform/service.h"
#include "testkit.h"

namespace {

const char kService[] = "TOVX Service";
const std::string kInvalid =
    "Usage: tovx_svcctl registservice | deleteservice | start [-nno] | stop [-f | -notice] | status\n";
const std::string kCheckFailed =
    "XVRT62607-E The Java check or the installation ID check failed. The service was not started.\n";


struct SvcCtl : ::testing::Test {
  TkInstall in;
  std::string calls; // what the scripted outside components were called with

  void SetUp() override {
    pl_setenv("TOVX_SCM_RUN", in.s.path("run").c_str());
    in.env.push_back("TOVX_SCM_RUN=" + in.s.path("run"));
    calls = in.s.path("calls.log");
    char dir[1024];
    ASSERT_EQ(pl_self_dir(dir, sizeof dir), 0);
    std::string shipped = tk_read(std::string(dir) + pl_path_sep + "msgs" + pl_path_sep + "talvagt.txt");
    ASSERT_FALSE(shipped.empty());
    ASSERT_TRUE(tk_write(in.at("msgs/talvagt.txt"), shipped));
    ASSERT_TRUE(tk_write(in.at("etc/amc_iid"), "iid\n"));
    ASSERT_TRUE(in.script("agent/bin/amc_callbat",
                          "p=$1; shift\ncase $p in *.sh) ;; *) p=$p.sh ;; esac\n"
                          "case $p in /*|./*) ;; *) p=./$p ;; esac\nexec \"$p\" \"$@\"\n",
                          "@%*\r\n"));
    javaCheck(0);
    stopCommand(0);
    removeService();
  }
  void TearDown() override { removeService(); }

  void component(const char *rel, const char *name, int code) {
    ASSERT_TRUE(in.script(rel, "echo \"" + std::string(name) + " $*\" >> '" + calls + "'\nexit " + std::to_string(code) + "\n",
                          "@echo " + std::string(name) + " %*>>\"" + calls + "\"\r\n@exit /b " + std::to_string(code) + "\r\n"));
  }
  void javaCheck(int code) { component("bin/amc_modinfo", "modinfo", code); }
  void stopCommand(int code) { component("agent/bin/amc_exec", "exec", code); }
  // The command interpreter keeps the blank before a redirection.
  std::string called() {
    std::string t = tk_read_text(calls), out;
    for (size_t i = 0; i < t.size(); ++i)
      if (!(t[i] == ' ' && i + 1 < t.size() && t[i + 1] == '\n'))
        out += t[i];
    return out;
  }

  TkResult run(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {tk_bin("tovx_svcctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    return tk_run(in.s, argv, "", in.env, 120000);
  }

  // The service, stopped and deleted, whatever a test left behind.
  void removeService() {
    PlScHandle scm = nullptr, svc = nullptr;
    if (pl_scm_open(&scm))
      return;
    if (pl_svc_open(scm, kService, &svc) == 0) {
      PlServiceStatus st;
      pl_svc_control(svc, PL_SVC_CONTROL_STOP, &st);
      waitState(svc, PL_SVC_STOPPED, 20000);
      pl_svc_delete(svc);
      pl_sc_close(svc);
      for (int i = 0; i < 100 && pl_svc_open(scm, kService, &svc) == 0; ++i) {
        pl_sc_close(svc);
        pl_sleep_ms(50);
      }
    }
    pl_sc_close(scm);
  }
  static uint32_t waitState(PlScHandle svc, uint32_t state, int ms) {
    PlServiceStatus st = {};
    for (int i = 0; i <= ms / 50; ++i) {
      if (pl_svc_query(svc, &st))
        return 0;
      if (st.current_state == state)
        break;
      pl_sleep_ms(50);
    }
    return st.current_state;
  }
  // "TOVX Service" running the probe instead of the daemon.
  PlScHandle startProbe() {
    PlScHandle scm = nullptr, svc = nullptr;
    EXPECT_EQ(pl_scm_open(&scm), 0);
    std::string image = "\"" + tk_bin("svc_probe") + "\" run \"" + in.s.path("probe.log") + "\" \"" + kService + "\"";
    PlServiceDef d = {kService, kService, PL_SVC_WIN32_OWN_PROCESS, PL_SVC_DEMAND_START, PL_SVC_ERROR_NORMAL,
                      image.c_str()};
    EXPECT_EQ(pl_svc_create(scm, &d, &svc), 0);
    pl_sc_close(scm);
    if (!svc)
      return nullptr;
    EXPECT_EQ(pl_svc_start(svc, 0, nullptr), 0);
    EXPECT_EQ(waitState(svc, PL_SVC_RUNNING, 20000), static_cast<uint32_t>(PL_SVC_RUNNING));
    return svc;
  }
  PlScHandle openService() {
    PlScHandle scm = nullptr, svc = nullptr;
    EXPECT_EQ(pl_scm_open(&scm), 0);
    EXPECT_EQ(pl_svc_open(scm, kService, &svc), 0);
    pl_sc_close(scm);
    return svc;
  }
};

TEST_F(SvcCtl, InvalidCommandLinesChangeNothing) {
  const std::vector<std::vector<std::string>> lines = {
      {}, {"Status"}, {"status", "x"}, {"registservice", "-nno"}, {"deleteservice", "x"},
      {"start", "-nn"}, {"start", "-nnoo"}, {"start", "-NNO"}, {"stop", "-f", "x"}, {"frobnicate"}};
  for (const auto &l : lines) {
    SCOPED_TRACE(tk_args_text(l));
    TkResult r = run(l);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kInvalid);
  }
  EXPECT_EQ(called(), "") << "nothing ran";
}

TEST_F(SvcCtl, MessagesAndInitialisation) {
  // A message missing from the file shows its key.
  ASSERT_TRUE(tk_write(in.at("msgs/talvagt.txt"), "OTHER=x\n"));
  TkResult r = run({});
  EXPECT_EQ(r.err, "XVRT6_INVALID_ARGUMENTS");
  // A message file whose text would take other values than given falls
  // back to the default instead of reading what was not passed.
  ASSERT_TRUE(tk_write(in.at("msgs/talvagt.txt"), "XVRT6_INVALID_ARGUMENTS=bad %s %d\n"));
  r = run({});
  EXPECT_EQ(r.err, "XVRT6_INVALID_ARGUMENTS");
  // Without a message file no command works.
  ASSERT_EQ(pl_file_delete(in.at("msgs/talvagt.txt").c_str()), 0);
  for (const char *cmd : {"status", "start", "registservice"}) {
    r = run({cmd});
    EXPECT_EQ(r.code, 2) << cmd;
    EXPECT_EQ(r.out, "Initialize failed.  error number = 2\n") << cmd;
  }
}

TEST_F(SvcCtl, StatusShowsVersionBuildAndState) {
  TkResult r = run({"status"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "TOVX Service Information\n version    :07-10\n build      :FG\n status     :Stop\n");
  ASSERT_TRUE(tk_write(in.at("etc/amc_version.properties"), "version.product=" + std::string(30, 'v') +
                                                                 "\nversion.build=ABCDE\n"));
  ASSERT_TRUE(tk_write(in.at("etc/.lock"), ""));
  r = run({"status"});
  EXPECT_EQ(r.out, "TOVX Service Information\n version    :" + std::string(19, 'v') +
                       "\n build      :\n status     :Maintenance\n");
}

TEST_F(SvcCtl, TheMaintenanceLockStopsEveryChange) {
  ASSERT_TRUE(tk_write(in.at("etc/.lock"), ""));
  for (const char *cmd : {"registservice", "deleteservice", "start", "stop"}) {
    TkResult r = run({cmd});
    EXPECT_EQ(r.code, 0) << cmd;
    EXPECT_EQ(r.out + r.err, "") << cmd;
  }
  PlScHandle scm = nullptr, svc = nullptr;
  ASSERT_EQ(pl_scm_open(&scm), 0);
  EXPECT_EQ(pl_svc_open(scm, kService, &svc), PL_SVC_ERR_DOES_NOT_EXIST);
  pl_sc_close(scm);
  EXPECT_EQ(called(), "");
}

TEST_F(SvcCtl, RegistserviceCreatesAndUpdatesDeleteserviceRemoves) {
  // An older definition: another program, started on demand.
  PlScHandle scm = nullptr, svc = nullptr;
  ASSERT_EQ(pl_scm_open(&scm), 0);
  PlServiceDef d = {kService, "Old name", PL_SVC_WIN32_OWN_PROCESS, PL_SVC_DEMAND_START, PL_SVC_ERROR_NORMAL,
                    "\"old program\""};
  ASSERT_EQ(pl_svc_create(scm, &d, &svc), 0);
  pl_sc_close(svc);
  TkResult r = run({"registservice"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out + r.err, "");
  ASSERT_EQ(pl_svc_open(scm, kService, &svc), 0);
  PlServiceConfig c;
  ASSERT_EQ(pl_svc_query_config(svc, &c), 0);
  const std::string program = "\"" + in.at("agent/bin/tovx_service") + pl_exe_suffix + "\"";
  EXPECT_EQ(c.image_path, program);
  EXPECT_STREQ(c.display_name, kService);
  EXPECT_EQ(c.start_type, static_cast<uint32_t>(PL_SVC_DEMAND_START)) << "the start type stays";
  pl_sc_close(svc);

  EXPECT_EQ(run({"deleteservice"}).code, 0);
  EXPECT_EQ(pl_svc_open(scm, kService, &svc), PL_SVC_ERR_DOES_NOT_EXIST);
  EXPECT_EQ(run({"deleteservice"}).code, 1) << "no such service";

  // A new definition starts automatically.
  EXPECT_EQ(run({"registservice"}).code, 0);
  ASSERT_EQ(pl_svc_open(scm, kService, &svc), 0);
  ASSERT_EQ(pl_svc_query_config(svc, &c), 0);
  EXPECT_EQ(c.image_path, program);
  EXPECT_EQ(c.start_type, static_cast<uint32_t>(PL_SVC_AUTO_START));
  EXPECT_EQ(c.type, static_cast<uint32_t>(PL_SVC_WIN32_OWN_PROCESS));
  pl_sc_close(svc);
  pl_sc_close(scm);
}

TEST_F(SvcCtl, DeleteserviceStopsARunningServiceFirst) {
  PlScHandle svc = startProbe();
  ASSERT_NE(svc, nullptr);
  // A service marked for deletion goes once no handle holds it.
  pl_sc_close(svc);
  TkResult r = run({"deleteservice"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(tk_read_text(in.s.path("probe.log")).find("control 1\nstopped\n"), std::string::npos);
  PlScHandle scm = nullptr, gone = nullptr;
  ASSERT_EQ(pl_scm_open(&scm), 0);
  int rc = 0;
  for (int i = 0; i < 100 && (rc = pl_svc_open(scm, kService, &gone)) == 0; ++i) {
    pl_sc_close(gone);
    pl_sleep_ms(50);
  }
  EXPECT_EQ(rc, PL_SVC_ERR_DOES_NOT_EXIST);
  pl_sc_close(scm);
}

TEST_F(SvcCtl, StartChecksJavaAndTheInstallationId) {
  ASSERT_EQ(run({"registservice"}).code, 0);
  javaCheck(3);
  TkResult r = run({"start"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, kCheckFailed);
  EXPECT_EQ(called(), "modinfo -javacheck\n");
  std::string log = tk_read_text(in.at("bin/logs/tovxservice.log"));
  EXPECT_NE(log.find("XVRT62636-E An attempt to execute a JAVA check (amc_modinfo -javacheck) has failed."),
            std::string::npos)
      << log;

  javaCheck(0);
  ASSERT_EQ(pl_file_delete(in.at("etc/amc_iid").c_str()), 0);
  r = run({"start", "-nno"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, kCheckFailed);
  log = tk_read_text(in.at("bin/logs/tovxservice.log"));
  EXPECT_NE(log.find("XVRT62637-E The installation ID file (amc_iid) was not found."), std::string::npos) << log;

  PlScHandle svc = openService();
  PlServiceStatus st;
  ASSERT_EQ(pl_svc_query(svc, &st), 0);
  EXPECT_EQ(st.current_state, static_cast<uint32_t>(PL_SVC_STOPPED)) << "not started";
  pl_sc_close(svc);
}

TEST_F(SvcCtl, StartWithoutAServiceReportsTheFailedCall) {
  TkResult r = run({"start"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "The system function OpenService failed. (error 1060)\n"
                   "XVRT62606-E The TOVX Service could not be started.\n");
}

TEST_F(SvcCtl, StopRunsTheAgentsStopCommand) {
  // A stopped service: nothing to do.
  ASSERT_EQ(run({"registservice"}).code, 0);
  TkResult r = run({"stop"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(called(), "");
  removeService();

  PlScHandle svc = startProbe();
  ASSERT_NE(svc, nullptr);
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err, call;
  } cases[] = {
      {{"stop"}, 0, "", "exec alet.server:StopCLI\n"},
      {{"stop", "-notice"}, 1, "XVRT62604-E The agent could not be stopped.\n", "exec alet.server:StopCLI -notice\n"},
      {{"stop", "-f"}, 5, "XVRT62605-E The service daemon could not be reached.\n", "exec alet.server:StopCLI -f\n"},
      {{"stop", "-x"}, 0, kInvalid, "exec alet.server:StopCLI\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args.back());
    pl_file_delete(calls.c_str());
    stopCommand(c.code);
    r = run(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(called(), c.call);
  }
  pl_sc_close(svc);
}

// The whole life of the service with the real daemon.
struct ServiceLife : SvcCtl {
  int agentPort = 0, httpPort = 0;
  void SetUp() override {
    SvcCtl::SetUp();
    ASSERT_TRUE(in.install_scripted_agent(&agentPort, &httpPort));
    std::string program = in.at("agent/bin/tovx_service") + pl_exe_suffix;
    ASSERT_EQ(pl_file_copy(tk_bin("tovx_service").c_str(), program.c_str()), 0);
    ASSERT_EQ(pl_file_set_executable(program.c_str()), 0);
    ASSERT_EQ(run({"registservice"}).code, 0);
  }
  void TearDown() override {
    // An agent that refuses stops would keep the service alive.
    tk_write(in.at("agent/config/scripted_agent.txt"), "answer OK\n");
    SvcCtl::TearDown();
  }
  std::string log() const { return tk_read_text(in.at("bin/logs/tovxservice.log")); }
  std::string agentLog() const { return tk_read_text(in.at("agent/scripted_agent.log")); }
  bool waitFor(std::string (ServiceLife::*what)() const, const std::string &text, int ms) const {
    for (int i = 0; i <= ms / 50; ++i) {
      if ((this->*what)().find(text) != std::string::npos)
        return true;
      pl_sleep_ms(50);
    }
    return false;
  }
};

TEST_F(ServiceLife, StartInterrogateStopDelete) {
  TkResult r = run({"start", "-nno"});
  ASSERT_EQ(r.code, 0) << r.err;
  PlScHandle svc = openService();
  ASSERT_EQ(waitState(svc, PL_SVC_RUNNING, 30000), static_cast<uint32_t>(PL_SVC_RUNNING)) << log();
  // With -nno the daemon sends no notice: the idle agent gets a safe stop.
  ASSERT_TRUE(waitFor(&ServiceLife::agentLog, "stopping", 30000)) << agentLog();
  EXPECT_EQ(agentLog(), "started\nACS-SAFESTOP\nstopping\n");
  r = run({"status"});
  EXPECT_NE(r.out.find(" status     :Running\n"), std::string::npos) << r.out;
  r = run({"start"});
  EXPECT_EQ(r.err, "XVRT62001-I The TOVX Service is already running.\n");

  PlServiceStatus st;
  ASSERT_EQ(pl_svc_control(svc, PL_SVC_CONTROL_INTERROGATE, &st), 0);
  EXPECT_EQ(st.current_state, static_cast<uint32_t>(PL_SVC_RUNNING));
  ASSERT_TRUE(waitFor(&ServiceLife::log, "ServiceStatus=4.\n", 5000));

  // A stop while the agent is down ends the service within the loop's
  // wait period.
  uint64_t start = pl_monotonic_ms();
  ASSERT_EQ(pl_svc_control(svc, PL_SVC_CONTROL_STOP, &st), 0);
  EXPECT_EQ(st.current_state, static_cast<uint32_t>(PL_SVC_STOP_PENDING));
  ASSERT_EQ(waitState(svc, PL_SVC_STOPPED, 20000), static_cast<uint32_t>(PL_SVC_STOPPED)) << log();
  EXPECT_LT(pl_monotonic_ms() - start, 12000u);
  ASSERT_TRUE(waitFor(&ServiceLife::log, "XVRT62007-I", 10000)) << log();
  std::string l = log();
  EXPECT_NE(l.find("XVRT62015-I The service status was changed. ServiceStatus=3.\n"), std::string::npos) << l;
  EXPECT_NE(l.find("XVRT62006-I The tovx_service service was stopped.\n"), std::string::npos) << l;
  pl_sc_close(svc);

  bool stopped = false;
  for (int i = 0; i < 100 && !stopped; ++i) {
    stopped = run({"status"}).out.find(" status     :Stop\n") != std::string::npos;
    if (!stopped)
      pl_sleep_ms(100);
  }
  EXPECT_TRUE(stopped);
  EXPECT_EQ(run({"deleteservice"}).code, 0);
}

TEST_F(ServiceLife, AStopTheAgentRefusesLeavesTheServiceRunning) {
  ASSERT_TRUE(tk_write(in.at("agent/config/server.properties"),
                       tk_read(in.at("agent/config/server.properties")) + "server.agent.always=true\n"));
  ASSERT_TRUE(tk_write(in.at("agent/config/scripted_agent.txt"), "answer NG\n"));
  ASSERT_EQ(run({"start", "-nno"}).code, 0);
  PlScHandle svc = openService();
  ASSERT_EQ(waitState(svc, PL_SVC_RUNNING, 30000), static_cast<uint32_t>(PL_SVC_RUNNING)) << log();
  ASSERT_TRUE(waitFor(&ServiceLife::agentLog, "started", 30000));
  ASSERT_TRUE(waitFor(&ServiceLife::log, "TALVAgent-LOCALSTARTING", 30000)) << log();

  PlServiceStatus st;
  ASSERT_EQ(pl_svc_control(svc, PL_SVC_CONTROL_STOP, &st), 0);
  ASSERT_TRUE(waitFor(&ServiceLife::log, "XVRT62005-I The tovx_service service was not stopped.\n", 20000)) << log();
  EXPECT_EQ(waitState(svc, PL_SVC_RUNNING, 5000), static_cast<uint32_t>(PL_SVC_RUNNING));
  EXPECT_NE(agentLog().find("ACS-NOTICESTOP"), std::string::npos) << agentLog();

  // Once the agent takes stops again, a requester's stop ends the daemon
  // and the service with it.
  ASSERT_TRUE(tk_write(in.at("agent/config/scripted_agent.txt"), "answer OK\n"));
  std::string reply = tk_request(agentPort, "TALVAgent-STOP\r\n");
  EXPECT_NE(reply.find("TALVAgent-STOPPED"), std::string::npos) << reply;
  EXPECT_EQ(waitState(svc, PL_SVC_STOPPED, 30000), static_cast<uint32_t>(PL_SVC_STOPPED)) << log();
  pl_sc_close(svc);
}

} // namespace
