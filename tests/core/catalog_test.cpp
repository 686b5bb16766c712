#include "core/catalog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "core/error_table.h"
#include "core/vfile.h"
#include "fixtures/catalog_writer.h"

using namespace qv;
using qvtest::IffCatalog;
namespace fs = std::filesystem;

namespace {

struct CatalogPtr {
  explicit CatalogPtr(qvCatalog* c) : cat(c) {}
  ~CatalogPtr() { FreeWithBuffer(cat); }
  qvCatalog* cat;
};

qvCatalog* Parse(const std::string& bytes) { return ParseCatalog(bytes.data(), bytes.size()); }

const std::vector<std::pair<uint32_t, std::string>> kTexts = {
    {0, "Kein Speicher mehr!"},
    {3, "Abbruch!"},
    {4, "abcd"},
    {6, ""},
    {91, "Unbekannter Code!"},
    {3, "second entry of id 3"},
    {700, "Datei %s kann nicht gelesen werden!"},
};

}  // namespace

TEST(Catalog, IffReplacesTextsById) {
  CatalogPtr c(Parse(IffCatalog(kTexts)));
  ASSERT_NE(c.cat, nullptr);
  EXPECT_STREQ(LookupCatalogString(c.cat, 0, "x"), "Kein Speicher mehr!");
  EXPECT_STREQ(LookupCatalogString(c.cat, 3, "x"), "Abbruch!");  // the first entry of an id wins
  EXPECT_STREQ(LookupCatalogString(c.cat, 4, "x"), "abcd");
  EXPECT_STREQ(LookupCatalogString(c.cat, 6, "x"), "");
  EXPECT_STREQ(LookupCatalogString(c.cat, 5, "built-in"), "built-in");  // absent id
  EXPECT_STREQ(LookupCatalogString(c.cat, 700, "x"), "Datei %s kann nicht gelesen werden!");
  EXPECT_STREQ(LookupCatalogString(c.cat, -1, "x"), "x");
  EXPECT_STREQ(LookupCatalogString(nullptr, 0, "fallback"), "fallback");
}

TEST(Catalog, IffNeedsItsChunks) {
  std::string good = IffCatalog(kTexts);
  std::string noVersion = good;
  noVersion.replace(12, 4, "FVEX");
  EXPECT_EQ(Parse(noVersion), nullptr);
  std::string noStrings = good;
  noStrings.replace(noStrings.find("STRS"), 4, "STRX");
  EXPECT_EQ(Parse(noStrings), nullptr);
  // A "STRS" only at an odd offset is not found either.
  std::string odd = IffCatalog({});
  size_t at = odd.find("STRS");
  odd.insert(at, 1, 'x');
  EXPECT_EQ(at % 2, 0u);
  EXPECT_EQ(Parse(odd), nullptr);
}

// Every cut of a valid catalog, and damaged length fields, give each id either its true text or
// the fallback: never bytes from beyond the data, never a crash.
TEST(Catalog, TruncatedAndCorruptIffIsHarmless) {
  std::string good = IffCatalog(kTexts);
  for (size_t cut = 101; cut <= good.size(); ++cut) {
    std::string part = good.substr(0, cut);
    CatalogPtr c(Parse(part));
    if (!c.cat) continue;
    for (const auto& [id, text] : kTexts) {
      const char* got = LookupCatalogString(c.cat, int32_t(id), nullptr);
      if (got && id != 3) {
        EXPECT_EQ(got, text) << "cut " << cut << " id " << id;
      }
    }
  }
  std::string huge = good;
  size_t firstLength = huge.find("STRS") + 12;
  huge.replace(firstLength, 4, "\x7F\xFF\xFF\xFF");
  CatalogPtr c(Parse(huge));
  ASSERT_NE(c.cat, nullptr);
  EXPECT_STREQ(LookupCatalogString(c.cat, 0, "fb"), "fb");
  // An id of 0xFFFFFFFF ends the entries.
  std::string ended = IffCatalog({{1, "one"}, {0xFFFFFFFFu, "end"}, {2, "two"}});
  CatalogPtr e(Parse(ended));
  ASSERT_NE(e.cat, nullptr);
  EXPECT_STREQ(LookupCatalogString(e.cat, 1, "fb"), "one");
  EXPECT_STREQ(LookupCatalogString(e.cat, 2, "fb"), "fb");
  // A text without its terminating zero ends with its length.
  std::string unterminated = IffCatalog({{1, "abcd"}, {2, "next"}});
  size_t text = unterminated.find("abcd");
  unterminated[text - 1] = 4;  // length 4: no room for the zero
  unterminated.replace(text + 4, 4, "wxyz");
  CatalogPtr u(Parse(unterminated));
  ASSERT_NE(u.cat, nullptr);
  EXPECT_STREQ(LookupCatalogString(u.cat, 1, "fb"), "abcd");
}

