// The printer tried as another local user would: administration over both loopbacks and the
// framework's socket, printers made over IPP, the other loopback taken first, the spool folder,
// a first start in a fresh account, and a file system without RENAME_NOREPLACE.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "printer/system_setup.h"
#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/x_window.h"

namespace {

// An unprivileged local user (nobody).
constexpr uid_t OTHER_UID = 65534;
const std::string AS_OTHER_USER = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

const std::string IPV4_BASE = "ipp://127.0.0.1:8631";
const std::string IPV6_BASE = "ipp://[::1]:8631";

// A folder other users may read, for test files they must open.
struct SharedDir {
  TempDir dir;
  SharedDir() { chmod(dir.path().c_str(), 0755); }
  std::string write(const std::string& name, const std::string& content) const {
    const std::string path = dir / name;
    write_file(path, content);
    chmod(path.c_str(), 0644);
    return path;
  }
};

// One ipptool request: operation on target ("system-uri" or "printer-uri") with extra lines.
std::string request_test(const std::string& operation, const std::string& target,
                         const std::string& extra, const std::string& expect = "") {
  return "{\n  OPERATION " + operation +
         "\n  GROUP operation-attributes-tag\n"
         "  ATTR charset attributes-charset utf-8\n"
         "  ATTR naturalLanguage attributes-natural-language en\n"
         "  ATTR uri " +
         target + " $uri\n  ATTR name requesting-user-name intruder\n" + extra +
         "\n  STATUS successful-ok\n" + expect + "}\n";
}

IpptoolRun ipptool(const std::string& prefix, const std::string& uri, const std::string& file,
                   const std::string& options = "") {
  IpptoolRun run;
  run.output = run_command(prefix + "timeout 60 ipptool -tv " + options + " " + shell_quote(uri) +
                               " " + shell_quote(file) + " 2>&1",
                           &run.status);
  return run;
}

// The framework's listening local socket of pid, or "" when it has none.
std::string framework_socket(pid_t pid) {
  const std::string lines =
      run_command("ss -Hlxp 2>/dev/null | grep 'pid=" + std::to_string(pid) +
                  ",' | grep -o '/[^ ]*/Send as Fax " + "(Telvana)[0-9]*\\.sock'");
  return lines.substr(0, lines.find('\n'));
}

// An ipp URI reaching a local socket path.
std::string socket_uri(const std::string& path, const std::string& resource) {
  std::string host;
  for (const char c : path) {
    if (c == '/')
      host += "%2F";
    else if (c == ' ')
      host += "%20";
    else
      host += c;
  }
  return "ipp://" + host + resource;
}

// The spool folders (".telvana-spool-*") in folder.
std::vector<std::string> spool_folders(const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& name : folder_entries(folder)) {
    if (name.rfind(".telvana-spool-", 0) == 0) found.push_back(folder + "/" + name);
  }
  return found;
}

bool private_folder_of_ours(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
         (info.st_mode & 077) == 0;
}

std::string test_pdf(const std::string& marker) {
  return "%PDF-1.4\n% " + marker + "\n1 0 obj <<>> endobj\ntrailer <<>>\n%%EOF\n";
}

