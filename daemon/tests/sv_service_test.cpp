// The service mode's control handler, status record and stop-request
// cell, called as the service manager and the watch loop call them.
#include "daemon_fixture.h"
#include "platform/service.h"

namespace {

using ServiceMode = InstallTree;

size_t count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
    ++n;
  return n;
}

TEST_F(ServiceMode, ControlsReachTheStopCellAndTheRecord) {
  SetServiceState(PL_SVC_RUNNING, 0, 0, 0, 0);
  ServiceControlForTest(PL_SVC_CONTROL_INTERROGATE);
  EXPECT_EQ(count(log(), "XVRT62015-I The service status was changed. ServiceStatus=4.\n"), 2u)
      << "the report and the interrogation";
  EXPECT_EQ(ExchangeStopRequest(0), 0) << "an interrogation requests nothing";

  for (uint32_t control : {PL_SVC_CONTROL_STOP, PL_SVC_CONTROL_SHUTDOWN}) {
    ServiceControlForTest(control);
    const PlServiceStatus *st = GetServiceStatusForTest();
    EXPECT_EQ(st->current_state, static_cast<uint32_t>(PL_SVC_STOP_PENDING));
    EXPECT_EQ(st->wait_hint, 60000u);
    // A second stop while one is pending stores the request again.
    ServiceControlForTest(control);
    EXPECT_EQ(ExchangeStopRequest(0), TCPSERV_ASYNC_STOP_SAFE);
    EXPECT_EQ(ExchangeStopRequest(0), 0) << "the poll clears the cell";
  }
  EXPECT_EQ(count(log(), "ServiceStatus=3.\n"), 4u);
}

TEST_F(ServiceMode, ARefusedStopReportsRunningAgain) {
  ServiceControlForTest(PL_SVC_CONTROL_STOP);
  SetAsyncStopResultForTest(0);
  EXPECT_EQ(GetServiceStatusForTest()->current_state, static_cast<uint32_t>(PL_SVC_RUNNING));
  EXPECT_EQ(GetServiceStatusForTest()->wait_hint, 0u);
  std::string l = log();
  EXPECT_NE(l.find("XVRT62005-I The tovx_service service was not stopped.\n2009/04/20 01:20:29 : XVRT62015-I The service status was changed. ServiceStatus=4.\n"), std::string::npos) << l;
  SetAsyncStopResultForTest(1);
  EXPECT_EQ(count(log(), "XVRT62005-I"), 1u) << "a completed stop is reported by the main routine";
  ExchangeStopRequest(0);
}

} // namespace
