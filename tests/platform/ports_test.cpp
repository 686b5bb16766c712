#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "base/errors.h"
#include "platform/os/ipc.h"
#include "tests/platform/fixture.h"

using namespace qv;

TEST_F(PlatformTest, MessageFromAnotherProcessArrivesIntact) {
  std::string port = "qvtest port " + std::to_string(getpid());
  ASSERT_EQ(SetPortName(port.c_str()), 0);
  int status = -1;
  std::string args = "send \"" + port + "\" \"hello, \xe4 world\"";
  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, args.c_str(), RunMode::kWait, &status), 0);
  EXPECT_EQ(status, 0);

  char* data = nullptr;
  size_t size = 0;
  qvPortMessage* message = TakePortMessage(&data, &size);
  ASSERT_NE(message, nullptr);
  std::string expected = port + std::string(1, '\0') + "hello, \xe4 world" + std::string(1, '\0');
  EXPECT_EQ(std::string(data, size), expected);
  std::free(message);
  EXPECT_EQ(TakePortMessage(&data, &size), nullptr);

  // From the other side: nobody has this port.
  std::string missing = "send \"qvtest nobody " + std::to_string(getpid()) + "\" x";
  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, missing.c_str(), RunMode::kWait, &status), 0);
  EXPECT_EQ(status, 1);
}

TEST_F(PlatformTest, UnknownPortAndOwnPort) {
  std::string port = "qvtest own " + std::to_string(getpid());
  std::string unknown = "qvtest unknown " + std::to_string(getpid());
  EXPECT_EQ(SendPortMessage(unknown.c_str(), "x"), ERR_FINDPORT);
  EXPECT_EQ(std::string(GetErrorString()), unknown);
  ASSERT_EQ(SetPortName(port.c_str()), 0);
  EXPECT_EQ(SendPortMessage(port.c_str(), "x"), ERR_WRONGUSAGE);
  EXPECT_EQ(SendPortMessage(nullptr, "x"), ERR_WRONGUSAGE);
  EXPECT_EQ(SendPortMessage(unknown.c_str(), nullptr), ERR_WRONGUSAGE);
  // Renaming the port: messages to the old name find nobody.
  ASSERT_EQ(SetPortName((port + " new").c_str()), 0);
  int status = -1;
  std::string args = "send \"" + port + "\" x";
  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, args.c_str(), RunMode::kWait, &status), 0);
  EXPECT_EQ(status, 1);
}

// Records that other processes send are checked before anything is allocated or queued.
TEST_F(PlatformTest, MalformedPortRecordsAreRefused) {
  std::string port = "qvtest raw " + std::to_string(getpid());
  ASSERT_EQ(SetPortName(port.c_str()), 0);
  std::string socket = PlayerRuntimeDir() + "/port-" + std::to_string(getpid());
  auto offer = [&](uint32_t size, const std::string& block) {
    int fd = ConnectUnix(socket);
    if (fd < 0) return -1;
    char answer = -1;
    SendAll(fd, &size, sizeof size, 1000);
    if (!block.empty()) SendAll(fd, block.data(), block.size(), 1000);
    shutdown(fd, SHUT_WR);
    ReceiveAll(fd, &answer, 1, 5000);
    close(fd);
    return static_cast<int>(answer);
  };
  const std::string z(1, '\0');
  struct Case {
    uint32_t size;
    std::string block;
  } cases[] = {
      {0, ""},                                                    // empty
      {0xfffffff0u, "x"},                                         // far too large: never allocated
      {5, "abc"},                                                 // shorter than announced
      {static_cast<uint32_t>(port.size() + 1), port + z},         // no text part
      {static_cast<uint32_t>(port.size() + 3), port + z + "xy"},  // text not terminated
      {6, "other" + z},                                           // another port's name only
      {8, "oth" + z + "msg" + z},                                 // another port
  };
  for (const Case& c : cases) EXPECT_EQ(offer(c.size, c.block), 0) << c.block.size();
  char* data;
  size_t size;
  EXPECT_EQ(TakePortMessage(&data, &size), nullptr);
  std::string good = port + z + "ok" + z;
  EXPECT_EQ(offer(static_cast<uint32_t>(good.size()), good), 1);
  qvPortMessage* message = TakePortMessage(&data, &size);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(std::string(data, size), good);
  std::free(message);
}
