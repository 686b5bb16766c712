// The system library's services in a running player where the environment is the point: zenity
// and xdg-open stand-ins on PATH that log their arguments, and the registry across two runs.
#include <sys/stat.h>

#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

// Logs its arguments, one "[argument]" a line after a "---" line, then answers with the next line
// of answers.txt, "STATUS:OUTPUT" (OUTPUT printed with its escapes when not empty).
constexpr char kStandIn[] = R"(#!/bin/sh
dir=$(dirname "$0")/..
log="$dir/$(basename "$0")-args.txt"
echo --- >> "$log"
for a in "$@"; do printf '[%s]\n' "$a" >> "$log"; done
n=$(cat "$dir/count" 2>/dev/null || echo 0); n=$((n + 1)); echo $n > "$dir/count"
line=$(sed -n "${n}p" "$dir/answers.txt")
out=${line#*:}
[ -n "$out" ] && printf '%b\n' "$out"
exit "${line%%:*}"
)";

class SystemServicesTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    std::filesystem::create_directory(Path("bin"));
    unsetEnv_ = {"WAYLAND_DISPLAY", "QUILLVANE_REQUESTER_SCRIPT", "QUILLVANE_REQUESTER_LOG"};
    env_ = {"PATH=" + Path("bin") + ":/usr/bin:/bin", "DISPLAY=:99",
            "XDG_CONFIG_HOME=" + Path("config")};
  }
  void StandIn(const std::string& name) {
    WriteFile("bin/" + name, kStandIn);
    chmod(Path("bin/" + name).c_str(), 0755);
  }
  PlayerRun RunApplet(const std::string& text) {
    WriteFile("main.qva", Applet(text));
    return Run({"main.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
  }
};

TEST_F(SystemServicesTest, ZenityGetsEveryTextAsOneArgumentAndItsAnswersMapBack) {
  StandIn("zenity");
  WriteFile("answers.txt",
            "1:No\n0:\n1:\n5:\n"
            "0:/data/a.png\\n/data/b.jpg\n0:/tmp/out.txt\n0:Alice\n0:1\n0:rgb(0,128,255)\n1:\n");
  PlayerRun r = RunApplet(R"qv(
.function main
  GETGLOBAL R0, "debugprint"
  GETGLOBAL R1, "systemrequest"
  LOADCONST R2, "Quit; $(touch hacked)"
  LOADCONST R3, "Body `touch hacked` <b>&amp;</b>"
  LOADCONST R4, "Yes|No|Maybe"
  CALL R1, nargs=3, nres=1
  GETGLOBAL R2, "systemrequest"
  LOADCONST R3, "Again"
  LOADCONST R4, "Body"
  LOADCONST R5, "Yes|No|Maybe"
  CALL R2, nargs=3, nres=1
  GETGLOBAL R3, "systemrequest"
  LOADCONST R4, "Again"
  LOADCONST R5, "Body"
  LOADCONST R6, "Yes|No|Maybe"
  CALL R3, nargs=3, nres=1
  GETGLOBAL R4, "systemrequest"
  LOADCONST R5, "Broken"
  LOADCONST R6, "Body"
  LOADCONST R7, "OK|Cancel"
  CALL R4, nargs=3, nres=1
  CALL R0, nargs=4, nres=0
  GETGLOBAL R0, "filerequest"
  LOADCONST R1, "Open"
  LOADCONST R2, "png|.jpg"
  LOADCONST R3, 1
  LOADCONST R4, "/data"
  CALL R0, nargs=4, nres=1
  GETGLOBAL R1, "debugprint"
  GETTABLE R2, R0, 0
  GETTABLE R3, R0, 1
  GETTABLE R4, R0, 2
  CALL R1, nargs=3, nres=0
  GETGLOBAL R0, "debugprint"
  GETGLOBAL R1, "filerequest"
  LOADCONST R2, "Save"
  LOADCONST R3, "txt"
  LOADCONST R4, 2
  LOADCONST R5, "/tmp"
  LOADCONST R6, "out.txt"
  CALL R1, nargs=5, nres=1
  GETGLOBAL R2, "stringrequest"
  LOADCONST R3, "Name"
  LOADCONST R4, "Who?"
  LOADCONST R5, "Bob"
  LOADCONST R6, 0
  LOADCONST R7, 0
  LOADCONST R8, 1
  CALL R2, nargs=6, nres=1
  GETGLOBAL R3, "listrequest"
  LOADCONST R4, "Pick"
  LOADCONST R5, "One"
  NEWTABLE R6, 0, 0
  SETTABLE R6, 0, "-a"
  SETTABLE R6, 1, "b"
  CALL R3, nargs=3, nres=1
  GETGLOBAL R4, "colorrequest"
  LOADCONST R5, "Colour"
  LOADCONST R6, 0xFF8000
  CALL R4, nargs=2, nres=1
  GETGLOBAL R5, "pathrequest"
  LOADCONST R6, "Where"
  LOADCONST R7, 0
  LOADCONST R8, "/srv"
  CALL R5, nargs=3, nres=1
  CALL R0, nargs=5, nres=0
  RETURN R0, 1
.end
)qv");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile("debug.txt"),
            "2 1 0 0\n/data/a.png /data/b.jpg \n/tmp/out.txt Alice 1 33023 \n");
  EXPECT_FALSE(Exists("hacked"));
  EXPECT_EQ(ReadFile("zenity-args.txt"),
            "---\n[--question]\n[--no-markup]\n[--title=Quit; $(touch hacked)]\n"
            "[--text=Body `touch hacked` <b>&amp;</b>]\n[--ok-label=Yes]\n[--cancel-label=Maybe]\n"
            "[--extra-button=No]\n"
            "---\n[--question]\n[--no-markup]\n[--title=Again]\n[--text=Body]\n[--ok-label=Yes]\n"
            "[--cancel-label=Maybe]\n[--extra-button=No]\n"
            "---\n[--question]\n[--no-markup]\n[--title=Again]\n[--text=Body]\n[--ok-label=Yes]\n"
            "[--cancel-label=Maybe]\n[--extra-button=No]\n"
            "---\n[--question]\n[--no-markup]\n[--title=Broken]\n[--text=Body]\n[--ok-label=OK]\n"
            "[--cancel-label=Cancel]\n"
            "---\n[--file-selection]\n[--title=Open]\n[--multiple]\n[--separator=\n]\n"
            "[--filename=/data/]\n[--file-filter=Files | *.png *.jpg]\n"
            "[--file-filter=All files | *]\n"
            "---\n[--file-selection]\n[--title=Save]\n[--save]\n[--confirm-overwrite]\n"
            "[--filename=/tmp/out.txt]\n[--file-filter=Files | *.txt]\n"
            "[--file-filter=All files | *]\n"
            "---\n[--entry]\n[--title=Name]\n[--text=Who?]\n[--entry-text=Bob]\n[--hide-text]\n"
            "---\n[--list]\n[--title=Pick]\n[--text=One]\n[--column=Index]\n[--column=Entry]\n"
            "[--hide-column=1]\n[--print-column=1]\n[--hide-header]\n[--]\n[0]\n[-a]\n[1]\n[b]\n"
            "---\n[--color-selection]\n[--title=Colour]\n[--color=rgb(255,128,0)]\n"
            "---\n[--file-selection]\n[--directory]\n[--title=Where]\n[--filename=/srv/]\n");
}

