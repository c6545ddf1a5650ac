// ipptool driven from tests against the running printer.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/app_process.h"

// The printer's IPP URI.
std::string printer_uri();

struct IpptoolRun {
  int status = -1;     // ipptool's exit status (0: every test passed)
  std::string output;  // its verbose output, stderr included
};

// Runs ipptool -tv with extra arguments, the printer URI and a test file (a name in
// tests/printer/ipp, or a path).
IpptoolRun run_ipptool(const std::string& test_file, const std::vector<std::string>& args = {});

// Prints a file and waits for its job to end; job_name absent sends no job name.
IpptoolRun print_file(const std::string& path, const std::string& format,
                      const std::optional<std::string>& job_name);

// Starts the program with args once no other process holds the printer port (other runs of
// the program may share the machine), and waits until this program itself listens on it.
bool start_printer_app(AppProcess& app, const std::vector<std::string>& args = {});

// The .pdf files of a folder (hidden ones too), sorted.
std::vector<std::string> pdf_files(const std::string& folder);

// Every entry of a folder except "." and "..", sorted.
std::vector<std::string> folder_entries(const std::string& folder);

// A test against the running program: started before each test, stopped with SIGTERM after it,
// and no job may leave a hidden temporary file behind.
class RunningPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  AppProcess app_;
};
