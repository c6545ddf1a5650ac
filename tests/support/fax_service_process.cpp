#include "tests/support/fax_service_process.h"

#include <sys/stat.h>

#include <cstdlib>

#include "tests/support/app_process.h"

FaxServiceProcess::FaxServiceProcess(const std::string& token, const std::string& pages_folder) {
  mkdir(stored_folder().c_str(), 0700);
  const std::string port_file = folder_ / "port";
  const std::string script = std::string(TELVANA_SOURCE_DIR) + "/tests/support/fax_service.py";
  std::vector<std::string> argv = {"python3", script, "--port-file", port_file,
                                   "--token", token,  "--store",     stored_folder()};
  if (!pages_folder.empty()) argv.insert(argv.end(), {"--pages", pages_folder});
  if (!process_.start(argv, {.output_path = folder_ / "service.log"})) {
    return;
  }
  if (wait_until([&] { return !read_file(port_file).empty() || !process_.running(); })) {
    port_ = std::atoi(read_file(port_file).c_str());
  }
}

std::string FaxServiceProcess::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string FaxServiceProcess::requests() const {
  int status = -1;
  const std::string body =
      run_command("curl -s --noproxy '*' " + shell_quote(url("/requests")), &status);
  return status == 0 ? body : std::string();
}
