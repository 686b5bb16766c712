// DownloadFile through the player against the project's loopback HTTP/1.1 peer: the options table
// ("file", and the flags "silentfail", "fail404" and "redirect" each at 0 and at 1), the callback
// with its table and user data stopping the transfer with success, and the message of a silent
// failure.
#include <string>

#include "tests/network/peer.h"
#include "tests/player/player_fixture.h"

using namespace qv::testing;

namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// URL stands for http://127.0.0.1:<port>.
constexpr char kDownload[] = R"(
.function main
  .line 1
  GETGLOBAL R0, "exitonerror"
  LOADCONST R1, 0
  CALL R0, nargs=1, nres=0
  .line 2
  GETGLOBAL R0, "downloadfile"
  LOADCONST R1, "URL/file/blob.bin"
  CALL R0, nargs=1, nres=2
  GETGLOBAL R2, "debugprint"
  LOADCONST R3, "memory:"
  MOVE R4, R1
  GETGLOBAL R5, "strlen"
  MOVE R6, R0
  CALL R5, nargs=1, nres=1
  CALL R2, nargs=3, nres=0
  .line 3
  GETGLOBAL R0, "downloadfile"
  LOADCONST R1, "URL/file/blob.bin"
  NEWTABLE R2, 0, 0
  SETTABLE R2, "file", "copy.bin"
  CALL R0, nargs=2, nres=2
  GETGLOBAL R2, "debugprint"
  LOADCONST R3, "file:"
  MOVE R4, R0
  MOVE R5, R1
  CALL R2, nargs=3, nres=0
  .line 4
  GETGLOBAL R0, "downloadfile"
  LOADCONST R1, "URL/big/1000000"
  LOADNIL R2, R2
  CLOSURE R3, progress
  LOADCONST R4, "my data"
  CALL R0, nargs=4, nres=2
  GETGLOBAL R2, "debugprint"
  LOADCONST R3, "stopped with what came:"
  LOADCONST R4, "no"
  GETGLOBAL R5, "seen"
  EQ 0, R1, R5
  JUMP @differs
  LOADCONST R4, "yes"
differs:
  CALL R2, nargs=2, nres=0
  .line 5
  GETGLOBAL R0, "debugprint"
  GETGLOBAL R1, "downloadfile"
  LOADCONST R2, "gopher://127.0.0.1/"
  NEWTABLE R3, 0, 0
  SETTABLE R3, "silentfail", 1
  CALL R1, nargs=2, nres=all
  CALL R0, nargs=top, nres=0
  .line 6
  GETGLOBAL R0, "downloadfile"
  LOADCONST R1, "URL/status/404"
  NEWTABLE R2, 0, 0
  SETTABLE R2, "fail404", 1
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "fail404:"
  GETGLOBAL R2, "getlasterror"
  CALL R2, nargs=0, nres=1
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "debugprint"
  GETGLOBAL R1, "downloadfile"
  LOADCONST R2, "URL/status/404"
  CALL R1, nargs=1, nres=all
  CALL R0, nargs=top, nres=0
  RETURN R0, 1
  .function progress
    .param "msg"
    .line 20
    GETTABLE R1, R0, "count"
    SETGLOBAL R1, "seen"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "total"
    GETTABLE R4, R0, "userdata"
    CALL R1, nargs=3, nres=0
    LOADCONST R1, 1
    RETURN R1, 2
  .end
.end
)";

// Each flag of the options table at 0 and at 1: 0 is the script's "off". Prints the label, the
// last error and the two results of each download.
constexpr char kFlags[] = R"(
.function main
  .line 1
  GETGLOBAL R0, "exitonerror"
  LOADCONST R1, 0
  CALL R0, nargs=1, nres=0
  CLOSURE R0, try
  .line 2
  MOVE R1, R0
  LOADCONST R2, "redirect 0:"
  LOADCONST R3, "URL/redirect/1"
  LOADCONST R4, "redirect"
  LOADCONST R5, 0
  CALL R1, nargs=4, nres=0
  MOVE R1, R0
  LOADCONST R2, "redirect 1:"
  LOADCONST R3, "URL/redirect/1"
  LOADCONST R4, "redirect"
  LOADCONST R5, 1
  CALL R1, nargs=4, nres=0
  .line 3
  MOVE R1, R0
  LOADCONST R2, "fail404 0:"
  LOADCONST R3, "URL/status/404"
  LOADCONST R4, "fail404"
  LOADCONST R5, 0
  CALL R1, nargs=4, nres=0
  MOVE R1, R0
  LOADCONST R2, "fail404 1:"
  LOADCONST R3, "URL/status/404"
  LOADCONST R4, "fail404"
  LOADCONST R5, 1
  CALL R1, nargs=4, nres=0
  .line 4
  MOVE R1, R0
  LOADCONST R2, "silentfail 0:"
  LOADCONST R3, "gopher://127.0.0.1/"
  LOADCONST R4, "silentfail"
  LOADCONST R5, 0
  CALL R1, nargs=4, nres=0
  MOVE R1, R0
  LOADCONST R2, "silentfail 1:"
  LOADCONST R3, "gopher://127.0.0.1/"
  LOADCONST R4, "silentfail"
  LOADCONST R5, 1
  CALL R1, nargs=4, nres=0
  RETURN R0, 1
  .function try
    .param "label" "url" "key" "value"
    .line 10
    NEWTABLE R4, 0, 0
    SETTABLE R4, R2, R3
    GETGLOBAL R5, "downloadfile"
    MOVE R6, R1
    MOVE R7, R4
    CALL R5, nargs=2, nres=2
    GETGLOBAL R7, "getlasterror"
    CALL R7, nargs=0, nres=1
    GETGLOBAL R8, "debugprint"
    MOVE R9, R0
    MOVE R10, R7
    MOVE R11, R5
    MOVE R12, R6
    CALL R8, nargs=4, nres=0
    RETURN R0, 1
  .end
.end
)";

}  // namespace

TEST_F(PlayerTest, DownloadFileFlagsAreOffAtZeroAndOnAtOne) {
  Peer peer;
  ASSERT_TRUE(peer.Start({PeerScript("http_peer.py"), "--root", dir_}));
  WriteFile("main.qva", Applet(Replace(kFlags, "URL", peer.Url("http", ""))));
  PlayerRun r = Run({"main.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "redirect 0: 0 redirect 1 10\n"
            "redirect 1: 0 done 4\n"
            "fail404 0: 0 status 404 10\n"
            "fail404 1: 1425 Nil Nil\n"
            "silentfail 0: 1416 Nil Nil\n"
            "silentfail 1: 0 Unknown protocol in URL! -1\n");
}

TEST_F(PlayerTest, DownloadFileThroughThePlayer) {
  std::string blob(70000, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7 + i / 256);
  WriteFile("blob.bin", blob);
  Peer peer;
  ASSERT_TRUE(peer.Start({PeerScript("http_peer.py"), "--root", dir_}));
  WriteFile("main.qva", Applet(Replace(kDownload, "URL", peer.Url("http", ""))));
  PlayerRun r = Run({"main.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "memory: 70000 70000\n"
            "file:  70000\n"
            "0 1000000 my data\n"
            "stopped with what came: yes\n"
            "Unknown protocol in URL! -1\n"
            "fail404: 1425\n"
            "status 404 10\n");
  EXPECT_TRUE(ReadFile("copy.bin") == blob);
}
