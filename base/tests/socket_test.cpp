#include <gtest/gtest.h>
#include <string>

#include "mwa_socket.h"
#include "sv_error.h"

namespace {

struct Loopback : ::testing::Test {
  PlSocket listener = MWA_INVALID_SOCKET;
  void SetUp() override { ASSERT_EQ(pl_net_startup(), 0); }
  void TearDown() override {
    if (listener != MWA_INVALID_SOCKET)
      mwa_closesocket(listener);
  }
  // A listener on an unused loopback port of the family.
  bool listenOn(int family, MwaSockAddr *addr) {
    listener = mwa_socket(family);
    if (listener == MWA_INVALID_SOCKET)
      return false;
    if (family == PL_AF_INET)
      mwa_setloopback4(addr, 0);
    else if (mwa_getloopback6(addr, 0) != 0)
      return false;
    if (mwa_bind(listener, addr) != 0 || mwa_listen(listener, 5) != 0)
      return false;
    int port = pl_sock_port(listener);
    if (family == PL_AF_INET)
      mwa_setloopback4(addr, port);
    else
      mwa_getloopback6(addr, port);
    return true;
  }
};

TEST_F(Loopback, TrafficBothWaysAndThePeersClose) {
  MwaSockAddr addr;
  ASSERT_TRUE(listenOn(PL_AF_INET, &addr));
  EXPECT_EQ(pl_sock_inheritable(listener), 0) << "kept from child processes";
  PlSocket client = mwa_socket(PL_AF_INET);
  ASSERT_EQ(mwa_connect(client, &addr), 0);
  bool ready = false;
  ASSERT_EQ(mwa_select(&listener, 1, &ready, 5000), 1);
  EXPECT_TRUE(ready);
  MwaSockAddr peer;
  PlSocket server = mwa_accept(listener, &peer);
  ASSERT_NE(server, MWA_INVALID_SOCKET);
  EXPECT_EQ(pl_sock_inheritable(server), 0);
  char text[128];
  pl_sock_peer_text(server, text, sizeof text);
  EXPECT_STREQ(text, "127.0.0.1");
  ASSERT_EQ(mwa_writesocket(client, "hello", 5), 5);
  char buf[16];
  ASSERT_EQ(mwa_readsocket(server, buf, sizeof buf), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  mwa_closesocket(client);
  EXPECT_EQ(mwa_readsocket(server, buf, sizeof buf), 0) << "the peer has closed";
  ready = true;
  EXPECT_EQ(mwa_select(&listener, 1, &ready, 10), 0) << "nothing waiting";
  EXPECT_FALSE(ready);
  mwa_closesocket(server);
}

TEST_F(Loopback, Ipv6LoopbackWhenTheMachineHasIt) {
  MwaSockAddr addr;
  if (!listenOn(PL_AF_INET6, &addr))
    GTEST_SKIP() << "no IPv6 loopback here";
  PlSocket client = mwa_socket(PL_AF_INET6);
  ASSERT_EQ(mwa_connect(client, &addr), 0);
  MwaSockAddr peer;
  PlSocket server = mwa_accept(listener, &peer);
  ASSERT_NE(server, MWA_INVALID_SOCKET);
  char text[128];
  pl_sock_peer_text(server, text, sizeof text);
  EXPECT_STREQ(text, "::1");
  pl_sock_peer_text(MWA_INVALID_SOCKET, text, sizeof text);
  EXPECT_STREQ(text, "?");
  mwa_closesocket(server);
  mwa_closesocket(client);
}

TEST_F(Loopback, ReceiveTimeLimitTurnsAStallIntoAnError) {
  MwaSockAddr addr;
  ASSERT_TRUE(listenOn(PL_AF_INET, &addr));
  PlSocket client = mwa_socket(PL_AF_INET);
  ASSERT_EQ(mwa_connect(client, &addr), 0);
  MwaSockAddr peer;
  PlSocket server = mwa_accept(listener, &peer);
  ASSERT_EQ(pl_sock_recv_timeout(server, 100), 0);
  char buf[4];
  EXPECT_EQ(mwa_readsocket(server, buf, sizeof buf), -1);
  mwa_closesocket(server);
  mwa_closesocket(client);
}
}
