// The service manager stand-in, driven as a controlling program does,
// with the probe service behind it.
#include <gtest/gtest.h>
#include <string>

#include "platform/clock.h"
#include "platform/procinfo.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "testkit.h"

namespace {

struct StandIn : ::testing::Test {
  TkScratch s;
  PlScHandle scm = nullptr;
  std::string log;

  void SetUp() override {
    pl_setenv("TOVX_REGISTRY", s.path("registry").c_str());
    pl_setenv("TOVX_SCM_RUN", s.path("run").c_str());
    pl_setenv("TOVX_SCM_START_LIMIT_MS", "3000");
    log = s.path("probe.log");
    ASSERT_EQ(pl_scm_open(&scm), 0);
  }
  void TearDown() override { pl_sc_close(scm); }

  PlScHandle create(const std::string &image) {
    PlServiceDef d = {"Probe", "Probe service", PL_SVC_WIN32_OWN_PROCESS, PL_SVC_DEMAND_START,
                      PL_SVC_ERROR_NORMAL, image.c_str()};
    PlScHandle h = nullptr;
    EXPECT_EQ(pl_svc_create(scm, &d, &h), 0);
    return h;
  }
  std::string probe(const char *mode) { return "\"" + tk_bin("svc_probe") + "\" " + mode; }
  uint32_t waitState(PlScHandle h, uint32_t state, PlServiceStatus *st) {
    for (int i = 0; i < 200; ++i) {
      EXPECT_EQ(pl_svc_query(h, st), 0);
      if (st->current_state == state)
        break;
      pl_sleep_ms(25);
    }
    return st->current_state;
  }
};

TEST_F(StandIn, ADispatcherOutsideTheManagerFailsAtOnce) {
  TkResult r = tk_run(s, {tk_bin("svc_probe"), "dispatch"}, "", {});
  EXPECT_EQ(r.out, "1063\n");
}

TEST_F(StandIn, AServiceLivesThroughStartControlsAndStop) {
  PlScHandle h = create(probe(("run " + log).c_str()));
  PlServiceStatus st;
  ASSERT_EQ(pl_svc_query(h, &st), 0);
  EXPECT_EQ(st.current_state, static_cast<uint32_t>(PL_SVC_STOPPED));

  const char *args[] = {"-nno"};
  ASSERT_EQ(pl_svc_start(h, 1, args), 0);
  ASSERT_EQ(waitState(h, PL_SVC_RUNNING, &st), static_cast<uint32_t>(PL_SVC_RUNNING));
  EXPECT_EQ(pl_svc_start(h, 0, nullptr), PL_SVC_ERR_ALREADY_RUNNING);

  ASSERT_EQ(pl_svc_control(h, PL_SVC_CONTROL_INTERROGATE, &st), 0);
  EXPECT_EQ(st.current_state, static_cast<uint32_t>(PL_SVC_RUNNING));
  EXPECT_EQ(pl_svc_control(h, PL_SVC_CONTROL_SHUTDOWN, &st), PL_SVC_ERR_INVALID_SERVICE_CONTROL)
      << "shutdown was not among the accepted controls";

  ASSERT_EQ(pl_svc_control(h, PL_SVC_CONTROL_STOP, &st), 0);
  EXPECT_EQ(st.current_state, static_cast<uint32_t>(PL_SVC_STOP_PENDING)) << "the handler's report comes first";
  ASSERT_EQ(waitState(h, PL_SVC_STOPPED, &st), static_cast<uint32_t>(PL_SVC_STOPPED));
  EXPECT_EQ(st.win32_exit_code, static_cast<uint32_t>(PL_SVC_ERR_SPECIFIC));
  EXPECT_EQ(st.service_exit_code, 7u);
  EXPECT_EQ(pl_svc_control(h, PL_SVC_CONTROL_STOP, &st), PL_SVC_ERR_NOT_ACTIVE);
  EXPECT_EQ(tk_read(log), "start [Probe] [-nno]\ncontrol 4\ncontrol 1\nstopped\n");

  ASSERT_EQ(pl_svc_delete(h), 0);
  pl_sc_close(h);
  EXPECT_EQ(pl_svc_open(scm, "probe", &h), PL_SVC_ERR_DOES_NOT_EXIST);
}

TEST_F(StandIn, AProgramThatNeverDispatchesTimesOut) {
  pl_setenv("TOVX_SCM_START_LIMIT_MS", "500");
  PlScHandle h = create(probe("stall"));
  EXPECT_EQ(pl_svc_start(h, 0, nullptr), PL_SVC_ERR_REQUEST_TIMEOUT);
  PlServiceStatus st;
  ASSERT_EQ(pl_svc_query(h, &st), 0);
  EXPECT_EQ(st.current_state, static_cast<uint32_t>(PL_SVC_STOPPED));
  pl_svc_delete(h);
  pl_sc_close(h);
}

TEST_F(StandIn, ARunningServiceIsDeletedWhenItStops) {
  PlScHandle h = create(probe(("run " + log).c_str()));
  ASSERT_EQ(pl_svc_start(h, 0, nullptr), 0);
  PlServiceStatus st;
  ASSERT_EQ(waitState(h, PL_SVC_RUNNING, &st), static_cast<uint32_t>(PL_SVC_RUNNING));
  ASSERT_EQ(pl_svc_delete(h), 0);
  EXPECT_EQ(pl_svc_delete(h), PL_SVC_ERR_MARKED_FOR_DELETE);
  PlServiceDef d = {"PROBE", nullptr, PL_SVC_WIN32_OWN_PROCESS, PL_SVC_DEMAND_START, PL_SVC_ERROR_NORMAL, "x"};
  PlScHandle other = nullptr;
  EXPECT_EQ(pl_svc_create(scm, &d, &other), PL_SVC_ERR_MARKED_FOR_DELETE);
  ASSERT_EQ(pl_svc_control(h, PL_SVC_CONTROL_STOP, &st), 0);
  ASSERT_EQ(waitState(h, PL_SVC_STOPPED, &st), static_cast<uint32_t>(PL_SVC_STOPPED));
  int rc = 0;
  for (int i = 0; i < 100 && rc != PL_SVC_ERR_DOES_NOT_EXIST; ++i) {
    PlScHandle again = nullptr;
    rc = pl_svc_open(scm, "Probe", &again);
    pl_sc_close(again);
    pl_sleep_ms(20);
  }
  EXPECT_EQ(rc, PL_SVC_ERR_DOES_NOT_EXIST);
  pl_sc_close(h);
}

TEST_F(StandIn, DefinitionsLiveInTheRegistry) {
  PlScHandle h = create("\"/no/such/program\" -x");
  PlServiceDef d = {"Probe", nullptr, PL_SVC_WIN32_OWN_PROCESS, PL_SVC_AUTO_START, PL_SVC_ERROR_NORMAL, "y"};
  PlScHandle dup = nullptr;
  EXPECT_EQ(pl_svc_create(scm, &d, &dup), PL_SVC_ERR_EXISTS);
  d.name = "a\\b";
  EXPECT_EQ(pl_svc_create(scm, &d, &dup), PL_SVC_ERR_INVALID_NAME);
  EXPECT_EQ(pl_svc_start(h, 0, nullptr), PL_SVC_ERR_FILE_NOT_FOUND);

  ASSERT_EQ(pl_svc_change_config(h, "\"/other\"", "Shown"), 0);
  ASSERT_EQ(pl_svc_set_description(h, "Does things."), 0);
  PlServiceConfig c;
  ASSERT_EQ(pl_svc_query_config(h, &c), 0);
  EXPECT_STREQ(c.image_path, "\"/other\"");
  EXPECT_STREQ(c.display_name, "Shown");
  EXPECT_EQ(c.start_type, static_cast<uint32_t>(PL_SVC_DEMAND_START));
  EXPECT_EQ(c.type, static_cast<uint32_t>(PL_SVC_WIN32_OWN_PROCESS));

  PlHkey k;
  ASSERT_EQ(pl_reg_open(pl_reg_root(PL_HKLM), "SYSTEM\\CurrentControlSet\\Services\\Probe", PL_REG_READ, &k), 0);
  char text[64];
  uint32_t type = 0, len = sizeof text;
  ASSERT_EQ(pl_reg_query_value(k, "Description", &type, text, &len), 0);
  EXPECT_STREQ(text, "Does things.");
  pl_reg_close(k);
  pl_svc_delete(h);
  pl_sc_close(h);
}

} // namespace
