// The running instance's end of the hand-off, in process: real sockets, the real sender, the
// GLib main context standing in for the UI thread's loop, and a recording script runner.
#include "app/handoff_listener.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "app/callback_handoff.h"
#include "bridge/page_script.h"
#include "core/log.h"
#include "tests/support/app_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_loop.h"

namespace {

std::vector<std::u16string> page_scripts;  // what the page was asked to run

void record_script(const std::u16string& script) {
  page_scripts.push_back(script);
}

std::string header(std::uint64_t dw_data, std::uint32_t cb_data) {
  std::string bytes(HANDOFF_HEADER_SIZE, '\0');
  std::memcpy(bytes.data(), &dw_data, 8);
  std::memcpy(bytes.data() + 8, &cb_data, 4);
  return bytes;
}

// A raw client that can misbehave.
struct RawClient {
  int fd = -1;
  explicit RawClient(const std::string& path) {
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      fd = -1;
    }
  }
  ~RawClient() {
    if (fd >= 0) close(fd);
  }
  bool write(const std::string& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // True once the receiver has closed the connection; answer holds what it sent first.
  bool closed_by_peer(std::string& answer) {
    char chunk[64];
    const ssize_t got = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got > 0) answer.append(chunk, static_cast<std::size_t>(got));
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }
};

class HandoffListener : public ::testing::Test {
 protected:
  void SetUp() override {
    page_scripts.clear();
    set_script_runner(record_script);
    notify_page_loaded(true);
    ASSERT_TRUE(log_open(log_path));
    ASSERT_TRUE(start_handoff_listener(socket_path, receive_callback_handoff, limits));
  }
  void TearDown() override {
    stop_handoff_listener();
    set_script_runner(nullptr);
    notify_page_loaded(false);
    log_close();
  }

