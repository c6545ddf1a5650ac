// The output folder rule, the version text and the command line.
#include "core/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "app/command_line.h"
#include "core/folders.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const FOLDER_VARIABLES[] = {"TELVANA_OUTPUT_DIR", "APPDATA", "LOCALAPPDATA",
                                        "XDG_DATA_HOME", "HOME"};

// Sets exactly the given variables among those the rule reads, restoring them afterwards.
class Environment {
 public:
  explicit Environment(const std::map<std::string, std::string>& values) {
    for (const char* name : FOLDER_VARIABLES) {
      if (const char* old = std::getenv(name)) saved_[name] = old;
      unsetenv(name);
    }
    for (const auto& [name, value] : values) setenv(name.c_str(), value.c_str(), 1);
  }
  ~Environment() {
    for (const char* name : FOLDER_VARIABLES) unsetenv(name);
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::map<std::string, std::string> saved_;
};

TEST(OutputFolder, FirstRuleThatApplies) {
  struct Case {
    std::map<std::string, std::string> env;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{{"TELVANA_OUTPUT_DIR", "/srv/fax out"}, {"APPDATA", "/a"}}, "/srv/fax out"},
      {{{"TELVANA_OUTPUT_DIR", ""}, {"APPDATA", "/a"}}, "/a/TelvanaPrint"},
      {{{"APPDATA", ""}, {"LOCALAPPDATA", "/l"}}, "/l/TelvanaPrint"},
      {{{"LOCALAPPDATA", ""}, {"XDG_DATA_HOME", "/x"}, {"HOME", "/h"}}, "/x/TelvanaPrint"},
      {{{"XDG_DATA_HOME", ""}, {"HOME", "/h"}}, "/h/.local/share/TelvanaPrint"},
      {{{"TELVANA_OUTPUT_DIR", "out/fax"}}, "out/fax"},
      {{}, "TelvanaPrint"},
  };
  for (const Case& c : cases) {
    Environment env(c.env);
    EXPECT_EQ(resolve_output_folder(), c.expected);
  }
}

TEST(OutputFolder, IsCreatedWithItsMissingParentsOnlyTheUserMayEnter) {
  TempDir dir;
  mkdir((dir / "shared").c_str(), 0755);
  write_file(dir / "file", "");
  struct Case {
    std::string folder;
    bool created;
    std::vector<std::string> made;  // folders the call creates, each 0700
  };
  const Case cases[] = {
      {dir / "home/.local/share/TelvanaPrint",
       true,
       {"home", "home/.local", "home/.local/share", "home/.local/share/TelvanaPrint"}},
      {dir / "shared/TelvanaPrint/", true, {"shared/TelvanaPrint"}},
      {dir / "shared", true, {}},
      {dir / "file/TelvanaPrint", false, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(create_folder_with_parents(c.folder), c.created) << c.folder;
    for (const std::string& made : c.made) {
      struct stat info {};
      ASSERT_EQ(stat((dir / made).c_str(), &info), 0) << made;
      EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
    }
  }
  struct stat shared {};
  ASSERT_EQ(stat((dir / "shared").c_str(), &shared), 0);
  EXPECT_EQ(shared.st_mode & 0777, 0755u);
}

TEST(AppVersion, MajorMinorBuildOnly) {
  EXPECT_EQ(format_app_version(AppVersion{2, 5, 17, 9}), u"2.5.17");
  EXPECT_EQ(format_app_version(AppVersion{0, 0, 0, 0}), u"0.0.0");
  EXPECT_EQ(format_app_version(std::nullopt), u"unknown");
  const auto compiled = compiled_app_version();
  ASSERT_TRUE(compiled.has_value());
  EXPECT_EQ(format_app_version(compiled), u"1.0.0");
}

TEST(CommandLine, HiddenIsAPlainSubstringTest) {
  struct Case {
    std::vector<std::string> args;
    std::string joined;
    bool hidden;
  };
  const std::vector<Case> cases = {
      {{}, "", false},
      {{"--hidden"}, "--hidden", true},
      {{"--hiddenx"}, "--hiddenx", true},
      {{"a", "x--hidden"}, "a x--hidden", true},
      {{"--Hidden"}, "--Hidden", false},
      {{"\"telvanaprinter://done?id=7\""}, "\"telvanaprinter://done?id=7\"", false},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv{const_cast<char*>("telvana-print")};
    for (const auto& arg : c.args) argv.push_back(const_cast<char*>(arg.c_str()));
    const std::string joined = join_command_line(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(joined, c.joined);
    EXPECT_EQ(command_line_hidden(joined), c.hidden) << joined;
  }
}

TEST(ExecutableFolder, IsTheFolderOfTheRunningProgram) {
  const std::string folder = executable_folder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_NE(folder.back(), '/');
}

}  // namespace
