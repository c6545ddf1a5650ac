// Runs the real program with the reference page in a private home under the current display and
// reports: the time from start to the page's first bridge message (its first "[JS]" log line),
// the CPU used by the whole process tree while idle over 60 s, and the tree's memory.
// Goals on the reference machine under Xvfb: < 1 s, < 0.2 %, < 300 MB.
//
// Memory is given three ways. The sum of VmRSS counts every shared page (the toolkit's and the
// web engine's libraries, mapped by all three processes) once per process. The sum of PSS (from
// smaps_rollup) splits each shared page among all processes that map it, also those outside the
// tree, so it shrinks while other programs use the same libraries. The tree's resident pages,
// each physical page counted once (frame numbers from /proc/<pid>/pagemap, visible to root), is
// what the tree holds in memory whatever else runs: the memory goal is judged by it, and by PSS
// when frame numbers are hidden. Lines starting with "RESULT" are for bench/run-all.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unordered_set>
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

// A "Key:   N kB" field of a /proc file of pid, in kB; 0 when absent.
long long proc_kb(int pid, const char* file, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + key.size());
  }
  return 0;
}

std::string process_name(int pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// kB (KiB, as /proc counts) in decimal megabytes.
double megabytes(long long kb) {
  return kb * 1024.0 / 1e6;
}

// Adds the frame numbers of pid's resident pages to frames; false when they are hidden (not root)
// or unreadable. Only mappings with resident pages are looked up.
bool add_resident_frames(int pid, std::unordered_set<uint64_t>& frames) {
  const std::string proc = "/proc/" + std::to_string(pid);
  const int pagemap = open((proc + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC);
  if (pagemap < 0) return false;
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  constexpr uint64_t PRESENT = 1ULL << 63, FRAME = (1ULL << 55) - 1;
  std::ifstream smaps(proc + "/smaps");
  std::string line;
  unsigned long start = 0, end = 0;
  bool visible = true;
  std::vector<uint64_t> entries(4096);
  while (visible && std::getline(smaps, line)) {
    if (std::sscanf(line.c_str(), "%lx-%lx", &start, &end) == 2) continue;
    if (line.rfind("Rss:", 0) != 0 || std::atoll(line.c_str() + 4) == 0) continue;
    for (uint64_t at = start / page; at < end / page && visible;) {
      const uint64_t count = std::min<uint64_t>(entries.size(), end / page - at);
      const ssize_t got = pread(pagemap, entries.data(), count * sizeof(uint64_t),
                                static_cast<off_t>(at * sizeof(uint64_t)));
      if (got <= 0) break;
      for (ssize_t i = 0; i < got / static_cast<ssize_t>(sizeof(uint64_t)); ++i) {
        if ((entries[i] & PRESENT) == 0) continue;
        if ((entries[i] & FRAME) == 0) visible = false;
        frames.insert(entries[i] & FRAME);
      }
      at += static_cast<uint64_t>(got) / sizeof(uint64_t);
    }
  }
  close(pagemap);
  return visible;
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
  long long rss = 0, pss = 0;
  std::unordered_set<uint64_t> frames;
  bool frames_visible = true;
  std::printf("process            RSS MB   PSS MB\n");
  for (int pid : idle_tree) {
    const long long process_rss = proc_kb(pid, "status", "VmRSS:");
    const long long process_pss = proc_kb(pid, "smaps_rollup", "Pss:");
    std::printf("%-16s %8.1f %8.1f\n", process_name(pid).c_str(), megabytes(process_rss),
                megabytes(process_pss));
    rss += process_rss;
    pss += process_pss;
    frames_visible = add_resident_frames(pid, frames) && frames_visible;
  }
  const long long tree_kb = static_cast<long long>(frames.size()) * (sysconf(_SC_PAGESIZE) / 1024);
  app.stop(SIGTERM);

  std::printf("processes in the tree:          %zu\n", idle_tree.size());
  std::printf("start to first bridge message:  %.3f s   (goal < 1 s)\n", first_message_s);
  std::printf("idle CPU over %.0f s:            %.3f %%  (goal < 0.2 %%)\n", idle_s, cpu_percent);
  if (frames_visible) {
    std::printf("memory of the tree, each page once: %.1f MB  (goal < 300 MB)\n",
                megabytes(tree_kb));
  } else {
    std::printf("memory of the tree, each page once: unknown (frame numbers need root)\n");
  }
  std::printf("memory of the tree, PSS:        %.1f MB  (shares with other programs)\n",
              megabytes(pss));
  std::printf("memory of the tree, RSS summed: %.1f MB  (shared pages counted per process)\n",
              megabytes(rss));
  std::printf("RESULT startup_first_message %.3f s\n", first_message_s);
  std::printf("RESULT idle_cpu %.3f %%\n", cpu_percent);
  if (frames_visible) std::printf("RESULT tree_resident %.1f MB\n", megabytes(tree_kb));
  std::printf("RESULT tree_pss %.1f MB\n", megabytes(pss));
  std::printf("RESULT tree_rss_sum %.1f MB\n", megabytes(rss));
  std::printf("RESULT tree_processes %zu count\n", idle_tree.size());
  return 0;
}