TEST(PrinterDoors, NoClientCanAdministerThePrinterYetEveryoneCanPrint) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "the program needs a display";
  AppProcess app;
  ASSERT_TRUE(start_printer_app(app)) << app.stderr_text();
  SharedDir files;
  const std::string autostart = "file://" + app.home() + "/config/autostart?ext=desktop";
  struct Case {
    const char* operation;
    bool system;
    std::string extra;
  };
  const std::vector<Case> cases = {
      {"Create-Printer", true,
       "  ATTR keyword printer-service-type print\n  ATTR uri smi55357-device-uri " + autostart +
           "\n  ATTR keyword smi55357-driver pwg_common-300dpi-600dpi-srgb_8\n"
           "  GROUP printer-attributes-tag\n  ATTR name printer-name Intruder"},
      {"Delete-Printer", true, "  ATTR integer printer-id 1"},
      {"Set-System-Attributes", true,
       "  GROUP system-attributes-tag\n  ATTR text system-location Elsewhere"},
      {"Shutdown-All-Printers", true, ""},
      {"Pause-All-Printers", true, ""},
      {"Disable-All-Printers", true, ""},
      {"Pause-Printer", false, ""},
      {"Disable-Printer", false, ""},
      {"Hold-New-Jobs", false, ""},
      {"Set-Printer-Attributes", false,
       "  GROUP printer-attributes-tag\n  ATTR text printer-location Elsewhere"},
  };
  std::vector<std::string> bases = {IPV4_BASE};
  if (ipv6_loopback_exists()) bases.push_back(IPV6_BASE);
  for (const std::string& base : bases) {
    for (const Case& c : cases) {
      const std::string file =
          files.write("request.test",
                      request_test(c.operation, c.system ? "system-uri" : "printer-uri", c.extra));
      const IpptoolRun run =
          ipptool(AS_OTHER_USER, base + (c.system ? "/ipp/system" : "/ipp/print"), file);
      EXPECT_NE(run.status, 0) << c.operation << " over " << base << "\n" << run.output;
      EXPECT_NE(run.output.find("client-error-forbidden"), std::string::npos)
          << c.operation << " over " << base << "\n"
          << run.output;
    }
  }

  // The framework's socket, which admits every client as an administrator, is out of reach.
  const std::string socket = framework_socket(app.pid());
  ASSERT_FALSE(socket.empty());
  EXPECT_TRUE(private_folder_of_ours(socket.substr(0, socket.rfind('/')))) << socket;
  const std::string shutdown =
      files.write("shutdown.test", request_test("Shutdown-All-Printers", "system-uri", ""));
  const IpptoolRun through_socket =
      ipptool(AS_OTHER_USER, socket_uri(socket, "/ipp/system"), shutdown);
  EXPECT_EQ(through_socket.output.find("successful-ok (successful-ok)"), std::string::npos)
      << through_socket.output;

  // The one printer is still there, unchanged and idle; another user prints on either loopback.
  const std::string state = files.write(
      "state.test", request_test("Get-Printers", "system-uri", "",
                                 "  EXPECT printer-state WITH-VALUE 3\n"
                                 "  EXPECT printer-is-accepting-jobs WITH-VALUE true\n"
                                 "  DISPLAY printer-name\n  DISPLAY printer-location\n"));
  const IpptoolRun printers = ipptool(AS_OTHER_USER, IPV4_BASE + "/ipp/system", state);
  EXPECT_EQ(printers.status, 0) << printers.output;
  EXPECT_EQ(count_of(printers.output, "printer-name ("), 1u) << printers.output;
  EXPECT_EQ(printers.output.find("Elsewhere"), std::string::npos) << printers.output;
  const std::string print_test = files.write(
      "print.test",
      read_file(std::string(TELVANA_SOURCE_DIR) + "/tests/printer/ipp/print-named.test"));
  for (const std::string& base : bases) {
    const std::string document = test_pdf(base);
    const std::string pdf = files.write("input.pdf", document);
    const IpptoolRun printed =
        ipptool(AS_OTHER_USER, base + "/ipp/print", print_test,
                "-f " + shell_quote(pdf) + " -d format=application/pdf -d job_name=Printed");
    EXPECT_EQ(printed.status, 0) << printed.output;
  }
  EXPECT_TRUE(wait_until([&] { return pdf_files(app.output_folder()).size() == bases.size(); }))
      << app.log();
  EXPECT_TRUE(app.running());
  EXPECT_EQ(app.stop(SIGTERM), 0);
  EXPECT_TRUE(folder_entries(app.home() + "/config/autostart").empty());
}

