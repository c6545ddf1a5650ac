// The printer tried as another local user would: every operation over both loopbacks and the
// framework's socket, jobs relayed by the print service, printers made over IPP, the other
// loopback taken first, the spool folder, a first start in a fresh account, and a file system
// without RENAME_NOREPLACE.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "printer/system_setup.h"
#include "tests/e2e/local_desktop.h"
#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"
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

// The value ipptool shows for attribute in output ("" when it shows none).
std::string shown_value(const std::string& output, const std::string& attribute) {
  const std::string key = attribute + " (integer) = ";
  const std::size_t at = output.find(key);
  if (at == std::string::npos) return "";
  return output.substr(at + key.size(), output.find('\n', at) - at - key.size());
}

// Sends bytes on a fresh connection to 127.0.0.1 at the printer's port, ends the sending side and
// returns what comes back until the printer closes the connection.
std::string raw_exchange(const std::string& bytes) {
  const UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(PRINTER_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "";
  if (send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(bytes.size())) {
    return "";
  }
  shutdown(fd.get(), SHUT_WR);
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = recv(fd.get(), buffer, sizeof buffer, 0)) > 0;)
    answer.append(buffer, got);
  return answer;
}

// A Get-Printer-Attributes request over HTTP with the given Host header line ("" for none).
std::string get_printer_attributes_request(const std::string& host_line) {
  std::string ipp("\x02\x00\x00\x0b\x00\x00\x00\x01\x01", 9);
  const auto attribute = [&](char tag, const std::string& name, const std::string& value) {
    ipp += tag;
    ipp += '\0';
    ipp += static_cast<char>(name.size());
    ipp += name;
    ipp += static_cast<char>(value.size() >> 8);
    ipp += static_cast<char>(value.size() & 0xff);
    ipp += value;
  };
  attribute('\x47', "attributes-charset", "utf-8");
  attribute('\x48', "attributes-natural-language", "en");
  attribute('\x45', "printer-uri", "ipp://localhost:8631/ipp/print");
  ipp += '\x03';
  return "POST /ipp/print HTTP/1.1\r\n" + host_line +
         "Content-Type: application/ipp\r\nContent-Length: " + std::to_string(ipp.size()) +
         "\r\n\r\n" + ipp;
}

