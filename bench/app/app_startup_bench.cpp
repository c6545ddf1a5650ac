// Runs the real program with the reference page in a private home under the current display and
// reports: the time from start to the page's first bridge message (its first "[JS]" log line),
// the CPU used by the whole process tree while idle over 60 s, and the tree's resident memory.
// Goals on the reference machine under Xvfb: < 1 s, < 0.2 %, < 300 MB.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/app_process.h"

namespace {

// Parent of each process, from /proc.
std::map<int, int> parents() {
  std::map<int, int> result;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return result;
  while (dirent* entry = readdir(proc)) {
    const int pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state;
    int parent;
    rest >> state >> parent;
    result[pid] = parent;
  }
  closedir(proc);
  return result;
}

std::vector<int> process_tree(int root) {
  const auto parent_of = parents();
  std::vector<int> tree{root};
  for (std::size_t i = 0; i < tree.size(); ++i) {
    for (const auto& [pid, parent] : parent_of) {
      if (parent == tree[i]) tree.push_back(pid);
    }
  }
  return tree;
}

// utime + stime of a process, in clock ticks.
long long cpu_ticks(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::atoll(field.c_str());
    if (i == 15) stime = std::atoll(field.c_str());
  }
  return utime + stime;
}

long long rss_kb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atoll(line.c_str() + 6);
  }
  return 0;
}

long long tree_cpu_ticks(const std::vector<int>& tree) {
  long long total = 0;
  for (int pid : tree) total += cpu_ticks(pid);
  return total;
}

}  // namespace

int main() {
  if (std::getenv("DISPLAY") == nullptr) {
    std::fprintf(stderr, "app_startup_bench needs a display (run it under Xvfb)\n");
    return 2;
  }
  AppProcess app;
  const auto start = std::chrono::steady_clock::now();
  if (!app.start()) return 1;
  if (!wait_until([&] { return app.log().find("[JS] ") != std::string::npos || !app.running(); },
                  std::chrono::seconds(60)) ||
      !app.running()) {
    std::fprintf(stderr, "the page sent no message:\n%s\n", app.log().c_str());
    return 1;
  }
  const double first_message_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // Let the start-up settle, then measure an idle minute.
  sleep(5);
  const auto tree = process_tree(app.pid());
  const long long ticks_before = tree_cpu_ticks(process_tree(app.pid()));
  const auto idle_start = std::chrono::steady_clock::now();
  sleep(60);
  const auto idle_tree = process_tree(app.pid());
  const long long ticks_after = tree_cpu_ticks(idle_tree);
  const double idle_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - idle_start).count();
  const double cpu_percent = 100.0 * static_cast<double>(ticks_after - ticks_before) /
                             static_cast<double>(sysconf(_SC_CLK_TCK)) / idle_s;
  if (!app.running()) {
    std::fprintf(stderr, "the program ended while idle:\n%s\n", app.log().c_str());
    return 1;
  }
  long long rss = 0;
  for (int pid : idle_tree) rss += rss_kb(pid);
  app.stop(SIGTERM);

  std::printf("processes in the tree:          %zu\n", idle_tree.size());
  std::printf("start to first bridge message:  %.3f s   (goal < 1 s)\n", first_message_s);
  std::printf("idle CPU over %.0f s:            %.3f %%  (goal < 0.2 %%)\n", idle_s, cpu_percent);
  std::printf("resident memory of the tree:    %.1f MB  (goal < 300 MB)\n", rss / 1024.0);
  return 0;
}