TEST(PrinterDoors, APrinterTheProgramDidNotCreateNeverWrites) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "the program needs a display";
  AppProcess app;
  ASSERT_TRUE(start_printer_app(app)) << app.stderr_text();
  // Only the running user reaches the framework's socket, where the framework itself lets any
  // client create printers.
  const std::string socket = framework_socket(app.pid());
  ASSERT_FALSE(socket.empty());
  TempDir files;
  const std::string elsewhere = files / "elsewhere";
  mkdir(elsewhere.c_str(), 0700);
  write_file(files / "create.test",
             request_test("Create-Printer", "system-uri",
                          "  ATTR keyword printer-service-type print\n"
                          "  ATTR uri smi55357-device-uri file://" +
                              elsewhere +
                              "?ext=desktop\n"
                              "  ATTR keyword smi55357-driver pwg_common-300dpi-600dpi-srgb_8\n"
                              "  GROUP printer-attributes-tag\n"
                              "  ATTR name printer-name Intruder"));
  const IpptoolRun created = ipptool("", socket_uri(socket, "/ipp/system"), files / "create.test");
  ASSERT_EQ(created.status, 0) << created.output;
  write_file(files / "input.pdf", test_pdf("intruder"));
  write_file(files / "print.test",
             request_test("Print-Job", "printer-uri",
                          "  ATTR mimeMediaType document-format application/pdf\n"
                          "  FILE " +
                              files / "input.pdf"));
  const IpptoolRun printed = ipptool("", IPV4_BASE + "/ipp/print/Intruder", files / "print.test");
  EXPECT_EQ(printed.status, 0) << printed.output;
  EXPECT_TRUE(wait_until([&] {
    return app.log().find("was not created by this program; nothing is written") !=
           std::string::npos;
  })) << app.log();
  EXPECT_TRUE(folder_entries(elsewhere).empty());
  EXPECT_TRUE(pdf_files(app.output_folder()).empty());
  EXPECT_EQ(app.stop(SIGTERM), 0);
}

TEST(PrinterDoors, TheOtherLoopbackTakenFirstIsLoggedAndShownOnceTheWindowIsShown) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "the program needs a display";
  if (!ipv6_loopback_exists()) GTEST_SKIP() << "no IPv6 loopback address";
  ASSERT_TRUE(wait_until([] { return !port_open(PRINTER_PORT); }, std::chrono::seconds(180)));
  // Another program holds [::1]:8631 only, where clients try first for "localhost".
  const UniqueFd blocker = hold_loopback_port(AF_INET6, PRINTER_PORT);
  ASSERT_TRUE(blocker.is_open());

  AppProcess app;
  ASSERT_TRUE(app.start({"--hidden"}));
  ASSERT_TRUE(wait_until([&] {
    return app.log().find("Failed to add TCP listeners on port 8631.") != std::string::npos;
  })) << app.log();
  // No half printer is left on 127.0.0.1, and nothing is shown while the window is hidden.
  EXPECT_TRUE(wait_until([] { return !port_open(PRINTER_PORT); }));
  EXPECT_FALSE(wait_until([&] { return window_viewable(app.pid(), "Send as Fax (Telvana)"); },
                          std::chrono::seconds(2)));
  // A second start shows the window, and with it the message.
  EXPECT_EQ(app.run_again({}), 0);
  EXPECT_TRUE(wait_until([&] { return window_viewable(app.pid(), "Send as Fax (Telvana)"); }));
  EXPECT_TRUE(app.running());
  EXPECT_EQ(app.stop(SIGTERM), 0);
}