TEST(Catalog, TextForm) {
  std::string lf = "zero\none\n\nthree \\n\\t\\r\\\\ \\q end\nfour";
  std::string crlf = "zero\r\none\r\n\r\nthree \\n\\t\\r\\\\ \\q end\r\nfour\r\n";
  for (const std::string& file : {lf, crlf}) {
    CatalogPtr c(Parse(file));
    ASSERT_NE(c.cat, nullptr);
    EXPECT_STREQ(LookupCatalogString(c.cat, 0, "fb"), "zero");
    EXPECT_STREQ(LookupCatalogString(c.cat, 1, "fb"), "one");
    EXPECT_STREQ(LookupCatalogString(c.cat, 2, "fb"), "");
    EXPECT_STREQ(LookupCatalogString(c.cat, 3, "fb"), "three \n\t\r\\ \\ end");
    EXPECT_STREQ(LookupCatalogString(c.cat, 4, "fb"), "four");
    EXPECT_STREQ(LookupCatalogString(c.cat, 5, "fb"), "fb");  // a final line end adds no text
    EXPECT_STREQ(LookupCatalogString(c.cat, -1, "fb"), "fb");
  }
  // A lone CR ends a line without eating the next character; a backslash before a line end
  // stays a backslash and the line still ends.
  CatalogPtr c(Parse("a\rb\\\nc\\"));
  EXPECT_STREQ(LookupCatalogString(c.cat, 0, "fb"), "a");
  EXPECT_STREQ(LookupCatalogString(c.cat, 1, "fb"), "b\\");
  EXPECT_STREQ(LookupCatalogString(c.cat, 2, "fb"), "c\\");
  CatalogPtr empty(Parse(""));
  ASSERT_NE(empty.cat, nullptr);
  EXPECT_STREQ(LookupCatalogString(empty.cat, 0, "fb"), "fb");
}

TEST(Catalog, ShortFormFileIsText) {
  std::string file = "FORM" + std::string(96, 'x');
  ASSERT_EQ(file.size(), 100u);
  CatalogPtr c(Parse(file));
  ASSERT_NE(c.cat, nullptr);
  EXPECT_EQ(std::string(LookupCatalogString(c.cat, 0, "fb")), file);
}

TEST(Catalog, PlayerCatalogOverridesBuiltInTexts) {
  ASSERT_EQ(GetPlayerCatalog(), nullptr);
  CatalogPtr c(Parse(IffCatalog(
      {{91, "Unbekannter Fehlercode!"}, {45, "Datei %s nicht lesbar!"}, {14, "%n %s %d"}})));
  SetPlayerCatalog(c.cat);
  char out[256];
  FormatErrorTextWith(1600, "", 0, out, sizeof(out));
  EXPECT_STREQ(out, "Unbekannter Fehlercode!");
  FormatErrorTextWith(ERR_READFILE, "/a/b/c.txt", 0, out, sizeof(out));
  EXPECT_STREQ(out, "Datei c.txt nicht lesbar!");
  FormatErrorTextWith(ERR_MISSINGPARAMTR, "arg", 5, out, sizeof(out));
  EXPECT_STREQ(out, "%n arg %d");  // a catalog text is no format string
  FormatErrorTextWith(ERR_MEM, "", 0, out, sizeof(out));
  EXPECT_STREQ(out, "Out of memory!");  // ids the catalog lacks stay built in
  EXPECT_STREQ(GetErrorText(kTextDone), "done");
  SetPlayerCatalog(nullptr);
  FormatErrorTextWith(1600, "", 0, out, sizeof(out));
  EXPECT_STREQ(out, "Unknown error code!");
}

TEST(Catalog, SearchPaths) {
  std::random_device rd;
  fs::path root = fs::temp_directory_path() / ("qv_cat_" + std::to_string(rd()));
  fs::path prog = root / "prog", work = root / "work";
  auto put = [](const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  };
  fs::create_directories(work);
  fs::path oldCwd = fs::current_path();
  fs::current_path(work);
  SetProgramDir(prog.string().c_str());
  auto first = [](int language) {
    CatalogPtr c(OpenCatalogFile("app.catalog", language));
    return std::string(LookupCatalogString(c.cat, 0, "(none)"));
  };

  put(prog / "Catalogs/deutsch/app.catalog", "prog native");
  EXPECT_EQ(first(1), "prog native");
  put(prog / "Catalogs/german/app.catalog", "prog english");
  EXPECT_EQ(first(1), "prog english");
  put(work / "Catalogs/deutsch/app.catalog", "cwd native");
  EXPECT_EQ(first(1), "cwd native");
  put(work / "Catalogs/german/app.catalog", "cwd english");
  EXPECT_EQ(first(1), "cwd english");
  put(work /
          "Catalogs/fran\xC3\xA7"
          "ais/app.catalog",
      "francais");
  EXPECT_EQ(first(4), "francais");
  // Russian (17) is a language of its own, under either of its names.
  put(prog / "Catalogs/\xD1\x80\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9/app.catalog",
      "russian native");
  EXPECT_EQ(first(17), "russian native");
  put(work / "Catalogs/russian/app.catalog", "russian");
  EXPECT_EQ(first(17), "russian");
  // English is built in; 18 means a language without a catalog directory.
  put(work / "Catalogs/english/app.catalog", "english");
  EXPECT_EQ(first(0), "(none)");
  EXPECT_EQ(first(18), "(none)");
  EXPECT_EQ(first(-1), "(none)");
  EXPECT_EQ(first(3), "(none)");
  // The first file that opens is the catalog, even when it is no valid one.
  put(work / "Catalogs/italian/app.catalog", IffCatalog({}).replace(8, 4, "XXXX"));
  put(prog / "Catalogs/italian/app.catalog", "valid");
  EXPECT_EQ(first(3), "(none)");

  SetProgramDir("");
  fs::current_path(oldCwd);
  fs::remove_all(root);
}