TEST_F(SystemServicesTest, OpenUrlHandsTheAddressToXdgOpenAsOneArgument) {
  StandIn("xdg-open");
  WriteFile("answers.txt", "0:\n");
  PlayerRun r = RunApplet(R"qv(
.function main
  GETGLOBAL R0, "openurl"
  LOADCONST R1, "https://example.org/a b?c=1&d=$(touch hacked)"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "wait"
  LOADCONST R1, 300
  LOADCONST R2, 1
  CALL R0, nargs=2, nres=0
  RETURN R0, 1
.end
)qv");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile("xdg-open-args.txt"),
            "---\n[https://example.org/a b?c=1&d=$(touch hacked)]\n");
  EXPECT_FALSE(Exists("hacked"));
}

TEST_F(SystemServicesTest, RegistryValuesLastFromOneRunToTheNext) {
  PlayerRun r = RunApplet(R"qv(
.function main
  GETGLOBAL R0, "writeregistrykey"
  LOADCONST R1, 4
  LOADCONST R2, "Software\\Quillvane\\Test/Count"
  LOADCONST R3, 41.5
  CALL R0, nargs=3, nres=0
  GETGLOBAL R0, "writeregistrykey"
  LOADCONST R1, 4
  LOADCONST R2, "Software/Quillvane/Test/Name"
  LOADCONST R3, "Hello, world"
  CALL R0, nargs=3, nres=0
  GETGLOBAL R0, "writeregistrykey"
  LOADCONST R1, 2
  LOADCONST R2, "Software/Quillvane/Test/Name"
  LOADCONST R3, "machine"
  CALL R0, nargs=3, nres=0
  RETURN R0, 1
.end
)qv");
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunApplet(R"qv(
.function main
  GETGLOBAL R0, "debugprint"
  GETGLOBAL R1, "readregistrykey"
  LOADCONST R2, 4
  LOADCONST R3, "software/quillvane/test/count"
  CALL R1, nargs=2, nres=1
  GETGLOBAL R2, "readregistrykey"
  LOADCONST R3, 4
  LOADCONST R4, "Software/Quillvane/Test/Name"
  CALL R2, nargs=2, nres=1
  GETGLOBAL R3, "readregistrykey"
  LOADCONST R4, 2
  LOADCONST R5, "Software/Quillvane/Test/Name"
  CALL R3, nargs=2, nres=1
  CALL R0, nargs=3, nres=0
  GETGLOBAL R0, "readregistrykey"
  LOADCONST R1, 0
  LOADCONST R2, "Software/Quillvane/Test/Name"
  CALL R0, nargs=2, nres=0
  RETURN R0, 1
.end
)qv");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile("debug.txt"),
            "42 Hello, world machine\n"
            "@_qverror-1:---*Error reading from registry key Software/Quillvane/Test/Name!\n");
}

TEST_F(SystemServicesTest, LanguageAndCountryFollowTheLocaleVariables) {
  struct Case {
    const char* lang;
    const char* expected;
  } cases[] = {
      {"de_DE.UTF-8", "1 9\n"}, {"el_GR.UTF-8", "13 12\n"}, {"en_US", "0 1\n"},
      {"pt_BR", "6 5\n"},       {"nb_NO.UTF-8", "10 21\n"}, {"C", "18 38\n"},
  };
  unsetEnv_.insert(unsetEnv_.end(), {"LC_ALL", "LC_MESSAGES"});
  for (const Case& c : cases) {
    env_.push_back(std::string("LANG=") + c.lang);
    PlayerRun r = RunApplet(R"qv(
.function main
  GETGLOBAL R0, "debugprint"
  GETGLOBAL R1, "getsystemlanguage"
  CALL R1, nargs=0, nres=1
  GETGLOBAL R2, "getsystemcountry"
  CALL R2, nargs=0, nres=1
  CALL R0, nargs=2, nres=0
  RETURN R0, 1
.end
)qv");
    env_.pop_back();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile("debug.txt"), c.expected) << c.lang;
  }
}

}  // namespace
}  // namespace qv::testing
