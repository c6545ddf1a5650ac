// Registration of the scheme: the command text, the files written, and the desktop's own tools
// (gio, xdg-open) starting the real program with a URL through them.
#include "app/url_scheme.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <future>
#include <map>
#include <thread>
#include <vector>

#include "app/callback_handoff.h"
#include "app/handoff_listener.h"
#include "app/single_instance.h"
#include "core/log.h"
#include "core/text.h"
#include "tests/support/app_process.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_loop.h"

extern char** environ;

namespace {

struct CommandCase {
  const char* executable;
  const char* command;
};

TEST(UrlSchemeCommand, QuotesTheExecutableOnlyWhereDesktopEntriesRequire) {
  const CommandCase cases[] = {
      {"/opt/telvana/telvana-print", "/opt/telvana/telvana-print %u"},
      {"/opt/t-1.0/a_b+c=d,e@f:g", "/opt/t-1.0/a_b+c=d,e@f:g %u"},
      {"/home/a b/telvana-print", "\"/home/a b/telvana-print\" %u"},
      {"/x/\"q\"/t", "\"/x/\\\"q\\\"/t\" %u"},
      {"/x/$HOME/`id`/t", "\"/x/\\$HOME/\\`id\\`/t\" %u"},
      {"/x/back\\slash/t", "\"/x/back\\\\slash/t\" %u"},
      {"/x/it's/t", "\"/x/it's/t\" %u"},
      {"/x/100%/t", "/x/100%%/t %u"},
      {"/x/100% off/t", "\"/x/100%% off/t\" %u"},
  };
  for (const auto& c : cases) EXPECT_EQ(url_scheme_command(c.executable), c.command);
}

TEST(UrlSchemeDesktopEntry, ReadsBackAsTheCommandThroughGLib) {
  // The desktop's own parser must see exactly the command text.
  for (const char* executable :
       {"/opt/t/telvana-print", "/x/back\\slash/$t", "/a b/\"q\"%", "/x/50%"}) {
    const std::string command = url_scheme_command(executable);
    const std::string entry = url_scheme_desktop_entry(command);
    GKeyFile* file = g_key_file_new();
    ASSERT_TRUE(
        g_key_file_load_from_data(file, entry.data(), entry.size(), G_KEY_FILE_NONE, nullptr));
    gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
    gchar* mime = g_key_file_get_string(file, "Desktop Entry", "MimeType", nullptr);
    ASSERT_NE(exec, nullptr);
    EXPECT_EQ(std::string(exec), command);
    EXPECT_EQ(std::string(mime), "x-scheme-handler/telvanaprinter;");
    EXPECT_TRUE(g_key_file_get_boolean(file, "Desktop Entry", "NoDisplay", nullptr));
    // Split as a desktop launches it: the executable is one argument, %u another.
    gchar** argv = nullptr;
    ASSERT_TRUE(g_shell_parse_argv(exec, nullptr, &argv, nullptr));
    ASSERT_EQ(g_strv_length(argv), 2u);
    std::string unescaped_percent = argv[0];
    for (std::size_t at; (at = unescaped_percent.find("%%")) != std::string::npos;) {
      unescaped_percent.replace(at, 2, "%");
    }
    EXPECT_EQ(unescaped_percent, executable);
    EXPECT_STREQ(argv[1], "%u");
    g_strfreev(argv);
    g_free(exec);
    g_free(mime);
    g_key_file_free(file);
  }
}

struct MimeappsCase {
  const char* name;
  std::string before;
  std::string after;
};

TEST(MimeappsList, SetsOurDefaultAndKeepsEverythingElse) {
  const std::string ours = "x-scheme-handler/telvanaprinter=telvanaprinter.desktop\n";
  const MimeappsCase cases[] = {
      {"no file yet", "", "[Default Applications]\n" + ours},
      {"other groups kept, ours appended", "[Added Associations]\ntext/plain=gedit.desktop;\n",
       "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n" + ours},
      {"joins the existing group, comments and order kept",
       "# mine\n[Default Applications]\ntext/html=firefox.desktop\n\n[Removed Associations]\n"
       "image/png=x.desktop\n",
       "# mine\n[Default Applications]\n" + ours +
           "text/html=firefox.desktop\n\n[Removed Associations]\nimage/png=x.desktop\n"},
      {"an earlier value replaced, even spaced differently",
       "[Default Applications]\nx-scheme-handler/telvanaprinter = old.desktop\n"
       "x-scheme-handler/https=browser.desktop\n",
       "[Default Applications]\n" + ours + "x-scheme-handler/https=browser.desktop\n"},
      {"our key in another group is not ours to touch",
       "[Added Associations]\nx-scheme-handler/telvanaprinter=old.desktop;\n",
       "[Added Associations]\nx-scheme-handler/telvanaprinter=old.desktop;\n\n"
       "[Default Applications]\n" +
           ours},
      {"a similar key is kept",
       "[Default Applications]\nx-scheme-handler/telvanaprinterx=y.desktop",
       "[Default Applications]\n" + ours + "x-scheme-handler/telvanaprinterx=y.desktop\n"},
      {"rewriting is stable", "[Default Applications]\n" + ours, "[Default Applications]\n" + ours},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mimeapps_with_scheme_default(c.before), c.after) << c.name;
  }
}

