// SystemRequest over an open display: the display is marked while the requester holds the script
// and is redrawn when it closes, with the answer from a script of requester answers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "fixtures/temp_path.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "vm/vm.h"

namespace qv {
namespace {

TEST(SystemRequestTest, TheDisplayUnderTheRequesterIsRedrawnWhenItCloses) {
  ConfigureHeadlessScreen(qvScreenSetup{});
  qvScriptState* L = VmOpenState(CoreVmHost());
  SetProcessVm(L);
  ASSERT_EQ(OpenLibrary(L, kSystemLibrary), 0);
  ASSERT_EQ(OpenLibrary(L, kDisplayLibrary), 0);
  qvDisplay* display = test::OpenCurrentDisplay(L, {{"width", 8}, {"height", 4}, {"color", 255}});
  ASSERT_NE(display, nullptr);

  std::string script = qvtest::TempPath("requester_answers.txt");
  std::ofstream(script) << "1\n";
  setenv("QUILLVANE_REQUESTER_SCRIPT", script.c_str(), 1);
  FillWindowRect(display->window, 0, 0, 8, 4, 0x123456);
  VmPushString(L, "systemrequest");
  VmGetTable(L, kGlobalsIndex);
  for (const char* arg : {"title", "body", "Yes|No"}) VmPushString(L, arg);
  ASSERT_EQ(VmPCall(L, 3, 1, 0), 0);
  EXPECT_EQ(VmToNumber(L, -1), 1);
  unsetenv("QUILLVANE_REQUESTER_SCRIPT");
  std::remove(script.c_str());
  EXPECT_EQ(display->requesterOpen, 0);
  EXPECT_EQ(test::WindowPixel(display, 9), 255u);

  FreeDisplaySubsystem(L);
  FreeRegistries();
  SetProcessVm(nullptr);
  VmCloseState(L);
}

}  // namespace
}  // namespace qv