TEST(PrinterDoors, TheSpoolIsAFreshPrivateFolderRemovedAtStop) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "the program needs a display";
  enum class Runtime { private_folder, foreign, too_deep_for_the_socket };
  for (const Runtime kind :
       {Runtime::private_folder, Runtime::foreign, Runtime::too_deep_for_the_socket}) {
    AppProcess app;
    const int name = static_cast<int>(kind);
    std::string runtime = app.home() + "/runtime";
    // The spool's place: the runtime folder, else beside the output folder (the home here);
    // /tmp when the framework's socket would not fit below either.
    std::string base = runtime;
    if (kind == Runtime::foreign) {
      ASSERT_EQ(chown(runtime.c_str(), OTHER_UID, OTHER_UID), 0);
      base = app.home();
    } else if (kind == Runtime::too_deep_for_the_socket) {
      runtime += "/" + std::string(50, 'd');
      mkdir(runtime.c_str(), 0700);
      app.env()["XDG_RUNTIME_DIR"] = runtime;
      base = "/tmp";
    }
    // Made beforehand: a spool of a run that was killed (pid 2^22 + 1 cannot exist) holding a
    // document, and a folder of another user named like ours.
    const std::string stale = base + "/.telvana-spool-4194305-AbCd" + std::to_string(name);
    const std::string foreign = base + "/.telvana-spool-4194306-AbCd" + std::to_string(name);
    mkdir(stale.c_str(), 0700);
    write_file(stale + "/p00001j000000001.pdf", test_pdf("left"));
    mkdir(foreign.c_str(), 0777);
    ASSERT_EQ(chown(foreign.c_str(), OTHER_UID, OTHER_UID), 0);

    ASSERT_TRUE(start_printer_app(app)) << name << app.stderr_text();
    EXPECT_NE(access(stale.c_str(), F_OK), 0) << name;
    EXPECT_EQ(access(foreign.c_str(), F_OK), 0) << name;
    const std::string own = base + "/.telvana-spool-" + std::to_string(app.pid()) + "-";
    std::string spool;
    for (const std::string& folder : spool_folders(base)) {
      if (folder.rfind(own, 0) == 0) spool = folder;
    }
    ASSERT_FALSE(spool.empty()) << name;
    EXPECT_TRUE(private_folder_of_ours(spool)) << name;
    EXPECT_EQ(framework_socket(app.pid()).rfind(spool + "/", 0), 0u) << name;
    if (base != runtime) {
      EXPECT_TRUE(spool_folders(runtime).empty());
    }
    // A spool away from the runtime folder is said in the log.
    EXPECT_EQ(app.log().find("goes to " + base) != std::string::npos, base != runtime) << name;

    // Jobs pass through it as before.
    write_file(app.home() + "/input.pdf", test_pdf(std::to_string(name)));
    EXPECT_EQ(print_file(app.home() + "/input.pdf", "application/pdf", "Spooled").status, 0);
    EXPECT_EQ(read_file(app.output_folder() + "/Spooled.pdf"), test_pdf(std::to_string(name)));
    EXPECT_EQ(app.stop(SIGTERM), 0);
    EXPECT_NE(access(spool.c_str(), F_OK), 0) << name;
    EXPECT_NE(access(("/tmp/pappl" + std::to_string(app.pid()) + ".d").c_str(), F_OK), 0);
    rmdir(foreign.c_str());
  }
}

TEST(PrinterDoors, ForAnOrdinaryUserTheFrameworkSocketStaysInTheSpool) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "the program needs a display";
  // The program runs as nobody, whose framework socket would otherwise sit in /tmp, mode 0777.
  AppProcess app;
  TempDir wrapper;
  chmod(wrapper.path().c_str(), 0755);
  const std::string script = wrapper / "telvana-print";
  write_file(script,
             "#!/bin/sh\nexec " + AS_OTHER_USER + shell_quote(telvana_executable()) + " \"$@\"\n");
  chmod(script.c_str(), 0755);
  app.set_executable(script);
  run_command("chown -R 65534:65534 " + shell_quote(app.home()));
  ASSERT_TRUE(start_printer_app(app)) << app.stderr_text() << app.log();
  const std::string socket = framework_socket(app.pid());
  ASSERT_EQ(socket.rfind(app.home() + "/runtime/.telvana-spool-" + std::to_string(app.pid()), 0),
            0u)
      << socket;
  // It is the program's only framework socket.
  EXPECT_EQ(
      count_of(run_command("ss -Hlxp 2>/dev/null | grep 'pid=" + std::to_string(app.pid()) + ",'"),
               "Send as Fax"),
      1u);
  // A third user cannot reach it.
  SharedDir files;
  const std::string shutdown =
      files.write("shutdown.test", request_test("Shutdown-All-Printers", "system-uri", ""));
  const IpptoolRun run = ipptool("setpriv --reuid=65533 --regid=65533 --clear-groups ",
                                 socket_uri(socket, "/ipp/system"), shutdown);
  EXPECT_EQ(run.output.find("successful-ok (successful-ok)"), std::string::npos) << run.output;
  // The user's own jobs go through the spool as before.
  const std::string pdf = files.write("input.pdf", test_pdf("nobody"));
  EXPECT_EQ(print_file(pdf, "application/pdf", "Ordinary").status, 0);
  EXPECT_EQ(read_file(app.output_folder() + "/Ordinary.pdf"), test_pdf("nobody"));
  EXPECT_EQ(app.stop(SIGTERM), 0);
  EXPECT_TRUE(spool_folders(app.home() + "/runtime").empty());
}

