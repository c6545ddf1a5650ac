// ipptool runs and output-folder listings for the printer tests.
#include "tests/printer/ipp_client.h"

#include <dirent.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"

std::string printer_uri() {
  return "ipp://localhost:" + std::to_string(PRINTER_PORT) + "/ipp/print";
}

IpptoolRun run_ipptool(const std::string& test_file, const std::vector<std::string>& args) {
  const std::string path = test_file.find('/') == std::string::npos
                               ? std::string(TELVANA_SOURCE_DIR) + "/tests/printer/ipp/" + test_file
                               : test_file;
  std::string command = "timeout 300 ipptool -tv";
  for (const std::string& arg : args) command += " " + shell_quote(arg);
  command += " " + shell_quote(printer_uri()) + " " + shell_quote(path) + " 2>&1";
  IpptoolRun run;
  run.output = run_command(command, &run.status);
  return run;
}

IpptoolRun print_file(const std::string& path, const std::string& format,
                      const std::optional<std::string>& job_name) {
  std::vector<std::string> args = {"-f", path, "-d", "format=" + format};
  if (job_name) {
    args.push_back("-d");
    args.push_back("job_name=" + *job_name);
  }
  return run_ipptool(job_name ? "print-named.test" : "print-unnamed.test", args);
}

bool start_printer_app(AppProcess& app, const std::vector<std::string>& args) {
  if (!wait_until([] { return !port_open(PRINTER_PORT); }, std::chrono::seconds(180))) return false;
  if (!app.start(args)) return false;
  const std::string owner = "pid=" + std::to_string(app.pid()) + ",";
  const bool listening =
      wait_until(
          [&] {
            return !app.running() || run_command("ss -Hltnp 'sport = :" +
                                                 std::to_string(PRINTER_PORT) + "' 2>/dev/null")
                                             .find(owner) != std::string::npos;
          },
          std::chrono::seconds(30)) &&
      app.running();
  // The port listens before the printer exists; jobs need the printer itself.
  return listening && wait_until([&] {
           int status = -1;
           run_command("ipptool -q " + shell_quote(printer_uri()) +
                           " get-printer-attributes.test 2>/dev/null",
                       &status);
           return status == 0 || !app.running();
         }) &&
         app.running();
}

std::vector<std::string> folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> pdf_files(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& name : folder_entries(folder)) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pdf") == 0) names.push_back(name);
  }
  return names;
}

void RunningPrinterTest::SetUp() {
  SKIP_WITHOUT_DISPLAY();
  ASSERT_TRUE(start_printer_app(app_)) << app_.stderr_text();
}

void RunningPrinterTest::TearDown() {
  if (!app_.running()) return;
  EXPECT_EQ(app_.stop(SIGTERM), 0) << app_.stderr_text() << app_.log();
  for (const std::string& name : folder_entries(app_.output_folder())) {
    EXPECT_NE(name.rfind(".telvana-job-", 0), 0u) << name;
  }
}
