// The loopback stand-in for the fax service (tests/support/fax_service.py), run by a test.
#pragma once

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

class FaxServiceProcess {
 public:
  // Starts the service on a free loopback port, accepting token; every accepted upload's file is
  // kept in stored_folder(). GET /<name>.html serves that file of pages_folder when one is given.
  explicit FaxServiceProcess(const std::string& token, const std::string& pages_folder = "");
  FaxServiceProcess(const FaxServiceProcess&) = delete;
  FaxServiceProcess& operator=(const FaxServiceProcess&) = delete;

  bool started() const { return port_ > 0; }
  // http://127.0.0.1:<port><path>
  std::string url(const std::string& path) const;
  // The requests the service has seen, one JSON object a line.
  std::string requests() const;
  // Where the service writes the files it accepted, under their file names.
  std::string stored_folder() const { return folder_ / "stored"; }

 private:
  TempDir folder_;
  ChildProcess process_;
  int port_ = 0;
};
