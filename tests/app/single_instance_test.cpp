// Second starts of the real program against an instance that holds the user's lock: the lock's
// place, the frame on the socket, the log lines, the exit code, and the retry while the running
// instance is still starting. The running instance here is this test, listening as the program
// would, so that the exact frame can be checked.
#include "app/single_instance.h"

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

#include "app/callback_handoff.h"
#include "app/handoff_listener.h"
#include "app/runtime_folder.h"
#include "core/log.h"
#include "tests/support/app_process.h"
#include "tests/support/ui_loop.h"

namespace {

std::vector<HandoffFrame> frames_received;
int record_frame(const HandoffFrame& frame) {
  frames_received.push_back(frame);
  return 1;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Holds the instance lock of app's private runtime folder like a running first instance.
class HeldLock {
 public:
  explicit HeldLock(const std::string& runtime) {
    fd_ =
        open((runtime + "/TelvanaPrintApp_Mutex.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    held_ = fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~HeldLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

class SecondStart : public ::testing::Test {
 protected:
  void SetUp() override {
    frames_received.clear();
    // A second start needs no display at all.
    app.env()["DISPLAY"] = "";
    app.env()["WAYLAND_DISPLAY"] = "";
    launched_by_desktop("", "");
    ASSERT_TRUE(lock.held());
  }
  void TearDown() override { stop_handoff_listener(); }

  // Runs a second start while this thread serves the socket; its exit code.
  std::optional<int> run_second_start(const std::vector<std::string>& args) {
    auto run = std::async(std::launch::async, [&] { return app.run_again(args); });
    pump_until(
        [&] { return run.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; });
    return run.get();
  }

  // The activation tokens a desktop launch leaves in the environment (empty: none).
  void launched_by_desktop(const std::string& xdg_activation_token,
                           const std::string& desktop_startup_id) {
    app.env()["XDG_ACTIVATION_TOKEN"] = xdg_activation_token;
    app.env()["DESKTOP_STARTUP_ID"] = desktop_startup_id;
  }

  std::string runtime() const { return app.home() + "/runtime"; }
  std::string socket_path() const { return runtime() + "/TelvanaPrintApp.sock"; }

  AppProcess app;
  HeldLock lock{app.home() + "/runtime"};
};

struct FrameCase {
  const char* name;
  std::vector<std::string> args;
  std::string logged_command_line;
  std::uint32_t cb_data;
  std::optional<std::u16string> text;
  std::string xdg_activation_token = "";
  std::string desktop_startup_id = "";
  std::optional<std::string> token = std::nullopt;
};

TEST_F(SecondStart, HandsTheUrlOverAndEndsWithCodeZero) {
  const FrameCase cases[] = {
      {"quoted URL",
       {"\"telvanaprinter://done?id=7\""},
       "\"telvanaprinter://done?id=7\"",
       54,
       u"telvanaprinter://done?id=7"},
      {"text after a space",
       {"telvanaprinter://a?x=1", "more"},
       "telvanaprinter://a?x=1 more",
       2 * 23,
       u"telvanaprinter://a?x=1"},
      {"apostrophe and backslash",
       {"telvanaprinter://it's\\ok"},
       "telvanaprinter://it's\\ok",
       2 * 25,
       u"telvanaprinter://it's\\ok"},
      {"no arguments", {}, "(none)", 0, std::nullopt},
      {"hidden only", {"--hidden"}, "--hidden", 0, std::nullopt},
      {"wrong case", {"TelvanaPrinter://x"}, "TelvanaPrinter://x", 0, std::nullopt},
      {"other scheme", {"https://example.com/"}, "https://example.com/", 0, std::nullopt},
      {"Wayland launch: its token after the URL",
       {"telvanaprinter://done?id=7"},
       "telvanaprinter://done?id=7",
       54 + 2 * 10,
       u"telvanaprinter://done?id=7",
       "a1_TIME42",
       "x11-id_TIME7",
       "a1_TIME42"},
      {"X11 launch without a URL",
       {},
       "(none)",
       2 + 2 * 13,
       u"",
       "",
       "x11-id_TIME7",
       "x11-id_TIME7"},
      {"no token in either",
       {"telvanaprinter://x"},
       "telvanaprinter://x",
       2 * 19,
       u"telvanaprinter://x",
       "with space",
       "t\x01"},
  };
  ASSERT_TRUE(start_handoff_listener(socket_path(), record_frame));
  for (const auto& c : cases) {
    frames_received.clear();
    launched_by_desktop(c.xdg_activation_token, c.desktop_startup_id);
    EXPECT_EQ(run_second_start(c.args), 0) << c.name;
    ASSERT_EQ(frames_received.size(), 1u) << c.name;
    EXPECT_EQ(frames_received[0].dw_data, 0u) << c.name;
    EXPECT_EQ(frames_received[0].cb_data, c.cb_data) << c.name;
    EXPECT_EQ(frames_received[0].text, c.text) << c.name;
    EXPECT_EQ(frames_received[0].activation_token, c.token) << c.name;
    const std::string log = app.log();
    EXPECT_TRUE(contains(log, "[startup] Second instance, cmdline: " + c.logged_command_line))
        << c.name;
    EXPECT_TRUE(
        contains(log, "[callback] handle_second_instance cmdline: " + c.logged_command_line))
        << c.name;
  }
  // None of the first instance's steps ran: no start line, no registration, no printer.
  const std::string log = app.log();
  EXPECT_FALSE(contains(log, "Starting. ui="));
  EXPECT_FALSE(contains(log, "[scheme]"));
  EXPECT_FALSE(contains(log, "No existing window found"));
  struct stat info {};
  EXPECT_NE(stat((app.home() + "/data/applications/telvanaprinter.desktop").c_str(), &info), 0);
}

TEST_F(SecondStart, WithNobodyListeningLogsAndEndsWithCodeZero) {
  EXPECT_EQ(run_second_start({"telvanaprinter://lost"}), 0);
  const std::string log = app.log();
  EXPECT_TRUE(contains(log, "[callback] handle_second_instance cmdline: telvanaprinter://lost"));
  EXPECT_TRUE(contains(log, "[callback] No existing window found - app not running?"));
}

TEST_F(SecondStart, WaitsForAnInstanceThatIsStillStartingUp) {
  // The lock is held but nobody listens yet: the second start keeps trying, and once the
  // instance listens the URL reaches it.
  auto run =
      std::async(std::launch::async, [&] { return app.run_again({"telvanaprinter://late"}); });
  ASSERT_TRUE(wait_until([&] { return contains(app.log(), "handle_second_instance"); }));
  ASSERT_TRUE(start_handoff_listener(socket_path(), record_frame));
  pump_until(
      [&] { return run.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; });
  EXPECT_EQ(run.get(), 0);
  ASSERT_EQ(frames_received.size(), 1u);
  EXPECT_EQ(frames_received[0].text, u"telvanaprinter://late");
  EXPECT_FALSE(contains(app.log(), "No existing window found"));
}

TEST_F(SecondStart, NeverRotatesTheRunningInstancesLog) {
  std::filesystem::create_directories(app.output_folder());
  const std::string full(LOG_ROTATE_SIZE + 10, 'x');
  ASSERT_TRUE(write_file(app.log_path(), full));
  EXPECT_EQ(run_second_start({"telvanaprinter://x\r\n[00:00:00] forged"}), 0);
  EXPECT_FALSE(std::filesystem::exists(app.log_path() + ".1"));
  const std::string log = app.log();
  ASSERT_TRUE(log.starts_with(full));
  EXPECT_TRUE(contains(
      log, "[startup] Second instance, cmdline: telvanaprinter://x\\r\\n[00:00:00] forged\n"));
  EXPECT_FALSE(contains(log, "\n[00:00:00] forged"));
}

TEST_F(SecondStart, AHungInstanceIsGivenUpAfterTenSeconds) {
  // Instances that hang: one whose socket queues the connection but is never served, one that
  // takes the frame and never answers.
  for (const bool reads_frame : {false, true}) {
    SCOPED_TRACE(reads_frame ? "reads and never answers" : "never accepts");
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path().c_str(), sizeof address.sun_path - 1);
    unlink(socket_path().c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    std::thread reader;
    if (reads_frame) {
      reader = std::thread([listener] {
        const int connection = accept(listener, nullptr, nullptr);
        char buffer[256];
        while (connection >= 0 && recv(connection, buffer, sizeof buffer, 0) > 0) {
        }
        if (connection >= 0) close(connection);
      });
    }
    const std::size_t before = count_of(app.log(), "[callback] No answer from the running");
    EXPECT_EQ(app.run_again({"telvanaprinter://hung"}, std::chrono::seconds(30)), 0);
    EXPECT_EQ(count_of(app.log(),
                       "[callback] No answer from the running instance within 10 s - "
                       "giving up\n"),
              before + 1)
        << app.log();
    shutdown(listener, SHUT_RDWR);
    close(listener);
    if (reader.joinable()) reader.join();
  }
  EXPECT_FALSE(contains(app.log(), "No existing window found"));
}

// The lock's place: the runtime folder, else a private folder of the user's own in /tmp.
TEST(InstanceRuntimeFolder, FallsBackToAPrivateTmpFolderOnlyWhenItIsSafe) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::optional<std::string> restore =
      saved ? std::optional<std::string>(saved) : std::nullopt;
  setenv("XDG_RUNTIME_DIR", "/run/somewhere", 1);
  EXPECT_EQ(instance_runtime_folder(), "/run/somewhere");

  setenv("XDG_RUNTIME_DIR", "", 1);
  const std::string fallback = "/tmp/telvana-" + std::to_string(getuid());
  EXPECT_EQ(instance_runtime_folder(), fallback);
  struct stat info {};
  ASSERT_EQ(lstat(fallback.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  // Opened up to others, it is no longer trusted with the lock and the socket.
  chmod(fallback.c_str(), 0755);
  EXPECT_EQ(instance_runtime_folder(), std::nullopt);
  chmod(fallback.c_str(), 0700);

  if (restore) {
    setenv("XDG_RUNTIME_DIR", restore->c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}

TEST(InstanceLock, OneHolderAtATimeAndAMissingFolderCountsAsFirst) {
  TempDir runtime;
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  ASSERT_EQ(acquire_instance_lock(), InstanceLock::acquired);
  {
    HeldLock other(runtime.path());
    EXPECT_FALSE(other.held());
  }
  release_instance_lock();
  {
    HeldLock other(runtime.path());
    EXPECT_TRUE(other.held());
    EXPECT_EQ(acquire_instance_lock(), InstanceLock::held_elsewhere);
  }
  setenv("XDG_RUNTIME_DIR", (runtime / "missing").c_str(), 1);
  EXPECT_EQ(acquire_instance_lock(), InstanceLock::unavailable);
  EXPECT_TRUE(claim_first_instance_or_hand_over("")) << "no lock to be had counts as first";
  release_instance_lock();
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
