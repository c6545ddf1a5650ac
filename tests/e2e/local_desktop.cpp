#include "tests/e2e/local_desktop.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"

namespace {

// nsswitch.conf of the machine with its "hosts:" line replaced.
std::string nsswitch_with_hosts(const std::string& hosts) {
  std::istringstream machine(read_file("/etc/nsswitch.conf"));
  std::string result;
  for (std::string line; std::getline(machine, line);) {
    if (line.rfind("hosts:", 0) != 0) result += line + "\n";
  }
  return result + "hosts: " + hosts + "\n";
}

// Makes a folder with an owner group and mode as CUPS wants its own.
bool make_folder(const std::string& path, gid_t group, mode_t mode) {
  return mkdir(path.c_str(), mode) == 0 && chown(path.c_str(), 0, group) == 0 &&
         chmod(path.c_str(), mode) == 0;
}

}  // namespace

LocalDesktop::LocalDesktop(const std::string& hosts, bool with_avahi) {
  const std::string& root = root_.path();
  // The daemons drop to their own users, who must reach these folders.
  chmod(root.c_str(), 0755);
  const group* lp = getgrnam("lp");
  const gid_t lp_group = lp != nullptr ? lp->gr_gid : 0;
  int status = -1;
  run_command("cp -a /etc/cups " + shell_quote(root_ / "cups"), &status);
  if (status != 0 || !write_file(root_ / "nsswitch.conf", nsswitch_with_hosts(hosts)) ||
      !make_folder(root_ / "dbus", 0, 0755) || !make_folder(root_ / "log", 0, 0755) ||
      !make_folder(root_ / "spool", lp_group, 0710) ||
      !make_folder(root_ / "spool/tmp", lp_group, 01770) ||
      !make_folder(root_ / "cache", lp_group, 0770)) {
    return;
  }
  const std::string script =
      "set -e; mount -t tmpfs tmpfs /run; mkdir -p /run/dbus /run/cups /run/avahi-daemon; "
      "mount --bind " +
      shell_quote(root_ / "dbus") +
      " /run/dbus; "
      "mount --bind " +
      shell_quote(root_ / "cups") +
      " /etc/cups; "
      "mount --bind " +
      shell_quote(root_ / "nsswitch.conf") +
      " /etc/nsswitch.conf; "
      "mount --bind " +
      shell_quote(root_ / "spool") +
      " /var/spool/cups; "
      "mount --bind " +
      shell_quote(root_ / "cache") +
      " /var/cache/cups; "
      "mount --bind " +
      shell_quote(root_ / "log") +
      " /var/log/cups; "
      "exec sleep 100000";
  if (!namespace_.start({"unshare", "--mount", "--propagation", "private", "sh", "-c", script},
                        {.output_path = root_ / "daemons.log"})) {
    return;
  }
  const std::string comm = "/proc/" + std::to_string(namespace_.pid()) + "/comm";
  if (!wait_until([&] { return read_file(comm) == "sleep\n" || !namespace_.running(); }) ||
      !namespace_.running()) {
    return;
  }
  struct stat info {};
  const std::string bus_socket = root_ / "dbus/system_bus_socket";
  if (!start_daemon(bus_, "dbus-daemon --system --nofork --nopidfile") ||
      !wait_until([&] { return stat(bus_socket.c_str(), &info) == 0 || !bus_.running(); }) ||
      !bus_.running()) {
    return;
  }
  if (!start_daemon(cups_, "cupsd -f") || !wait_until([&] {
        return run("lpstat -r").output == "scheduler is running\n" || !cups_.running();
      }) ||
      !cups_.running()) {
    return;
  }
  started_ = !with_avahi || start_avahi();
}

LocalDesktop::~LocalDesktop() {
  avahi_.stop();
  cups_.stop();
  bus_.stop();
  namespace_.stop();
}

bool LocalDesktop::start_daemon(ChildProcess& daemon, const std::string& command) {
  return daemon.start({"nsenter", "--mount=/proc/" + std::to_string(namespace_.pid()) + "/ns/mnt",
                       "sh", "-c", "exec env -u DBUS_SYSTEM_BUS_ADDRESS " + command},
                      {.output_path = root_ / "daemons.log"});
}

bool LocalDesktop::start_avahi() {
  const std::string done = "Server startup complete.";
  const std::size_t before = count_of(output(), done);
  if (!start_daemon(avahi_, "avahi-daemon")) return false;
  return wait_until([&] { return count_of(output(), done) > before || !avahi_.running(); }) &&
         avahi_.running();
}

void LocalDesktop::stop_avahi() {
  avahi_.stop();
}

std::string LocalDesktop::bus_address() const {
  return "unix:path=" + root_ / "dbus/system_bus_socket";
}

CommandRun LocalDesktop::run(const std::string& command) const {
  CommandRun result;
  result.output =
      run_command("timeout 120 nsenter --mount=/proc/" + std::to_string(namespace_.pid()) +
                      "/ns/mnt sh -c " + shell_quote(command) + " 2>&1",
                  &result.status);
  return result;
}

std::string LocalDesktop::output() const {
  return read_file(root_ / "daemons.log") + read_file(root_ / "log/error_log");
}
