// The program on a Wayland desktop (mutter), where a window takes the focus only with a token
// from the user's input elsewhere: a link followed in the focused application starts the program
// a second time, and a click on the notification of a document printed out of sight; each
// brings the covered or minimised window forward. A document printed while it is in front is
// not announced.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/reference_page.h"
#include "tests/e2e/test_documents.h"
#include "tests/printer/ipp_client.h"
#include "tests/support/app_process.h"
#include "tests/support/child_process.h"
#include "tests/support/wayland_session.h"

namespace {

constexpr unsigned KEY_H = 'h', KEY_K = 'k', KEY_L = 'l', KEY_N = 'n', KEY_SUPER = 0xffeb;
const std::string CALLBACK_URL = "telvanaprinter://signin/done?code=W1";

// The "notify" lines of the other application's output from offset on.
std::vector<std::string> notifications_after(const std::string& output, std::size_t offset) {
  std::vector<std::string> lines;
  for (std::size_t at = output.find("notify ", offset); at != std::string::npos;
       at = output.find("notify ", at + 1)) {
    if (at == 0 || output[at - 1] == '\n') {
      lines.push_back(output.substr(at, output.find('\n', at) - at));
    }
  }
  return lines;
}

struct AwayCase {
  const char* name;
  // Takes the program's window out of sight; the other application gets the focus.
  std::function<void(WaylandSession&, ChildProcess& other)> away;
};

TEST(WaylandDesktop, TokensOfTheUsersInputBringTheWindowForward) {
  WaylandSession session;
  if (!session.ok()) GTEST_SKIP() << "no headless mutter session: " << session.error();
  TempDir install, inputs;
  AppProcess app;
  for (const auto& [name, value] : session.client_env()) app.env()[name] = value;
  app.set_executable(install_reference_page(install, std::nullopt));
  ASSERT_TRUE(start_printer_app(app)) << app.log() << app.stderr_text();
  ASSERT_TRUE(wait_until([&] {
    return app.log().find(page_line("Printed documents listed: 0")) != std::string::npos;
  })) << app.log();

  // The other application runs in the user's folders, where the program registered its scheme.
  const std::string other_log = app.home() + "/other.log";
  const auto other_said = [&](const std::string& line) {
    return count_of(read_file(other_log), line + "\n");
  };
  ChildProcess other;
  ASSERT_TRUE(
      other.start({"/usr/bin/python3",
                   std::string(TELVANA_SOURCE_DIR) + "/tests/e2e/wayland_desktop.py", CALLBACK_URL},
                  {app.env(), other_log}));
  ASSERT_TRUE(wait_until([&] { return other_said("focus in") == 1; })) << read_file(other_log);

  // Once the other application has lost the focus, the user types: only the program's page may
  // hear the key then.
  std::size_t keys_heard = 0;
  const auto expect_in_front = [&](std::size_t focus_lost_before) {
    EXPECT_TRUE(wait_until([&] { return other_said("focus out") > focus_lost_before; }))
        << read_file(other_log) << app.log();
    session.type(KEY_K);
    EXPECT_TRUE(wait_until([&] {
      return count_of(app.log(), page_line("e2e key k")) > keys_heard;
    })) << read_file(other_log)
        << app.log();
    keys_heard = count_of(app.log(), page_line("e2e key k"));
  };
  const AwayCase cases[] = {
      {"covered by the other application",
       [](WaylandSession&, ChildProcess& other) { kill(other.pid(), SIGUSR1); }},
      {"minimised", [](WaylandSession& s, ChildProcess&) { s.type(KEY_H, {KEY_SUPER}); }},
  };
  ASSERT_TRUE(write_file(inputs / "document.pdf", text_pdf({"A document to fax"})));
  int number = 0;
  for (const AwayCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto go_away = [&] {
      const std::size_t focused = other_said("focus in");
      c.away(session, other);
      ASSERT_TRUE(wait_until([&] { return other_said("focus in") > focused; }))
          << read_file(other_log);
    };

    // A link to a callback URL, followed in the other application.
    go_away();
    ASSERT_FALSE(HasFatalFailure());
    const std::string signed_in = page_line("e2e status Signed in: " + CALLBACK_URL);
    const std::size_t callbacks = count_of(app.log(), signed_in);
    std::size_t focus_lost = other_said("focus out");
    session.type(KEY_L);
    EXPECT_TRUE(wait_until([&] { return count_of(app.log(), signed_in) > callbacks; }))
        << app.log();
    expect_in_front(focus_lost);

    // Printed in front: the page shows it, no notification. Then two out of sight: one
    // notification, updated, and its click brings the window forward.
    const std::string front = "In front " + std::to_string(++number);
    ASSERT_EQ(print_file(inputs / "document.pdf", "application/pdf", front).status, 0);
    const std::string front_path = app.output_folder() + "/" + front + ".pdf";
    ASSERT_TRUE(wait_until([&] {
      return app.log().find(page_line("e2e arrived " + front_path + " | New")) != std::string::npos;
    })) << app.log();
    const std::size_t offset = read_file(other_log).size();
    go_away();
    ASSERT_FALSE(HasFatalFailure());
    const std::string first = "Out of sight " + std::to_string(number) + "a";
    const std::string second = "Out of sight " + std::to_string(number) + "b";
    for (const std::string& title : {first, second}) {
      ASSERT_EQ(print_file(inputs / "document.pdf", "application/pdf", title).status, 0);
    }
    ASSERT_TRUE(wait_until([&] {
      const auto shown = notifications_after(read_file(other_log), offset);
      return !shown.empty() &&
             shown.back().find("Printed: " + second + ".pdf|") != std::string::npos;
    })) << read_file(other_log)
        << app.log();
    const auto shown = notifications_after(read_file(other_log), offset);
    const std::string id = shown.front().substr(0, shown.front().find(' ', 7));
    for (const std::string& line : shown) {
      EXPECT_EQ(line.substr(0, id.size() + 1), id + " ") << "more than one notification";
      EXPECT_EQ(line.find(front), std::string::npos) << line;
    }
    EXPECT_NE(shown.back().find("|2 documents are ready to fax.|default,"), std::string::npos)
        << shown.back();
    focus_lost = other_said("focus out");
    session.type(KEY_N);
    ASSERT_TRUE(wait_until([&] { return other_said("invoked " + id.substr(7)) == 1; }))
        << read_file(other_log);
    expect_in_front(focus_lost);
  }
  app.stop(SIGTERM);
  other.stop();
}

}  // namespace
