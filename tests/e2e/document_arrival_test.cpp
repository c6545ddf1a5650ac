// A document printed while the user works in another application: under a real window manager
// the reference page brings the program's window to the front, activated, and marks the new row.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "tests/e2e/reference_page.h"
#include "tests/e2e/test_documents.h"
#include "tests/printer/ipp_client.h"
#include "tests/support/app_process.h"
#include "tests/support/child_process.h"
#include "tests/support/fax_service_process.h"
#include "tests/window/x_test_display.h"
#include "window/window_system.h"

namespace {

struct ArrivalCase {
  const char* name;
  // Leaves the program's window out of sight while the other application holds the focus.
  std::function<void(XClient&, Window app, Window other)> away;
};

bool is_active(XClient& x, Window window) {
  return x.root_property("_NET_ACTIVE_WINDOW") == window;
}

bool viewable(XClient& x, Window window) {
  const std::optional<XWindowInfo> info = x.info(window);
  return info && info->viewable;
}

// The user clicks into the other application's text, as when typing there.
void click_into(XClient& x, Window other) {
  const XWindowInfo at = *x.info(other);
  x.click(at.x + 4, at.y + 4);
}

TEST(DocumentArrival, BringsTheWindowToTheFrontOverAnotherApplication) {
  PrivateXServer server;
  if (!server.ok()) GTEST_SKIP() << "no private X server (Xvfb) could be started";
  XClient x(server.display());
  ASSERT_TRUE(x.ok());
  TempDir desktop;
  const std::map<std::string, std::string> env = {{"DISPLAY", server.display()},
                                                  {"HOME", desktop.path()},
                                                  {"XDG_CONFIG_HOME", desktop / "config"}};
  ChildProcess window_manager, other_application;
  ASSERT_TRUE(window_manager.start({"openbox", "--sm-disable"}, {env, desktop / "openbox.log"}));
  ASSERT_TRUE(wait_until([&] { return x.root_property("_NET_SUPPORTING_WM_CHECK").has_value(); }))
      << read_file(desktop / "openbox.log");
  ASSERT_TRUE(other_application.start({"xmessage", "-geometry", "+0+0", "Another application"},
                                      {env, desktop / "xmessage.log"}));
  // The only window the window manager manages so far; it may not have the focus yet (a window
  // mapped while the manager was starting does not get it), so each case clicks into it.
  Window other = 0;
  ASSERT_TRUE(wait_until([&] {
    other = x.root_property("_NET_CLIENT_LIST").value_or(0);
    return other != 0 && viewable(x, other);
  })) << read_file(desktop / "xmessage.log");
  // On every desktop, so that it keeps the focus wherever the user goes.
  x.ask_window_manager(other, "_NET_WM_DESKTOP", 0xFFFFFFFF, 2);

  // The user's token has expired: every upload the page tries is refused.
  FaxServiceProcess service("the-current-token");
  ASSERT_TRUE(service.started());
  TempDir install, inputs;
  AppProcess app;
  app.env()["DISPLAY"] = server.display();
  app.env()["WAYLAND_DISPLAY"] = "";
  app.set_executable(install_reference_page(
      install, FaxServiceSettings{service.url("/upload"), "an-expired-token"}));
  ASSERT_TRUE(start_printer_app(app, {"--hidden"})) << app.log() << app.stderr_text();
  // Documents reported from here on are new arrivals, not the listing at start.
  ASSERT_TRUE(wait_until([&] {
    return app.log().find(page_line("Printed documents listed: 0")) != std::string::npos;
  })) << app.log();
  const std::optional<Window> window = x.find_window(WINDOW_CLASS);
  ASSERT_TRUE(window);
  EXPECT_FALSE(viewable(x, *window));
  ASSERT_TRUE(write_file(inputs / "document.pdf", text_pdf({"A document to fax"})));

  const ArrivalCase cases[] = {
      {"hidden since the start", [](XClient& x, Window, Window other) { click_into(x, other); }},
      {"minimised, the user gone to another desktop",
       [](XClient& x, Window app, Window other) {
         const XWindowInfo at = *x.info(app);
         x.click(at.x + 445, at.y + 14);  // the minimise button
         ASSERT_TRUE(wait_until([&] { return !viewable(x, app); }));
         x.ask_window_manager(DefaultRootWindow(x.display()), "_NET_CURRENT_DESKTOP", 1,
                              CurrentTime);
         ASSERT_TRUE(wait_until([&] { return x.root_property("_NET_CURRENT_DESKTOP") == 1ul; }));
         click_into(x, other);
       }},
  };
  int number = 0;
  for (const ArrivalCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.away(x, *window, other);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(wait_until([&] { return is_active(x, other); }));

    const std::string title = "Arrival " + std::to_string(++number);
    const IpptoolRun print = print_file(inputs / "document.pdf", "application/pdf", title);
    ASSERT_EQ(print.status, 0) << print.output;
    EXPECT_TRUE(wait_until([&] { return viewable(x, *window) && is_active(x, *window); }))
        << "active window " << x.root_property("_NET_ACTIVE_WINDOW").value_or(0) << ", ours "
        << *window << "\n"
        << app.log();
    const std::string path = app.output_folder() + "/" + title + ".pdf";
    EXPECT_TRUE(wait_until([&] {
      return app.log().find(page_line("e2e arrived " + path + " | New")) != std::string::npos &&
             app.log().find(page_line("e2e result " + path + " | Upload failed: HTTP 401")) !=
                 std::string::npos;
    })) << app.log();
  }

  // A document too large to fax: the program deletes it and says so in its own box, so the page
  // drops the row instead of showing an error of its own.
  const std::string large = app.output_folder() + "/Too large.pdf";
  const std::string partial = app.output_folder() + "/large.tmp";
  std::error_code error;
  ASSERT_TRUE(write_file(partial, ""));
  std::filesystem::resize_file(partial, 151 * 1024 * 1024, error);  // sparse: no disk used
  ASSERT_FALSE(error) << error.message();
  ASSERT_EQ(std::rename(partial.c_str(), large.c_str()), 0);
  EXPECT_TRUE(wait_until([&] {
    return app.log().find(page_line("e2e removed " + large)) != std::string::npos &&
           !std::filesystem::exists(large);
  })) << app.log();
  EXPECT_EQ(app.log().find("[JS] log: e2e result " + large), std::string::npos) << app.log();
  app.stop(SIGTERM);
  other_application.stop();
  window_manager.stop();
}

}  // namespace
