#include "core/error_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/line_maps.h"
#include "vm/host.h"

using namespace qv;

namespace {

std::string Format(int32_t code, const char* text = "", int32_t number = 0, size_t size = 1024) {
  std::string out(size, '\x7f');
  size_t n = FormatErrorTextWith(code, text, number, out.data(), size);
  EXPECT_LT(n, size);
  EXPECT_EQ(out[n], 0);
  out.resize(n);
  return out;
}

}  // namespace

TEST(ErrorTable, NamesCoverEveryBuiltInCode) {
  auto names = ErrorNames();
  ASSERT_EQ(names.size(), 506u);
  EXPECT_EQ(names[0].code, 0);
  EXPECT_STREQ(names[0].name, "ERR_NONE");
  std::set<std::string> seen;
  for (const auto& row : names) {
    EXPECT_EQ(std::strncmp(row.name, "ERR_", 4), 0) << row.name;
    EXPECT_TRUE(seen.insert(row.name).second) << row.name;
  }
  // The numbers that are no built-in code.
  std::set<int32_t> codes;
  for (const auto& row : names) codes.insert(row.code);
  for (int32_t gap : {1249, 1406, 1407, 1408}) EXPECT_EQ(codes.count(gap), 0u) << gap;
  EXPECT_EQ(codes.count(1508), 1u);
}

TEST(ErrorTable, TextIdsPointAtTexts) {
  EXPECT_EQ(ErrorTextId(ERR_OPENFONT), -1);
  EXPECT_EQ(ErrorTextId(ERR_ERRORCALLED), -1);
  EXPECT_EQ(ErrorTextId(ERR_UNKNOWN), kTextUnknownError);
  EXPECT_EQ(ErrorTextId(ERR_CONFIG2), ErrorTextId(ERR_CONFIG));
  EXPECT_EQ(ErrorTextId(1249), kTextUnknownError);
  EXPECT_EQ(ErrorTextId(999), kTextUnknownError);
  std::set<int32_t> used;
  for (const auto& row : ErrorNames()) {
    if (row.code == 0) continue;
    int32_t id = ErrorTextId(row.code);
    if (id < 0) continue;
    EXPECT_LE(id, kLastTextId) << row.name;
    EXPECT_NE(GetBuiltinText(id), nullptr) << row.name;
    if (row.code != ERR_CONFIG2) {
      EXPECT_TRUE(used.insert(id).second) << row.name << " shares a text";
    }
  }
  // The texts that other parts of the player print by id.
  EXPECT_STREQ(GetBuiltinText(kTextDone), "done");
  EXPECT_STREQ(GetBuiltinText(kTextFailed), "failed");
  EXPECT_STREQ(GetBuiltinText(kTextCurrentLine), "current line");
  EXPECT_STREQ(GetBuiltinText(kTextFile), "File");
  EXPECT_STREQ(GetBuiltinText(kTextInFunction), "In function");
  EXPECT_STREQ(GetBuiltinText(kTextCompilingScript), "Compiling script");
  EXPECT_STREQ(GetBuiltinText(kTextOpeningScript), "Opening script %s");
  EXPECT_STREQ(GetBuiltinText(kTextLoadingApplet), "Loading applet %s");
  EXPECT_EQ(GetBuiltinText(kLastTextId + 1), nullptr);
  EXPECT_EQ(GetBuiltinText(-1), nullptr);
}

// Every built-in code gives a sentence, with the stored argument where its text has a place for
// one.
TEST(ErrorTable, EveryCodeFormatsWithItsArgument) {
  for (const auto& row : ErrorNames()) {
    if (row.code == 0) continue;
    std::string message = Format(row.code, "ARGTEXT", 4711);
    EXPECT_FALSE(message.empty()) << row.name;
    if (row.code == ERR_OPENFONT || row.code == ERR_ERRORCALLED) {
      EXPECT_EQ(message, "ARGTEXT");
      continue;
    }
    const char* text = GetBuiltinText(ErrorTextId(row.code));
    ASSERT_NE(text, nullptr) << row.name;
    bool wantsText = std::strstr(text, "%s") != nullptr;
    bool wantsNumber = !wantsText && std::strstr(text, "%ld");
    EXPECT_EQ(message.find("ARGTEXT") != std::string::npos, wantsText) << row.name;
    EXPECT_EQ(message.find("4711") != std::string::npos, wantsNumber) << row.name;
    EXPECT_EQ(message.find('%'), std::string::npos) << row.name << ": " << message;
  }
}

