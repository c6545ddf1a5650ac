// The real program showing a test page from a ui folder of its own (beside a copy of the
// executable): the page's state lives across restarts in the profile in the output folder, and
// only while that profile is the user's alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"
#include "tests/support/temp_dir.h"

namespace {

bool log_has(AppProcess& app, const std::string& text) {
  return wait_until([&] { return app.log().find(text) != std::string::npos || !app.running(); }) &&
         app.log().find(text) != std::string::npos;
}

// The modes of everything under folder, by path below it, as "path mode" lines.
std::string tree_modes(const std::string& folder, const std::vector<std::string>& paths) {
  std::string modes;
  for (const std::string& path : paths) {
    struct stat info {};
    lstat((folder + path).c_str(), &info);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", info.st_mode & 07777);
    modes += path + " " + mode + "\n";
  }
  return modes;
}

// True once the page's local storage holding its visits is on disk below profile.
bool local_storage_written(const std::string& profile) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(profile)) {
    if (entry.is_regular_file() &&
        entry.path().string().find("localstorage") != std::string::npos &&
        read_file(entry.path().string()).find("visits") != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST(WebViewApp, ThePageKeepsItsStateOnlyInAProfileOfTheUsersAlone) {
  SKIP_WITHOUT_DISPLAY();
  enum class Profile { loose_modes, link, other_users };
  for (const Profile kind : {Profile::loose_modes, Profile::link, Profile::other_users}) {
    SCOPED_TRACE(static_cast<int>(kind));
    TempDir install;
    AppProcess app;
    app.set_executable(
        install_beside_ui(install, std::string(TELVANA_SOURCE_DIR) + "/tests/webview/pages"));
    const std::string profile = app.output_folder() + "/WebView2";
    const std::string elsewhere = app.home() + "/elsewhere";
    std::filesystem::create_directories(app.output_folder());
    if (kind == Profile::link) {
      mkdir(elsewhere.c_str(), 0755);
      ASSERT_EQ(symlink(elsewhere.c_str(), profile.c_str()), 0);
    } else {
      // As an older version, a backup or a synced folder may have left it.
      mkdir(profile.c_str(), 0755);
      mkdir((profile + "/kept").c_str(), 0755);
      write_file(profile + "/kept/token.txt", "old");
      chmod((profile + "/kept/token.txt").c_str(), 0644);
      if (kind == Profile::other_users) {
        ASSERT_EQ(chown(profile.c_str(), 65534, 65534), 0);
      }
    }
    const std::vector<std::string> made = {"", "/kept", "/kept/token.txt"};
    const std::string before = tree_modes(profile, made);

    ASSERT_TRUE(app.start());
    ASSERT_TRUE(log_has(app, "[JS] log: visit 1\n")) << app.log() << app.stderr_text();
    EXPECT_TRUE(log_has(app, "[JS] log: version 1.0.0\n"));
    if (kind == Profile::loose_modes) {
      EXPECT_EQ(tree_modes(profile, made), " 0700\n/kept 0700\n/kept/token.txt 0600\n");
      // Local storage is written behind the page's back; wait until it is on disk.
      ASSERT_TRUE(wait_until([&] { return local_storage_written(profile); }));
    } else {
      const std::string reason = kind == Profile::link ? profile + " is a symbolic link"
                                                       : profile + " belongs to uid 65534";
      EXPECT_TRUE(log_has(app, "[webview] The profile folder is not used: " + reason +
                                   "; the page runs without persistent storage\n"));
    }
    ASSERT_EQ(app.stop(SIGTERM), std::optional<int>(0));

    // Only the user's own profile keeps the page's state; the others are left as they were.
    ASSERT_TRUE(app.start());
    const std::size_t first_visits = kind == Profile::loose_modes ? 1 : 2;
    EXPECT_TRUE(wait_until([&] {
      return count_of(app.log(), "[JS] log: version 1.0.0\n") == 2 || !app.running();
    })) << app.log();
    EXPECT_TRUE(log_has(app, "[JS] log: visit " + std::to_string(3 - first_visits) + "\n"));
    EXPECT_EQ(count_of(app.log(), "[JS] log: visit 1\n"), first_visits) << app.log();
    EXPECT_EQ(app.stop(SIGTERM), std::optional<int>(0));
    if (kind == Profile::link) {
      EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
    } else if (kind == Profile::other_users) {
      EXPECT_EQ(tree_modes(profile, made), before);
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(profile),
                              std::filesystem::directory_iterator()),
                1);
    }
  }
}

}  // namespace
