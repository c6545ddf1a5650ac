#include "tests/e2e/private_network.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"

namespace {

// Set once this process has made a namespace of its own.
bool entered = false;

// Adds flags to the loopback interface's flags.
bool set_loopback_flags(short flags) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool done = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (done) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | flags);
    done = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  close(fd);
  return done;
}

}  // namespace

bool in_private_network() {
  if (entered) return true;
  struct stat own = {};
  struct stat first = {};
  if (stat("/proc/self/ns/net", &own) != 0 || stat("/proc/1/ns/net", &first) != 0) return false;
  return own.st_ino != first.st_ino || own.st_dev != first.st_dev;
}

bool enter_private_network() {
  if (in_private_network()) return true;
  // Where process 1's namespace cannot be read, a nested namespace does no harm.
  if (unshare(CLONE_NEWNET) != 0) return false;
  entered = true;
  return set_loopback_flags(IFF_UP);
}

bool enable_loopback_multicast() {
  return in_private_network() && set_loopback_flags(IFF_UP | IFF_MULTICAST);
}

namespace {

// Opens one of a process's namespaces ("net", "uts").
int open_namespace(const std::string& process, const char* kind) {
  return open(("/proc/" + process + "/ns/" + kind).c_str(), O_RDONLY | O_CLOEXEC);
}

}  // namespace

OtherHost::OtherHost() {
  // Only a network of the test's own gets a link to another host.
  if (!in_private_network()) return;
  if (!holder_.start(
          {"unshare", "--net", "--uts", "sh", "-c", "hostname otherhost && exec sleep 100000"},
          {.output_path = dir_ / "holder.log"})) {
    return;
  }
  const std::string pid = std::to_string(holder_.pid());
  // Once it sleeps, its namespaces and host name are in place.
  if (!wait_until([&] { return read_file("/proc/" + pid + "/comm") == "sleep\n"; })) return;
  int status = -1;
  output_ =
      run_command("(ip link add veth-here type veth peer name veth-there netns " + pid +
                      " && ip addr add 10.77.0.1/24 dev veth-here && ip link set veth-here up"
                      " && nsenter --net=/proc/" +
                      pid +
                      "/ns/net sh -c 'ip link set lo up && ip addr add 10.77.0.2/24 dev veth-there"
                      " && ip link set veth-there up') 2>&1",
                  &status);
  started_ = status == 0;
}

OtherHost::~OtherHost() {
  // The link goes with the other host's network namespace.
  holder_.stop();
}

OtherHost::Visit::Visit(const OtherHost& host) {
  const std::string self = "self/task/" + std::to_string(syscall(SYS_gettid));
  home_net_ = open_namespace(self, "net");
  home_uts_ = open_namespace(self, "uts");
  const std::string pid = std::to_string(host.holder_.pid());
  const int net = open_namespace(pid, "net");
  const int uts = open_namespace(pid, "uts");
  entered_ = home_net_ >= 0 && home_uts_ >= 0 && net >= 0 && uts >= 0 &&
             setns(net, CLONE_NEWNET) == 0 && setns(uts, CLONE_NEWUTS) == 0;
  if (net >= 0) close(net);
  if (uts >= 0) close(uts);
}

OtherHost::Visit::~Visit() {
  if (home_net_ >= 0) {
    setns(home_net_, CLONE_NEWNET);
    close(home_net_);
  }
  if (home_uts_ >= 0) {
    setns(home_uts_, CLONE_NEWUTS);
    close(home_uts_);
  }
}