TEST(ErrorTable, TellingRows) {
  struct Case {
    int32_t code;
    const char* text;
    int32_t number;
    const char* want;
  } cases[] = {
      {ERR_MEM, "", 0, "Out of memory!"},
      {ERR_USERABORT, "", 0, "User abort!"},
      {ERR_MISSINGPARAMTR, "", 0, "Not enough arguments!"},
      {ERR_SYNTAXERROR, "", 0, "General syntax error!"},
      {ERR_FINDARRAY, "", 0, "Requested object not found!"},
      {ERR_FINDCST, "", 0, "Constant not found!"},
      {ERR_READFILE, "data.bin", 0, "Cannot read file data.bin !"},
      {ERR_WRITEFILE, "/tmp/out.txt", 0, "Cannot write to file /tmp/out.txt !"},
      {ERR_WRONGUSAGE, "", 0, "Wrong usage/parameters for this command!\nRead the documentation!"},
      {ERR_CONFIG, "", 0, "No script filename specified!"},
      {ERR_ARGS, "", 0, "Wrong arguments specified!"},
      {ERR_LOCKBMAP, "", 0, "Could not lock bitmap!"},
      {ERR_NOALPHA, "pic.png", 0, "Image \"pic.png\" does not have an alpha channel!"},
      {ERR_STRORNUM, "", 3, "String or number expected in argument 3!"},
      {ERR_PERCENTFORMAT, "", 2, "Invalid percent format in argument 2!"},
      {ERR_NUMTABLEARG, "x", 0, "Number expected in table argument \"x\"!"},
      {ERR_TOOMANYARGS, "", 0, "Too many arguments for this function!"},
      {ERR_UNEXPECTEDEOF, "", 0, "Unexpected end of file!"},
      {ERR_APPLETVERSION, "5.3", 0, "This applet requires at least Quillvane 5.3!"},
      {ERR_UNKNOWNSEC, "", 0, "Unknown section in applet!"},
      {ERR_NOAPPLET, "demo.qva", 0, "demo.qva is no Quillvane applet!"},
      {ERR_PLAYERCOMP, "", 0, "Compilation is not possible with QuillvanePlayer!"},
      {ERR_FILEEXIST, "/x/y.qva", 0, "File /x/y.qva does not exist!"},
      {ERR_NOTADIR, "/etc/passwd", 0, "/etc/passwd is not a directory!"},
      {ERR_EXETYPE, "", 0, "Unknown executable type specified!"},
      {ERR_SEMAPHORE, "", 0, "Error allocating semaphore object!"},
      {ERR_LFSYNTAX, "", 0, "Syntax error in link file database!"},
      {ERR_OPENANIM2, "a.anim", 0,
       "Animation file \"a.anim\" is in an unknown/unsupported format!"},
      {ERR_INISYNTAX, "", 0, "Syntax error in configuration file!"},
      {ERR_FINDLAYER, "bg", 0, "Cannot find layer \"bg\" in current BGPic!"},
      {ERR_IMAGEERROR, "x.jpg", 0, "Error in image data in file x.jpg!"},
      {ERR_PERCENTFORMATSTR, "width", 0, "Invalid percent format in table argument \"width\"!"},
      {ERR_UNKNOWN, "", 0, "Unknown error code!"},
      {ERR_ZLIBDATA, "", 0, "Invalid or incomplete deflate data (zlib)!"},
      {ERR_PAKFORMAT, "", 0, "Unknown compression format!"},
      {ERR_DIRECTSHOW, "", 7, "Error setting up DirectShow environment! (#7)"},
      {ERR_FINDBRUSH, "", 12, "Could not find brush 12!"},
      {ERR_FINDFILE, "", -3, "Could not find file handle -3!"},
      {ERR_LOADPLUGIN, "x.qvp", 0, "Cannot load plugin x.qvp!"},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.code, c.text, c.number), c.want) << c.code;
}

TEST(ErrorTable, ArgumentsShowDisplayNames) {
  // A linked file shows its own name, whatever the code.
  EXPECT_EQ(Format(ERR_WRITEFILE, ":::chunk40960:1234*logo.png/C:\\apps\\demo.exe"),
            "Cannot write to file logo.png !");
  // File-reading and file-format errors show only the file part of a path.
  EXPECT_EQ(Format(ERR_READFILE, "/home/user/data/pic.png"), "Cannot read file pic.png !");
  EXPECT_EQ(Format(ERR_LOADPICTURE2, "C:\\data\\pic.iff"),
            "Picture file \"pic.iff\" is in an unknown/unsupported format!");
  // Other codes keep the stored path; a text without "%s" shows no argument at all.
  EXPECT_EQ(Format(ERR_FILEEXIST, "/home/user/x.qva"), "File /home/user/x.qva does not exist!");
  EXPECT_EQ(Format(ERR_WRONGUSAGE, "/home/user/x.qva"),
            "Wrong usage/parameters for this command!\nRead the documentation!");
  // The whole message of these two is the argument, "%" signs included.
  EXPECT_EQ(Format(ERR_ERRORCALLED, "100% wrong %s %d"), "100% wrong %s %d");
}