// Runs program with the test environment plus extra; its exit code (nullopt on a hang).
std::optional<int> run_tool(const std::vector<std::string>& args,
                            const std::map<std::string, std::string>& extra) {
  ChildProcess tool;
  if (!tool.start(args, {.env = extra})) return std::nullopt;
  const std::optional<int> code = tool.wait_exit(std::chrono::seconds(20));
  tool.kill_now();
  return code;
}

// A private set of user folders, set in this process's environment for the test's length.
class UserFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* sub : {"/data", "/config", "/runtime"})
      mkdir((home.path() + sub).c_str(), 0700);
    env = {{"HOME", home.path()},
           {"XDG_DATA_HOME", home / "data"},
           {"XDG_CONFIG_HOME", home / "config"},
           {"XDG_RUNTIME_DIR", home / "runtime"},
           {"TELVANA_OUTPUT_DIR", home / "out"}};
    for (const auto& [name, value] : env) {
      saved[name] = std::getenv(name.c_str())
                        ? std::optional<std::string>(std::getenv(name.c_str()))
                        : std::nullopt;
      setenv(name.c_str(), value.c_str(), 1);
    }
    ASSERT_TRUE(log_open(home / "test.log"));
  }
  void TearDown() override {
    log_close();
    for (const auto& [name, value] : saved) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  std::string desktop_file() const { return home / "data/applications/telvanaprinter.desktop"; }
  std::string mimeapps() const { return home / "config/mimeapps.list"; }

  TempDir home;
  std::map<std::string, std::string> env;
  std::map<std::string, std::optional<std::string>> saved;
};

TEST_F(UserFolders, RegistersTheRunningExecutableAndKeepsOtherDefaults) {
  ASSERT_TRUE(write_file(mimeapps(), "[Default Applications]\ntext/html=firefox.desktop\n"));
  register_url_scheme();
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string command = url_scheme_command(self);
  EXPECT_EQ(read_file(desktop_file()), url_scheme_desktop_entry(command));
  EXPECT_EQ(read_file(mimeapps()),
            "[Default Applications]\nx-scheme-handler/telvanaprinter=telvanaprinter.desktop\n"
            "text/html=firefox.desktop\n");
  EXPECT_NE(
      read_file(home / "test.log").find("[scheme] Registered telvanaprinter:// -> " + command),
      std::string::npos);

  // A stale entry naming a moved executable is rewritten at the next start.
  ASSERT_TRUE(write_file(desktop_file(), url_scheme_desktop_entry("\"/old/place\" %u")));
  register_url_scheme();
  EXPECT_EQ(read_file(desktop_file()), url_scheme_desktop_entry(command));
}

