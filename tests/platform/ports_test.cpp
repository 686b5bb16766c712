#include <unistd.h>

#include <string>

#include "platform/os/errors.h"
#include "tests/platform/fixture.h"

using namespace qv;

namespace {
std::string lastErrorText;
void KeepErrorText(const char* text) { lastErrorText = text; }
}  // namespace

TEST_F(PlatformTest, MessageFromAnotherProcessArrivesIntact) {
  std::string port = "qvtest port " + std::to_string(getpid());
  ASSERT_EQ(SetPortName(port.c_str()), 0);
  int status = -1;
  std::string args = "send \"" + port + "\" \"hello, \xe4 world\"";
  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, args.c_str(), 0, &status), 0);
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
  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, missing.c_str(), 0, &status), 0);
  EXPECT_EQ(status, 1);
}

TEST_F(PlatformTest, UnknownPortAndOwnPort) {
  SetErrorTextHandler(KeepErrorText);
  std::string port = "qvtest own " + std::to_string(getpid());
  std::string unknown = "qvtest unknown " + std::to_string(getpid());
  EXPECT_EQ(SendPortMessage(unknown.c_str(), "x"), perr::ERR_FINDPORT);
  EXPECT_EQ(lastErrorText, unknown);
  ASSERT_EQ(SetPortName(port.c_str()), 0);
  EXPECT_EQ(SendPortMessage(port.c_str(), "x"), perr::ERR_WRONGUSAGE);
  // Renaming the port: messages to the old name find nobody.
  ASSERT_EQ(SetPortName((port + " new").c_str()), 0);
  int status = -1;
  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, ("send \"" + port + "\" x").c_str(), 0, &status), 0);
  EXPECT_EQ(status, 1);
  SetErrorTextHandler(nullptr);
}