TEST(ErrorTable, DeclaredErrors) {
  FreeDeclaredErrors();
  EXPECT_EQ(RegisterErrorName("Custom failure %s!"), 1509);
  EXPECT_EQ(Format(1509, "here"), "Custom failure here!");
  EXPECT_EQ(Format(1510), "Unknown error code!");
  EXPECT_EQ(RegisterErrorName("Second"), 1510);
  EXPECT_EQ(Format(1510), "Second");
  EXPECT_EQ(GetDeclaredErrorText(1511), nullptr);
  FreeDeclaredErrors();
  EXPECT_EQ(Format(1509), "Unknown error code!");
  EXPECT_EQ(RegisterErrorName("Again"), 1509);
  FreeDeclaredErrors();
}

// Texts may come from a script or a catalog: only the one expected conversion is honoured.
TEST(ErrorTable, HostileTextsAreNoFormatStrings) {
  FreeDeclaredErrors();
  ASSERT_EQ(RegisterErrorName("%n%x %s %p %ld %%"), 1509);
  EXPECT_EQ(Format(1509, "arg", 5), "%n%x arg %p %ld %");
  ASSERT_EQ(RegisterErrorName("%n %d %s%ld"), 1510);  // "%s" wins: numbers stay as written
  EXPECT_EQ(Format(1510, "t", 9), "%n %d t%ld");
  ASSERT_EQ(RegisterErrorName("code %d, %ld, %5d"), 1511);
  EXPECT_EQ(Format(1511, "t", 9), "code 9, 9, %5d");
  FreeDeclaredErrors();
}

TEST(ErrorTable, MessagesAreCutToTheBuffer) {
  std::string path(5000, 'a');
  std::string message = Format(ERR_FILEEXIST, path.c_str(), 0, 1024);
  EXPECT_EQ(message.size(), 1023u);
  EXPECT_EQ(message.rfind("File aaa", 0), 0u);
  EXPECT_EQ(Format(ERR_MEM, "", 0, 4), "Out");
  EXPECT_EQ(Format(ERR_ERRORCALLED, "abcdef", 0, 3), "ab");
  char one = 'x';
  EXPECT_EQ(FormatErrorTextWith(ERR_MEM, "", 0, &one, 1), 0u);
  EXPECT_EQ(one, 0);
}

TEST(ErrorTable, LineMaps) {
  std::vector<qvLineMap> maps = {
      {1, 40, 1, "demo.qvs", ""},
      {41, 60, 10, "lib/include.qvs", ""},
      {1, 30, 100, "DEMO.QVS", "=chunk2"},
  };
  // An applet's chunk: the map of the running source that encloses the line; the map's first
  // line is the line after its base line.
  EXPECT_EQ(AppletSourceLine(maps, "", 5), 6);
  EXPECT_EQ(AppletSourceLine(maps, "?", 45), 15);
  EXPECT_EQ(FindLineMap(maps, nullptr, 41), &maps[1]);
  EXPECT_EQ(AppletSourceLine(maps, "=chunk2", 5), 105);
  EXPECT_EQ(AppletSourceLine(maps, "", 61), -1);
  EXPECT_EQ(AppletSourceLine(maps, "=none", 5), -1);
  EXPECT_EQ(AppletSourceLine(maps, "", -1), -1);
  EXPECT_EQ(AppletSourceLine({}, "", 5), -1);
  // A script: line 50 of a chunk that began at line 3 is its 48th line, and the lines of every
  // map of that file (any case) come on top: 39 and 29 for "demo.qvs", 19 for the include.
  EXPECT_EQ(ScriptSourceLine(maps, "demo.qvs", 50, 3), 116);
  EXPECT_EQ(ScriptSourceLine(maps, "lib/include.qvs", 50, 3), 67);
  EXPECT_EQ(ScriptSourceLine(maps, "x.qvs", -1, 3), -1);
  // Damaged maps give no line rather than an overflowed one.
  std::vector<qvLineMap> wild = {{INT32_MIN, INT32_MAX, INT32_MAX, "w", ""}};
  EXPECT_EQ(AppletSourceLine(wild, "", 5), -1);
}

TEST(ErrorTable, FormatsTheStoredArguments) {
  SetErrorString("/data/missing.png");
  SetErrorNumber(17);
  char out[128];
  FormatErrorText(ERR_READFILE, out, sizeof(out));
  EXPECT_STREQ(out, "Cannot read file missing.png !");
  FormatErrorText(ERR_FINDBRUSH, out, sizeof(out));
  EXPECT_STREQ(out, "Could not find brush 17!");
  // The machine's error-handler path formats through the same table.
  CoreVmHost()->formatMessage(ERR_FINDSPRITE, out, sizeof(out));
  EXPECT_STREQ(out, "Could not find sprite 17!");
}