TEST(PrinterDoors, AFreshAccountGetsItsFoldersAndItsLogOnTheFirstStart) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "the program needs a display";
  AppProcess app;
  // Nothing under the home yet: the output folder is $HOME/.local/share/TelvanaPrint.
  app.set_output_folder(app.home() + "/.local/share/TelvanaPrint");
  app.env()["TELVANA_OUTPUT_DIR"] = "";
  app.env()["XDG_DATA_HOME"] = "";
  ASSERT_NE(access((app.home() + "/.local").c_str(), F_OK), 0);
  ASSERT_TRUE(start_printer_app(app)) << app.stderr_text();
  for (const char* made : {"/.local", "/.local/share", "/.local/share/TelvanaPrint"}) {
    EXPECT_TRUE(private_folder_of_ours(app.home() + made)) << made;
  }
  // The framework logs into the same file from its first line on.
  const SharedDir files;
  const std::string bad =
      files.write("bad.test", request_test("Shutdown-All-Printers", "system-uri", ""));
  ipptool("", IPV4_BASE + "/ipp/system", bad);
  EXPECT_TRUE(wait_until([&] {
    return app.log().find("Refused Shutdown-All-Printers") != std::string::npos;
  })) << app.log()
      << app.stderr_text();
  EXPECT_NE(app.log().find("--- Telvana Print-to-Fax started"), std::string::npos);
  EXPECT_EQ(app.stop(SIGTERM), 0);
}

TEST(PrinterDoors, NoJobIsLostWhereRenameNoReplaceIsUnsupported) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "the program needs a display";
  AppProcess app;
  app.env()["LD_PRELOAD"] = RENAME_NOREPLACE_UNSUPPORTED;
  // The sanitizer runtime accepts a preloaded library ahead of it.
  const char* asan = std::getenv("ASAN_OPTIONS");
  app.env()["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
  ASSERT_TRUE(start_printer_app(app)) << app.stderr_text();
  // Same job name: each needs a name of its own, and an existing file is never replaced.
  write_file(app.output_folder() + "/Report.pdf", "kept");
  const std::vector<std::string> documents = {test_pdf("first"), test_pdf("second")};
  for (const std::string& document : documents) {
    write_file(app.home() + "/input.pdf", document);
    EXPECT_EQ(print_file(app.home() + "/input.pdf", "application/pdf", "Report").status, 0);
  }
  EXPECT_EQ(read_file(app.output_folder() + "/Report.pdf"), "kept");
  EXPECT_EQ(read_file(app.output_folder() + "/Report (2).pdf"), documents[0]) << app.log();
  EXPECT_EQ(read_file(app.output_folder() + "/Report (3).pdf"), documents[1]) << app.log();
  EXPECT_EQ(app.stop(SIGTERM), 0);
  for (const std::string& name : folder_entries(app.output_folder())) {
    EXPECT_NE(name.rfind(".telvana-job-", 0), 0u) << name;
  }
}

}  // namespace