TEST(PrinterDoors, OnlyLoopbackNamesReachThePrinterAndEachRefusalIsLoggedOnce) {
  SKIP_WITHOUT_DISPLAY();
  AppProcess app;
  ASSERT_TRUE(start_printer_app(app)) << app.stderr_text();
  struct Case {
    std::string host;  // the Host header's value; "(none)" sends no Host header
    bool answered;
  };
  const Case cases[] = {
      {"localhost", true},
      {"localhost:8631", true},
      {"LocalHost:8631", true},
      {"localhost.", true},
      {"localhost.:8631", true},
      {"127.0.0.1", true},
      {"127.0.0.1:8631", true},
      {"[::1]", true},
      {"[::1]:8631", true},
      // Names a web page can make lead to this machine, and other forms of the address.
      {"7f000001.rebind.example:8631", false},
      {"127.0.0.1.nip.io:8631", false},
      {"localhost.example.com:8631", false},
      {"printer.local:8631", false},
      {"printer.local", false},
      {"127.0.0.2:8631", false},
      {"2130706433:8631", false},
      {"[::ffff:127.0.0.1]:8631", false},
      {"localhost:631", false},
      {"localhost:08631", false},
      {"", false},
      {"(none)", false},
  };
  for (const Case& c : cases) {
    const std::string line = c.host == "(none)" ? "" : "Host: " + c.host + "\r\n";
    // Two requests on one connection: a refused one ends it, so it is answered and logged once.
    const std::string request = get_printer_attributes_request(line);
    const std::string logged =
        "Refused a request for host \"" + (line.empty() ? "" : c.host) + "\" from 127.0.0.1:";
    const std::size_t logged_before = count_of(app.log(), logged);
    const std::string answer = raw_exchange(request + request);
    if (c.answered) {
      EXPECT_EQ(count_of(answer, "HTTP/1.1 200 OK\r\n"), 2u) << c.host << "\n" << answer;
      EXPECT_NE(answer.find("Content-Type: application/ipp"), std::string::npos) << c.host;
    } else {
      EXPECT_TRUE(answer.starts_with("HTTP/1.1 400 Bad Request\r\n")) << c.host << "\n" << answer;
      EXPECT_EQ(count_of(answer, "HTTP/1.1 "), 1u) << c.host << "\n" << answer;
      EXPECT_EQ(count_of(app.log(), logged), logged_before + 1) << c.host << "\n" << app.log();
    }
  }
  // The framework's own lines escape what a request carries as the program's lines do, so that
  // no line break or terminal control of a request reaches the log as it is.
  const std::string forged =
      raw_exchange("GET /job\xc2\x85[12:00:00]\x1b[2J%G1 HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_TRUE(forged.starts_with("HTTP/1.1 400")) << forged;
  EXPECT_TRUE(wait_until([&] {
    return app.log().find("Bad URI '/job\\u0085[12:00:00]\\x1B[2J%G1'.") != std::string::npos;
  })) << app.log();
  EXPECT_EQ(app.log().find("\xc2\x85"), std::string::npos);
  EXPECT_EQ(app.log().find('\x1b'), std::string::npos);
  EXPECT_EQ(app.stop(SIGTERM), 0);
}

TEST(PrinterDoors, OnlyThisUserUsesThePrinterOthersOnlyAskWhatItIs) {
  SKIP_WITHOUT_DISPLAY();
  AppProcess app;
  ASSERT_TRUE(start_printer_app(app)) << app.stderr_text();
  SharedDir files;
  // A job of the user's, waiting for its document.
  const IpptoolRun created =
      ipptool("", IPV4_BASE + "/ipp/print",
              files.write("create.test",
                          request_test("Create-Job", "printer-uri", "", "  DISPLAY job-id\n")));
  const std::string job = shown_value(created.output, "job-id");
  ASSERT_FALSE(job.empty()) << created.output;
  const std::string pdf = files.write("input.pdf", test_pdf("from nobody"));
  const std::string autostart = "file://" + app.home() + "/config/autostart?ext=desktop";
  constexpr const char* OK = "successful-ok (successful-ok)";
  constexpr const char* NOT_AUTHORIZED = "client-error-not-authorized";
  constexpr const char* FORBIDDEN = "client-error-forbidden";
  struct Case {
    const char* operation;
    bool system;
    std::string extra;
    const char* as_this_user;  // nullptr: not tried, it would change the user's jobs
  };
  const std::vector<Case> cases = {
      {"Get-Printer-Attributes", false, "", OK},
      {"Print-Job", false, "  ATTR mimeMediaType document-format application/pdf\n  FILE " + pdf,
       nullptr},
      {"Validate-Job", false, "  ATTR mimeMediaType document-format application/pdf", OK},
      {"Create-Job", false, "", nullptr},
      {"Get-Jobs", false, "", OK},
      {"Get-Job-Attributes", false, "  ATTR integer job-id " + job, OK},
      {"Cancel-Job", false, "  ATTR integer job-id " + job, nullptr},
      {"Cancel-Jobs", false, "", nullptr},
      {"Cancel-My-Jobs", false, "", nullptr},
      {"Identify-Printer", false, "", OK},
      {"Get-Printers", true, "", OK},
      {"Get-System-Attributes", true, "", OK},
      // Administration is refused to every client, this user included.
      {"Create-Printer", true,
       "  ATTR keyword printer-service-type print\n  ATTR uri smi55357-device-uri " + autostart +
           "\n  ATTR keyword smi55357-driver pwg_common-300dpi-600dpi-srgb_8\n"
           "  GROUP printer-attributes-tag\n  ATTR name printer-name Intruder",
       FORBIDDEN},
      {"Delete-Printer", true, "  ATTR integer printer-id 1", FORBIDDEN},
      {"Set-System-Attributes", true,
       "  GROUP system-attributes-tag\n  ATTR text system-location Elsewhere", FORBIDDEN},
      {"Shutdown-All-Printers", true, "", FORBIDDEN},
      {"Pause-All-Printers", true, "", FORBIDDEN},
      {"Disable-All-Printers", true, "", FORBIDDEN},
      {"Pause-Printer", false, "", FORBIDDEN},
      {"Disable-Printer", false, "", FORBIDDEN},
      {"Hold-New-Jobs", false, "", FORBIDDEN},
      {"Set-Printer-Attributes", false,
       "  GROUP printer-attributes-tag\n  ATTR text printer-location Elsewhere", FORBIDDEN},
  };
  // Another user reaches the framework's socket not at all, and over either loopback only asks
  // what the printer is.
  const std::string socket = framework_socket(app.pid());
  ASSERT_FALSE(socket.empty());
  EXPECT_TRUE(private_folder_of_ours(socket.substr(0, socket.rfind('/')))) << socket;
  struct Door {
    std::string system, printer;
  };
  std::vector<Door> doors = {{IPV4_BASE + "/ipp/system", IPV4_BASE + "/ipp/print"},
                             {socket_uri(socket, "/ipp/system"), socket_uri(socket, "/ipp/print")}};
  if (ipv6_loopback_exists())
    doors.push_back({IPV6_BASE + "/ipp/system", IPV6_BASE + "/ipp/print"});
  for (const Case& c : cases) {
    const std::string file =
        files.write("request.test",
                    request_test(c.operation, c.system ? "system-uri" : "printer-uri", c.extra));
    for (const Door& door : doors) {
      const IpptoolRun run = ipptool(AS_OTHER_USER, c.system ? door.system : door.printer, file);
      const bool tcp = &door != &doors[1];
      const bool asks = std::string(c.operation) == "Get-Printer-Attributes";
      EXPECT_EQ(run.status == 0, tcp && asks) << c.operation << " at " << door.printer << "\n"
                                              << run.output;
      if (tcp && !asks) {
        EXPECT_NE(run.output.find(NOT_AUTHORIZED), std::string::npos)
            << c.operation << " at " << door.printer << "\n"
            << run.output;
      }
    }
    if (c.as_this_user != nullptr) {
      const IpptoolRun run = ipptool("", c.system ? doors[0].system : doors[0].printer, file);
      EXPECT_NE(run.output.find(c.as_this_user), std::string::npos) << c.operation << run.output;
    }
  }
  // Nor does another user get anything but IPP answers: a plain web request is refused.
  const std::string get = "curl -s -o /dev/null -w %{http_code} http" + IPV4_BASE.substr(3) + "/";
  EXPECT_EQ(run_command(AS_OTHER_USER + get), "400");
  EXPECT_EQ(run_command(get), "404");
  // Nothing of the other user's was printed, and the user's job still waits, until the user
  // cancels it; the one printer is still there, unchanged and idle.
  const IpptoolRun state =
      ipptool("", IPV4_BASE + "/ipp/print",
              files.write("state.test", request_test("Get-Job-Attributes", "printer-uri",
                                                     "  ATTR integer job-id " + job,
                                                     "  EXPECT job-state WITH-VALUE 4\n")));
  EXPECT_EQ(state.status, 0) << state.output;
  EXPECT_EQ(ipptool("", IPV4_BASE + "/ipp/print",
                    files.write("cancel.test", request_test("Cancel-Job", "printer-uri",
                                                            "  ATTR integer job-id " + job)))
                .status,
            0);
  const IpptoolRun printers =
      ipptool("", IPV4_BASE + "/ipp/system",
              files.write("printers.test",
                          request_test("Get-Printers", "system-uri", "",
                                       "  EXPECT printer-state WITH-VALUE 3\n"
                                       "  EXPECT printer-is-accepting-jobs WITH-VALUE true\n"
                                       "  DISPLAY printer-name\n  DISPLAY printer-location\n")));
  EXPECT_EQ(printers.status, 0) << printers.output;
  EXPECT_EQ(count_of(printers.output, "printer-name ("), 1u) << printers.output;
  EXPECT_EQ(printers.output.find("Elsewhere"), std::string::npos) << printers.output;
  EXPECT_TRUE(pdf_files(app.output_folder()).empty());
  EXPECT_TRUE(folder_entries(app.home() + "/config/autostart").empty());

  // Through the print service, a job is taken only under this user's name: another user's job,
  // sent first, is refused; the user's own, sent after it, lands.
  LocalDesktop cups(HOSTS_WITHOUT_MDNS, false);
  ASSERT_TRUE(cups.started()) << cups.output();
  ASSERT_EQ(
      cups.run("lpadmin -p Telvana -E -v " + shell_quote(printer_uri()) + " -m everywhere").status,
      0);
  const std::string relayed = files.write("relayed.pdf", test_pdf("relayed"));
  ASSERT_EQ(cups.run("lp -d Telvana -o raw -U stranger -t Theirs " + shell_quote(relayed)).status,
            0);
  EXPECT_TRUE(wait_until(
      [&] { return app.log().find("as \"stranger\": only this user") != std::string::npos; },
      std::chrono::seconds(120)))
      << app.log() << cups.output();
  ASSERT_EQ(cups.run("lp -d Telvana -o raw -t Mine " + shell_quote(relayed)).status, 0);
  EXPECT_TRUE(wait_until([&] { return !pdf_files(app.output_folder()).empty(); },
                         std::chrono::seconds(120)))
      << app.log() << cups.output();
  EXPECT_EQ(pdf_files(app.output_folder()), std::vector<std::string>{"Mine.pdf"}) << app.log();
  EXPECT_TRUE(app.running());
  EXPECT_EQ(app.stop(SIGTERM), 0);
}

TEST(PrinterDoors, APrinterTheProgramDidNotCreateNeverWrites) {
  SKIP_WITHOUT_DISPLAY();
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
  SKIP_WITHOUT_DISPLAY();
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
  SKIP_WITHOUT_DISPLAY();
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
  SKIP_WITHOUT_DISPLAY();
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
  const std::string print_test = files.write(
      "print.test",
      read_file(std::string(TELVANA_SOURCE_DIR) + "/tests/printer/ipp/print-named.test"));
  const IpptoolRun printed =
      ipptool(AS_OTHER_USER, IPV4_BASE + "/ipp/print", print_test,
              "-f " + shell_quote(pdf) + " -d format=application/pdf -d job_name=Ordinary");
  EXPECT_EQ(printed.status, 0) << printed.output;
  EXPECT_EQ(read_file(app.output_folder() + "/Ordinary.pdf"), test_pdf("nobody"));
  EXPECT_EQ(app.stop(SIGTERM), 0);
  EXPECT_TRUE(spool_folders(app.home() + "/runtime").empty());
}

TEST(PrinterDoors, AFreshAccountGetsItsFoldersAndItsLogOnTheFirstStart) {
  SKIP_WITHOUT_DISPLAY();
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
  SKIP_WITHOUT_DISPLAY();
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
