// The network library in process: IsOnline against a loopback listener, the teardown of every
// kind of object, and the script's End flag ending a transfer's wait at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "core/transfer.h"
#include "libs/libraries.h"
#include "libs/network/network.h"
#include "platform/sockets.h"
#include "tests/network/peer.h"
#include "vm/vm.h"

namespace qv {
namespace {

class NetworkLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    ASSERT_NE(L, nullptr);
    SetProcessVm(L);
    ASSERT_EQ(OpenLibrary(L, kNetworkLibrary), 0);
  }
  void TearDown() override {
    FreeNetworkLibrary();
    FreeRegistries();
    VmCloseState(L);
    SetProcessVm(nullptr);
  }

  struct Call {
    const char* name;
    std::vector<double> numbers;  // arguments after the texts
    std::vector<std::string> texts;
    double result = 0;
  };
  // Calls a command with its first number (when it has texts or other numbers too), its texts,
  // then its other numbers; returns the call's status and its first result in call->result.
  int32_t Run(Call* call) {
    return VmRunProtected(
        L,
        [](qvScriptState* L, void* arg) {
          auto* c = static_cast<Call*>(arg);
          VmPushString(L, c->name);
          VmGetTable(L, kGlobalsIndex);
          int n = 0;
          size_t first = 0;
          if (!c->numbers.empty() && c->texts.size() + c->numbers.size() > 1) {
            VmPushNumber(L, c->numbers[0]);
            ++n;
            first = 1;
          }
          for (const auto& t : c->texts) VmPushString(L, t.c_str()), ++n;
          for (size_t i = first; i < c->numbers.size(); ++i) VmPushNumber(L, c->numbers[i]), ++n;
          VmCall(L, n, 1);
          c->result = VmToNumber(L, -1);
        },
        call);
  }

  qvScriptState* L = nullptr;
};

TEST_F(NetworkLibraryTest, IsOnlineTriesItsProbeHost) {
  int32_t s = -1;
  ASSERT_EQ(CreateSocket(&s, false), 0);
  ASSERT_EQ(BindSocket(s, {0x7F000001, 0}), 0);
  ASSERT_EQ(ListenSocket(s, 4), 0);
  qvSockAddr local;
  ASSERT_EQ(GetSocketLocal(s, &local), 0);
  SetOnlineProbe("127.0.0.1", local.port);
  Call online{"isonline"};
  ASSERT_EQ(Run(&online), 0);
  EXPECT_EQ(online.result, 1);
  CloseSocketHandle(&s);
  ASSERT_EQ(Run(&online), 0);
  EXPECT_EQ(online.result, 0);
}

TEST_F(NetworkLibraryTest, TeardownClosesEveryObject) {
  Call server{"createserver", {1, 0}, {}};
  ASSERT_EQ(Run(&server), 0);
  Call port{"getlocalport", {1, 's'}, {}};
  ASSERT_EQ(Run(&port), 0);
  ASSERT_GT(port.result, 0);
  Call client{"openconnection", {2, port.result}, {"127.0.0.1"}};
  ASSERT_EQ(Run(&client), 0);
  Call udp{"createudpobject", {3, 0}, {}};
  ASSERT_EQ(Run(&udp), 0);
  EXPECT_EQ(CountObjects(kObjectServer), 1);
  EXPECT_EQ(CountObjects(kObjectClient), 1);
  EXPECT_EQ(CountObjects(kObjectUdpObject), 1);
  // A second object of the same number replaces the first.
  ASSERT_EQ(Run(&udp), 0);
  EXPECT_EQ(CountObjects(kObjectUdpObject), 1);
  FreeNetworkLibrary();
  EXPECT_EQ(CountObjects(kObjectServer), 0);
  EXPECT_EQ(CountObjects(kObjectClient), 0);
  EXPECT_EQ(CountObjects(kObjectUdpObject), 0);
}

TEST_F(NetworkLibraryTest, TheEndFlagEndsATransferWait) {
  testing::Peer peer;
  ASSERT_TRUE(peer.Start({testing::PeerScript("http_peer.py")}));
  qvNetContext ctx;
  InitNetContext(&ctx, L, 10000);
  VmSetEndFlag(L, 1);
  qvTransferOptions options;
  options.url = peer.Url("http", "/silent");
  qvTransferResult result;
  int64_t start = SocketClockMs();
  EXPECT_EQ(RunTransfer(&ctx, options, &result), ERR_USERABORT);
  EXPECT_LT(SocketClockMs() - start, 1000);
  VmSetEndFlag(L, 0);
}

}  // namespace
}  // namespace qv
