// The plugin manager without the player: LoadPlugin's refusals, each undone (the test plugins
// note InitPlugin and ClosePlugin in a log), the filter of held-back names, and demands.
#include "core/plugins.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/errors.h"
#include "tests/fixtures/temp_dir.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

std::string PluginPath(const std::string& name) {
  return std::string(QV_TEST_PLUGIN_DIR) + "/" + name + ".qvp";
}

class PluginsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = dir_.Path("calls.log");
    setenv("QV_PLUGIN_LOG", log_.c_str(), 1);
  }
  void TearDown() override {
    FreePlugins();
    unsetenv("QV_PLUGIN_LOG");
  }
  std::string Log() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  qvtest::TempDir dir_;
  std::string log_;
};

TEST_F(PluginsTest, EachRefusalHasItsCodeAndIsUndone) {
  struct Case {
    const char* name;
    int32_t code;
    const char* argument;
    const char* log;
  } cases[] = {
      {"newer", ERR_NEWQVPLUGIN, "5.3", "newer InitPlugin\nnewer ClosePlugin\n"},
      {"badname", ERR_LOADPLUGIN, "badname.qvp", "badname InitPlugin\nbadname ClosePlugin\n"},
      {"noentry", ERR_LOADPLUGIN, "noentry.qvp", "noentry InitPlugin\nnoentry ClosePlugin\n"},
      {"cap400", ERR_PLUGINTYPE, "400", "cap400 InitPlugin\ncap400 ClosePlugin\n"},
      {"initzero", ERR_LOADPLUGIN, "initzero.qvp", "initzero InitPlugin\n"},
      {"noinit", ERR_LOADPLUGIN, "noinit.qvp", ""},
      {"missing", ERR_LOADPLUGIN, "missing.qvp", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(log_);
    qvPluginHandle* handle = nullptr;
    SetErrorString("");
    EXPECT_EQ(LoadPlugin(PluginPath(c.name).c_str(), &handle), c.code);
    EXPECT_EQ(handle, nullptr);
    EXPECT_STREQ(GetErrorString(), c.argument);
    EXPECT_EQ(Log(), c.log);
  }
  // A file that is no shared object, and a relative path (never searched for).
  const std::string text = dir_.Path("text.qvp");
  std::ofstream(text) << "not a plugin\n";
  qvPluginHandle* handle = nullptr;
  EXPECT_EQ(LoadPlugin(text.c_str(), &handle), ERR_LOADPLUGIN);
  EXPECT_EQ(LoadPlugin("media.qvp", &handle), ERR_LOADPLUGIN);
}

TEST_F(PluginsTest, LoadedPluginKeepsItsEntries) {
  qvPluginHandle* handle = nullptr;
  ASSERT_EQ(LoadPlugin(PluginPath("media").c_str(), &handle), 0);
  EXPECT_EQ(handle->capabilities,
            QV_CAP_IMAGE | QV_CAP_SOUND | QV_CAP_IMAGESAVER | QV_CAP_SAMPLESAVER);
  const qvPluginInfo* info = handle->info;
  EXPECT_STREQ(info->init.moduleName, "media");
  EXPECT_NE(info->transformImage, nullptr);
  EXPECT_NE(info->streamSamples, nullptr);
  EXPECT_NE(info->saveSample, nullptr);
  EXPECT_EQ(info->getCommands, nullptr);  // no library bit, no library entries
  UnloadPlugin(handle);
  EXPECT_EQ(Log(), "media InitPlugin\nmedia ClosePlugin\n");
}

TEST_F(PluginsTest, FilterHoldsNamesWithoutRegardToCaseOrExtension) {
  struct Case {
    std::vector<std::string> filter;
    const char* file;
    bool held;
  } cases[] = {
      {{}, "a.qvp", false},
      {{"*"}, "Anything.QVP", true},
      {{"MEDIA"}, "media.qvp", true},
      {{"media.QVP"}, "Media.qvp", true},
      {{"med"}, "media.qvp", false},
      {{"media.qvp.qvp"}, "media.qvp", false},
      {{"one", "two"}, "two.qvp", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(PluginFilterHolds(c.filter, c.file), c.held);
  }
}

TEST_F(PluginsTest, ScanRecordsHeldBackPluginsAndTheFirstOfAName) {
  fs::copy_file(PluginPath("media"), dir_.Path("media.qvp"));
  fs::copy_file(PluginPath("vecstub"), dir_.Path("vecstub.qvp"));
  fs::copy_file(PluginPath("mylib"), dir_.Path("MYLIB.qvp"));
  fs::create_directory(dir_.Path("dir.qvp"));
  ScanPluginDirectory({"Mylib"}, dir_.path().c_str());
  std::vector<std::string> records;
  for (const qvPluginRecord* r = FirstPluginRecord(); r != nullptr; r = r->next) {
    records.push_back(std::string(r->name) + (r->handle != nullptr ? " loaded" : " held"));
  }
  EXPECT_EQ(records,
            (std::vector<std::string>{"media.qvp loaded", "MYLIB.qvp held", "vecstub.qvp loaded"}));
  // A scan of the same name again (a second folder) passes over it.
  ScanPluginDirectory({}, dir_.path().c_str());
  size_t count = 0;
  for (const qvPluginRecord* r = FirstPluginRecord(); r != nullptr; r = r->next) ++count;
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(LoadedPluginNames(), (std::vector<std::string>{"Media", "Vector stand-in"}));
}

TEST_F(PluginsTest, DemandsCompareVersionThenRevision) {
  fs::copy_file(PluginPath("media"), dir_.Path("media.qvp"));  // version 2.0
  ScanPluginDirectory({}, dir_.path().c_str());
  struct Case {
    const char* name;
    int32_t version, revision;
    int32_t code;
    const char* argument;
  } cases[] = {
      {"media", 2, 0, 0, ""},
      {"MEDIA.QVP", 1, 9, 0, ""},
      {"media", 0, 0, 0, ""},
      {"media", 2, 1, ERR_REQUIREPLUGIN, "media.qvp 2.1"},
      {"media", 3, 0, ERR_REQUIREPLUGIN, "media.qvp 3.0"},
      {"other.qvp", 0, 0, ERR_REQUIREPLUGIN, "other.qvp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetErrorString("");
    EXPECT_EQ(RequirePlugin(nullptr, c.name, c.version, c.revision), c.code);
    EXPECT_STREQ(GetErrorString(), c.argument);
  }
}

}  // namespace
}  // namespace qv
