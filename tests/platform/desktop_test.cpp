// The desktop's services that need no desktop: the country of the locale, the user's folders,
// shortcut files and environment variables.
#include "platform/desktop.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "base/errors.h"

namespace qv {
namespace {

// Sets variables for one test and puts the old values back.
class ScopedEnv {
 public:
  void Set(const char* name, const char* value) {
    const char* old = getenv(name);
    saved_.push_back({name, old ? old : "", old != nullptr});
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->had) {
        setenv(it->name.c_str(), it->value.c_str(), 1);
      } else {
        unsetenv(it->name.c_str());
      }
    }
  }

 private:
  struct Saved {
    std::string name, value;
    bool had;
  };
  std::vector<Saved> saved_;
};

TEST(Desktop, CountriesComeFromTheTerritoryOfTheFirstLocaleVariableSet) {
  struct Case {
    const char* all;
    const char* messages;
    const char* lang;
    int country;
  } cases[] = {
      {nullptr, nullptr, "de_DE.UTF-8", 9},
      {nullptr, nullptr, "en_GB", 0},
      {nullptr, nullptr, "en_US.UTF-8", 1},
      {nullptr, nullptr, "el_GR.UTF-8", 12},
      {nullptr, nullptr, "pt_BR@euro", 5},
      {nullptr, nullptr, "de_AT", 34},
      {nullptr, nullptr, "uk_UA.UTF-8", 37},
      {nullptr, nullptr, "sr_RS", kCountryUnknown},
      {nullptr, nullptr, "C", kCountryUnknown},
      {nullptr, nullptr, "en_USA", kCountryUnknown},
      {nullptr, nullptr, nullptr, kCountryUnknown},
      {"fr_FR", "it_IT", "de_DE", 11},
      {"", "it_IT", "de_DE", 13},
      {nullptr, nullptr, "fr_ch", 29},
  };
  for (const Case& c : cases) {
    ScopedEnv env;
    env.Set("LC_ALL", c.all);
    env.Set("LC_MESSAGES", c.messages);
    env.Set("LANG", c.lang);
    EXPECT_EQ(GetSystemCountryCode(), c.country) << (c.lang ? c.lang : "(none)");
  }
}

TEST(Desktop, FoldersComeFromTheXdgDirectories) {
  char pattern[] = "/tmp/qv_desktop_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  ScopedEnv env;
  env.Set("HOME", "/home/tester");
  env.Set("XDG_CONFIG_HOME", dir.c_str());
  env.Set("XDG_DATA_HOME", nullptr);
  std::ofstream(dir + "/user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                         << "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                                         << "XDG_MUSIC_DIR=\"/srv/music\"\n"
                                         << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  EXPECT_EQ(GetSpecialFolder(kFolderDesktop), "/home/tester/Schreibtisch");
  EXPECT_EQ(GetSpecialFolder(kFolderMusic), "/srv/music");
  EXPECT_EQ(GetSpecialFolder(kFolderPictures), "/home/tester/Bilder");
  EXPECT_EQ(GetSpecialFolder(kFolderDocuments), "/home/tester");  // not named: home
  EXPECT_EQ(GetSpecialFolder(kFolderAppData), dir);
  EXPECT_EQ(GetSpecialFolder(kFolderLocalAppData), "/home/tester/.local/share");
  EXPECT_EQ(GetSpecialFolder(kFolderSystem), "/usr/share");
  EXPECT_EQ(GetSpecialFolder(kFolderPrograms), "/usr/local");
  EXPECT_EQ(GetSpecialFolder(7), "");
  std::filesystem::remove(dir + "/user-dirs.dirs");
  EXPECT_EQ(GetSpecialFolder(kFolderDesktop), "/home/tester/Desktop");
  std::filesystem::remove_all(dir);
}

TEST(Desktop, ShortcutsGiveBackTheirTargetAndDirectory) {
  char pattern[] = "/tmp/qv_desktop_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  std::string link = dir + "/My Game.desktop";
  const char* target = "/opt/games/my \"game\" $HOME\\bin";
  ASSERT_EQ(CreateShellLink(target, link.c_str(), "/opt/games\nwork"), 0);
  std::string gotTarget, gotDirectory;
  ASSERT_EQ(ResolveShellLink(link.c_str(), &gotTarget, &gotDirectory), 0);
  EXPECT_EQ(gotTarget, target);
  EXPECT_EQ(gotDirectory, "/opt/games\nwork");
  EXPECT_EQ(ResolveShellLink((dir + "/none.desktop").c_str(), &gotTarget, &gotDirectory),
            ERR_GETSHORTCUT);
  std::ofstream(dir + "/plain.txt") << "not a shortcut\n";
  EXPECT_EQ(ResolveShellLink((dir + "/plain.txt").c_str(), &gotTarget, &gotDirectory),
            ERR_GETSHORTCUT);
  EXPECT_EQ(CreateShellLink("/bin/true", (dir + "/missing/x.desktop").c_str(), ""),
            ERR_CREATESHORTCUT);
  std::filesystem::remove_all(dir);
}

TEST(Desktop, EnvironmentVariables) {
  ScopedEnv env;
  env.Set("QV_DESKTOP_TEST", nullptr);
  std::string value;
  EXPECT_FALSE(GetEnvVar("QV_DESKTOP_TEST", &value));
  EXPECT_EQ(SetEnvVar("QV_DESKTOP_TEST", "a=b"), 0);
  ASSERT_TRUE(GetEnvVar("QV_DESKTOP_TEST", &value));
  EXPECT_EQ(value, "a=b");
  EXPECT_EQ(UnsetEnvVar("QV_DESKTOP_TEST"), 0);
  EXPECT_FALSE(GetEnvVar("QV_DESKTOP_TEST", &value));
  EXPECT_EQ(SetEnvVar("A=B", "x"), ERR_SETENV);
  EXPECT_EQ(SetEnvVar("", "x"), ERR_SETENV);
  EXPECT_EQ(UnsetEnvVar("A=B"), ERR_UNSETENV);
}

}  // namespace
}  // namespace qv
