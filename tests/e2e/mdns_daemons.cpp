#include "tests/e2e/mdns_daemons.h"

#include <sys/stat.h>

#include "tests/support/app_process.h"

MdnsDaemons::MdnsDaemons(bool with_avahi) {
  const std::string& root = root_.path();
  // Clients of other users (CUPS's backends) reach the bus too.
  chmod(root.c_str(), 0755);
  const bool written =
      write_file(root + "/bus.conf",
                 "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                 "1.0//EN\"\n \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                 "<busconfig>\n  <type>system</type>\n"
                 "  <listen>unix:path=" +
                     root +
                     "/bus</listen>\n"
                     "  <auth>EXTERNAL</auth>\n"
                     "  <policy context=\"default\">\n"
                     "    <allow user=\"*\"/>\n    <allow own=\"*\"/>\n"
                     "    <allow send_destination=\"*\"/>\n    <allow receive_sender=\"*\"/>\n"
                     "  </policy>\n</busconfig>\n");
  if (!written) return;
  if (!bus_.start({"dbus-daemon", "--config-file=" + root + "/bus.conf", "--nofork", "--nopidfile"},
                  {}, root + "/daemons.log")) {
    return;
  }
  struct stat info {};
  if (!wait_until([&] { return stat((root + "/bus").c_str(), &info) == 0 || !bus_.running(); }) ||
      !bus_.running()) {
    return;
  }
  started_ = !with_avahi || start_avahi();
}

MdnsDaemons::~MdnsDaemons() {
  avahi_.stop();
  bus_.stop();
}

bool MdnsDaemons::start_avahi() {
  const std::string done = "Server startup complete.";
  const std::size_t before = count_of(output(), done);
  // The installed configuration, as on a desktop. avahi-daemon keeps its pid file and socket in
  // a fixed folder under /run: a private /run of its own keeps it apart from a daemon of the
  // machine.
  const std::string command =
      "mount -t tmpfs tmpfs /run && exec avahi-daemon --no-chroot --no-drop-root --no-rlimits";
  if (!avahi_.start({"unshare", "--mount", "--propagation", "private", "sh", "-c", command},
                    {{"DBUS_SYSTEM_BUS_ADDRESS", bus_address()}}, root_ / "daemons.log")) {
    return false;
  }
  return wait_until([&] { return count_of(output(), done) > before || !avahi_.running(); }) &&
         avahi_.running();
}

void MdnsDaemons::stop_avahi() {
  avahi_.stop();
}

std::string MdnsDaemons::bus_address() const {
  return "unix:path=" + root_ / "bus";
}

std::string MdnsDaemons::output() const {
  return read_file(root_ / "daemons.log");
}