TEST_F(UserFolders, FailureToWriteIsLoggedAndTheLineStillWritten) {
  // The applications folder's place is taken by a file, and mimeapps.list cannot be read (a
  // folder stands in its place): both are logged and left as they are.
  ASSERT_TRUE(write_file(home / "data/applications", "not a folder"));
  ASSERT_EQ(mkdir(mimeapps().c_str(), 0700), 0);
  register_url_scheme();
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string log = read_file(home / "test.log");
  EXPECT_NE(log.find("[scheme] Registered telvanaprinter:// -> " + url_scheme_command(self)),
            std::string::npos);
  EXPECT_NE(log.find("[scheme] Cannot read " + mimeapps()), std::string::npos);
  EXPECT_NE(log.find("[scheme] Cannot create " + home / "data/applications"), std::string::npos);
  EXPECT_EQ(read_file(home / "data/applications"), "not a folder");
  struct stat info {};
  ASSERT_EQ(stat(mimeapps().c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST_F(UserFolders, MimeappsBehindALinkIsUpdatedWhereItLives) {
  ASSERT_TRUE(write_file(home / "dotfiles.list", "[Default Applications]\na=b.desktop\n"));
  ASSERT_EQ(symlink((home / "dotfiles.list").c_str(), mimeapps().c_str()), 0);
  register_url_scheme();
  struct stat info {};
  ASSERT_EQ(lstat(mimeapps().c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_NE(read_file(home / "dotfiles.list").find("telvanaprinter=telvanaprinter.desktop"),
            std::string::npos);
}

// The desktop's launchers start the real program as a second start, which hands the URL to the
// instance holding the lock: here this test, listening like a running instance would.
std::vector<HandoffFrame> frames_received;
int record_frame(const HandoffFrame& frame) {
  frames_received.push_back(frame);
  return 1;
}

struct LauncherCase {
  const char* name;
  std::vector<std::string> command;
};

TEST_F(UserFolders, DesktopLaunchersStartTheProgramWithTheUrl) {
  char real[PATH_MAX] = {};
  ASSERT_NE(realpath(telvana_executable().c_str(), real), nullptr);
  mkdir((home / "data/applications").c_str(), 0700);
  ASSERT_TRUE(write_file(desktop_file(), url_scheme_desktop_entry(url_scheme_command(real))));
  ASSERT_TRUE(write_file(mimeapps(), mimeapps_with_scheme_default("")));
  ASSERT_EQ(acquire_instance_lock(), InstanceLock::acquired);
  ASSERT_TRUE(start_handoff_listener(home / "runtime/TelvanaPrintApp.sock", record_frame));

  const LauncherCase cases[] = {
      {"gio", {"gio", "open", "telvanaprinter://x"}},
      {"xdg-open", {"xdg-open", "telvanaprinter://done?id=7&s='a'"}},
  };
  for (const auto& c : cases) {
    frames_received.clear();
    // xdg-open consults desktop entries only inside a graphical session, which it recognises by
    // DISPLAY alone; the second start it launches never opens the display.
    std::map<std::string, std::string> session = env;
    if (const char* display = std::getenv("DISPLAY"); display == nullptr || *display == '\0') {
      session["DISPLAY"] = ":99";
    }
    auto launched = std::async(std::launch::async, [&] { return run_tool(c.command, session); });
    pump_until([] { return !frames_received.empty(); }, std::chrono::seconds(30));
    EXPECT_EQ(launched.get(), 0) << c.name;
    ASSERT_EQ(frames_received.size(), 1u) << c.name;
    EXPECT_EQ(frames_received[0].text, *utf8_to_wide(c.command.back())) << c.name;
  }
  stop_handoff_listener();
  release_instance_lock();
  const std::string log = read_file(home / "out/telvana-print.log");
  EXPECT_NE(log.find("[startup] Second instance, cmdline: telvanaprinter://x"), std::string::npos);
}

}  // namespace