  // Sends frame with the program's own sender from another thread while this thread serves.
  HandoffOutcome send_from_thread(const std::string& frame) {
    auto sent = std::async(std::launch::async, [&] {
      return send_handoff(socket_path, frame, std::chrono::milliseconds(0));
    });
    EXPECT_TRUE(pump_until(
        [&] { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    return sent.get();
  }

  // The rest of the tests: a good frame still goes through.
  void expect_still_serving() {
    page_scripts.clear();
    const HandoffOutcome outcome = send_from_thread(encode_handoff_frame(u"telvanaprinter://ok"));
    EXPECT_TRUE(outcome.listener_found);
    EXPECT_EQ(outcome.answer, 1);
    ASSERT_EQ(page_scripts.size(), 1u);
    EXPECT_EQ(page_scripts[0], callback_page_script(u"telvanaprinter://ok"));
  }

  TempDir dir;
  std::string socket_path = dir / "TelvanaPrintApp.sock";
  std::string log_path = dir / "telvana-print.log";
  HandoffListenerLimits limits{std::chrono::seconds(20), 4};
};

struct DeliveryCase {
  const char* name;
  std::optional<std::u16string> sent;
  std::optional<std::u16string> script;  // the page call expected, none when the page is left
};

TEST_F(HandoffListener, CallsThePageOnlyForTheSchemeAndAlwaysAnswersOne) {
  const DeliveryCase cases[] = {
      {"url", u"telvanaprinter://done?id=7",
       u"window.telvana&&typeof window.telvana.handleCallback==='function'&&"
       u"window.telvana.handleCallback('telvanaprinter://done?id=7')"},
      {"apostrophe and backslash escaped for the literal", u"telvanaprinter://a'b\\c",
       u"window.telvana&&typeof window.telvana.handleCallback==='function'&&"
       u"window.telvana.handleCallback('telvanaprinter://a\\'b\\\\c')"},
      {"wrong case", u"TELVANAPRINTER://done", std::nullopt},
      {"other scheme", u"https://example.com/", std::nullopt},
      {"prefix cut short", u"telvanaprinter:/", std::nullopt},
      {"empty frame", std::nullopt, std::nullopt},
      {"only the NUL", u"", std::nullopt},
  };
  for (const auto& c : cases) {
    page_scripts.clear();
    const HandoffOutcome outcome = send_from_thread(encode_handoff_frame(c.sent));
    EXPECT_TRUE(outcome.listener_found) << c.name;
    EXPECT_EQ(outcome.answer, 1) << c.name;
    if (c.script) {
      ASSERT_EQ(page_scripts.size(), 1u) << c.name;
      EXPECT_EQ(page_scripts[0], *c.script) << c.name;
    } else {
      EXPECT_TRUE(page_scripts.empty()) << c.name;
    }
  }
  // A long URL is not cut: the whole of it reaches the page.
  page_scripts.clear();
  const std::u16string long_url = u"telvanaprinter://x?" + std::u16string(10000, u'q');
  EXPECT_EQ(send_from_thread(encode_handoff_frame(long_url)).answer, 1);
  ASSERT_EQ(page_scripts.size(), 1u);
  EXPECT_EQ(page_scripts[0], callback_page_script(long_url));
}

TEST_F(HandoffListener, UrlBeforeThePageHasLoadedArrivesOnceItHas) {
  notify_page_loaded(false);
  EXPECT_EQ(send_from_thread(encode_handoff_frame(u"telvanaprinter://first")).answer, 1);
  EXPECT_EQ(send_from_thread(encode_handoff_frame(u"telvanaprinter://second")).answer, 1);
  EXPECT_TRUE(page_scripts.empty());
  notify_page_loaded(true);
  ASSERT_EQ(page_scripts.size(), 1u);
  EXPECT_EQ(page_scripts[0], callback_page_script(u"telvanaprinter://second"));
}

struct MisbehaviourCase {
  const char* name;
  std::string bytes;
  bool close_after;    // shut the sending side after the bytes
  const char* logged;  // part of the rejection line
};

TEST_F(HandoffListener, MalformedFramesAreRejectedWithoutAnAnswer) {
  const MisbehaviourCase cases[] = {
      {"oversized cbData", header(0, HANDOFF_MAX_PAYLOAD + 2), false, "is over 65536 bytes"},
      {"odd cbData", header(0, 3) + "abc", false, "not a whole number"},
      {"no NUL", header(0, 6) + std::string("a\0b\0c\0", 6), false, "no terminating NUL"},
      {"closed inside the header", header(0, 54).substr(0, 5), true, "closed the connection"},
      {"closed inside the payload", encode_handoff_frame(u"telvanaprinter://x").substr(0, 20), true,
       "closed the connection"},
      {"closed at once", "", true, "closed the connection"},
  };
  for (const auto& c : cases) {
    RawClient client(socket_path);
    ASSERT_GE(client.fd, 0) << c.name;
    ASSERT_TRUE(c.bytes.empty() || client.write(c.bytes)) << c.name;
    if (c.close_after) shutdown(client.fd, SHUT_WR);
    std::string answer;
    EXPECT_TRUE(pump_until([&] { return client.closed_by_peer(answer); })) << c.name;
    EXPECT_EQ(answer, "") << c.name;
    EXPECT_NE(read_file(log_path).find(c.logged), std::string::npos) << c.name;
    EXPECT_TRUE(page_scripts.empty()) << c.name;
    EXPECT_TRUE(pump_until([] { return handoff_connection_count() == 0; })) << c.name;
  }
  expect_still_serving();
}

TEST_F(HandoffListener, SlowSendersNeitherBlockOthersNorStayForever) {
  // Part of a frame, then nothing: the receiver must go on serving everyone else meanwhile.
  ASSERT_TRUE(start_handoff_listener(socket_path, receive_callback_handoff,
                                     {std::chrono::milliseconds(300), 4}));
  RawClient slow(socket_path);
  ASSERT_TRUE(slow.write(encode_handoff_frame(u"telvanaprinter://slow").substr(0, 15)));
  RawClient silent(socket_path);
  ASSERT_GE(silent.fd, 0);
  expect_still_serving();

  std::string answer;
  EXPECT_TRUE(
      pump_until([&] { return slow.closed_by_peer(answer) && silent.closed_by_peer(answer); }));
  EXPECT_EQ(answer, "");
  EXPECT_NE(read_file(log_path).find("no whole frame within the time limit"), std::string::npos);
  EXPECT_EQ(handoff_connection_count(), 0u);

  // A frame trickled in one byte at a time within the limit is still whole.
  ASSERT_TRUE(start_handoff_listener(socket_path, receive_callback_handoff, limits));
  page_scripts.clear();
  RawClient trickle(socket_path);
  for (const char byte : encode_handoff_frame(u"telvanaprinter://t")) {
    ASSERT_TRUE(trickle.write(std::string(1, byte)));
    g_main_context_iteration(nullptr, FALSE);
  }
  EXPECT_TRUE(pump_until([&] { return trickle.closed_by_peer(answer); }));
  EXPECT_EQ(answer, std::string("\x01\0\0\0", 4));
  EXPECT_EQ(page_scripts, std::vector<std::u16string>{callback_page_script(u"telvanaprinter://t")});
}

TEST_F(HandoffListener, ConnectionsBeyondTheLimitAreClosedAtOnce) {
  std::vector<std::unique_ptr<RawClient>> idle;
  for (std::size_t i = 0; i < limits.max_connections; ++i) {
    idle.push_back(std::make_unique<RawClient>(socket_path));
  }
  EXPECT_TRUE(pump_until([&] { return handoff_connection_count() == limits.max_connections; }));
  RawClient extra(socket_path);
  std::string answer;
  EXPECT_TRUE(pump_until([&] { return extra.closed_by_peer(answer); }));
  EXPECT_NE(read_file(log_path).find("connections already open"), std::string::npos);
  idle.clear();
  EXPECT_TRUE(pump_until([] { return handoff_connection_count() == 0; }));
  expect_still_serving();
}

TEST_F(HandoffListener, PeersOfAnotherUserAreDropped) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  // Let another user reach the socket at all, so that only the peer check stands in the way.
  chmod(dir.path().c_str(), 0755);
  chmod(socket_path.c_str(), 0666);
  const std::string frame = encode_handoff_frame(u"telvanaprinter://intruder");
  ChildProcess intruder;
  ASSERT_TRUE(intruder.start_function([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 3;
    const HandoffOutcome outcome = send_handoff(socket_path, frame, std::chrono::seconds(0));
    return !outcome.listener_found ? 4 : outcome.answer ? 5 : 0;
  }));
  EXPECT_TRUE(pump_until([&] { return !intruder.running(); }));
  EXPECT_EQ(intruder.wait_exit(), 0);
  EXPECT_TRUE(page_scripts.empty());
  EXPECT_NE(read_file(log_path).find("[callback] Hand-off from uid 65534 refused"),
            std::string::npos);
  expect_still_serving();
}

TEST_F(HandoffListener, SocketIsPrivateAndReplacesAStaleOne) {
  struct stat info {};
  ASSERT_EQ(stat(socket_path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // An instance that died left its socket behind: the next one takes the name over.
  stop_handoff_listener();
  ASSERT_TRUE(write_file(socket_path, "stale"));
  ASSERT_TRUE(start_handoff_listener(socket_path, receive_callback_handoff, limits));
  expect_still_serving();

  stop_handoff_listener();
  EXPECT_NE(stat(socket_path.c_str(), &info), 0);
  const HandoffOutcome nobody =
      send_handoff(socket_path, encode_handoff_frame(std::nullopt), std::chrono::milliseconds(0));
  EXPECT_FALSE(nobody.listener_found);
}

}  // namespace
