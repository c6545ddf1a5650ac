// Uploading a 150 MiB printed file to a loopback sink: the upload worker against the curl tool
// (`curl -H Expect: -F file=@...`) on the same file and the same sink, with time and peak memory of
// each.
//
// Goals: the worker's throughput at least 0.9x curl's, and the worker's process peak RSS growing
// by at most 16 MiB during the upload.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/delivery.h"
#include "bridge/page_script.h"
#include "core/config.h"
#include "core/text.h"
#include "net/http_client.h"
#include "net/workers.h"
#include "platform/ui_thread.h"

namespace {

constexpr uint64_t FILE_SIZE = 157286400;
constexpr double MIB = 1048576.0;

std::string folder;
std::string file_path;
int sink_port = 0;
pid_t sink_pid = -1;

// Figures of every run of each side, for the summary.
struct Figures {
  std::vector<double> seconds;
  double peak_rss_mib = 0;
  double rss_growth_mib = 0;
  double median_seconds() const {
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() / 2];
  }
};
Figures worker_figures;
Figures curl_figures;

// Reads one request after another and answers each after its whole body arrived; the body is
// dropped. Runs in a child process so that it adds nothing to the measured memory.
[[noreturn]] void run_sink(int listen_fd) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const int fd = accept(listen_fd, nullptr, nullptr);
    if (fd < 0) continue;
    std::string head;
    ssize_t got = 0;
    while (head.find("\r\n\r\n") == std::string::npos &&
           (got = recv(fd, buffer.data(), buffer.size(), 0)) > 0) {
      head.append(buffer.data(), static_cast<size_t>(got));
    }
    const size_t end = head.find("\r\n\r\n");
    if (end == std::string::npos) {
      close(fd);
      continue;
    }
    std::string lower = head.substr(0, end);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.find("content-length:");
    uint64_t left =
        at == std::string::npos ? 0 : std::strtoull(lower.c_str() + at + 15, nullptr, 10);
    left -= std::min<uint64_t>(left, head.size() - end - 4);
    while (left > 0 && (got = recv(fd, buffer.data(), buffer.size(), 0)) > 0) {
      left -= std::min<uint64_t>(left, static_cast<uint64_t>(got));
    }
    const char response[] =
        "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nConnection: close\r\n\r\n{\"path\":\"p\"}";
    (void)!send(fd, response, sizeof response - 1, MSG_NOSIGNAL);
    close(fd);
  }
}

void start_sink() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(fd, 8);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  sink_port = ntohs(address.sin_port);
  sink_pid = fork();
  if (sink_pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    run_sink(fd);
  }
  close(fd);
}

std::string sink_url() {
  return "http://127.0.0.1:" + std::to_string(sink_port) + "/upload";
}

// A value in kB of /proc/self/status, in MiB.
double status_mib(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0)
      return std::strtod(line.c_str() + std::strlen(key), nullptr) / 1024;
  }
  return 0;
}

// Lets the next peak reading start from the present resident size.
void reset_peak_rss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

std::atomic<int> scripts{0};
std::atomic<int> failed_uploads{0};
// Counts the page's results; one without the sink's storage path is a failed upload.
void count_script(const std::u16string& script) {
  if (script.find(u"storagePath") == std::u16string::npos) {
    ++failed_uploads;
    std::fprintf(stderr, "upload failed: %s\n", wide_to_utf8(script)->c_str());
  }
  ++scripts;
}

void BM_UploadWorker(benchmark::State& state) {
  for (auto _ : state) {
    reset_peak_rss();
    const double before = status_mib("VmRSS:");
    const int expected = scripts + 1;
    auto request = std::make_unique<BridgeRequest>();
    request->first = *utf8_to_wide(file_path);
    request->second = u"bench-token";
    request->third = *utf8_to_wide(sink_url());
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] { upload_worker(std::move(request), deliver_upload_result); });
    while (scripts < expected) g_main_context_iteration(nullptr, TRUE);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    worker.join();
    if (failed_uploads > 0) state.SkipWithError("upload failed");
    state.SetIterationTime(seconds);
    const double peak = status_mib("VmHWM:");
    worker_figures.seconds.push_back(seconds);
    worker_figures.peak_rss_mib = std::max(worker_figures.peak_rss_mib, peak);
    worker_figures.rss_growth_mib = std::max(worker_figures.rss_growth_mib, peak - before);
  }
  state.counters["MiB/s"] = FILE_SIZE / MIB / worker_figures.median_seconds();
  state.counters["peak_rss_MiB"] = worker_figures.peak_rss_mib;
  state.counters["rss_growth_MiB"] = worker_figures.rss_growth_mib;
}

void BM_CurlTool(benchmark::State& state) {
  const std::string form = "file=@" + file_path + ";type=application/pdf";
  const std::string url = sink_url();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
      // "Expect:" keeps curl from waiting a second for a 100 Continue the sink never sends.
      execlp("curl", "curl", "-s", "-o", "/dev/null", "-H", "Expect:", "-F", form.c_str(),
             url.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("curl failed");
    state.SetIterationTime(seconds);
    curl_figures.seconds.push_back(seconds);
    curl_figures.peak_rss_mib = std::max(curl_figures.peak_rss_mib, usage.ru_maxrss / 1024.0);
  }
  state.counters["MiB/s"] = FILE_SIZE / MIB / curl_figures.median_seconds();
  state.counters["peak_rss_MiB"] = curl_figures.peak_rss_mib;
}

BENCHMARK(BM_UploadWorker)->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlTool)->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond);

bool write_test_file() {
  const int fd = open(file_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  std::vector<char> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
  bool written = true;
  for (uint64_t done = 0; done < FILE_SIZE && written; done += block.size()) {
    written = write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
  }
  close(fd);
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  // The sink is forked before any thread exists.
  start_sink();
  char folder_template[] = "/tmp/telvana-upload-bench-XXXXXX";
  folder = mkdtemp(folder_template);
  file_path = folder + "/bench.pdf";
  if (!write_test_file()) {
    std::fprintf(stderr, "cannot write %s\n", file_path.c_str());
    return 1;
  }
  AppConfig config;
  config.output_folder = folder_path(folder);
  set_app_config(config);
  http_client_init();
  set_ui_thread();
  set_script_runner(count_script);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  const double worker_seconds = worker_figures.median_seconds();
  const double curl_seconds = curl_figures.median_seconds();
  std::printf(
      "\n150 MiB upload to a loopback sink, median of %zu runs each\n"
      "  upload worker: %.3f s, %.0f MiB/s, peak RSS %.1f MiB, largest growth during an upload "
      "%.1f MiB\n"
      "  curl -F:       %.3f s, %.0f MiB/s, peak RSS %.1f MiB\n"
      "  throughput worker/curl: %.2fx (goal >= 0.90x); RSS growth goal <= 16 MiB: %s\n",
      worker_figures.seconds.size(), worker_seconds, FILE_SIZE / MIB / worker_seconds,
      worker_figures.peak_rss_mib, worker_figures.rss_growth_mib, curl_seconds,
      FILE_SIZE / MIB / curl_seconds, curl_figures.peak_rss_mib, curl_seconds / worker_seconds,
      worker_figures.rss_growth_mib <= 16 ? "met" : "NOT met");
  // For bench/run-all.
  std::printf("RESULT upload_worker_seconds %.3f s\n", worker_seconds);
  std::printf("RESULT upload_curl_seconds %.3f s\n", curl_seconds);
  std::printf("RESULT upload_worker_peak_rss %.1f MiB\n", worker_figures.peak_rss_mib);
  std::printf("RESULT upload_curl_peak_rss %.1f MiB\n", curl_figures.peak_rss_mib);
  std::printf("RESULT upload_worker_rss_growth %.1f MiB\n", worker_figures.rss_growth_mib);
  std::printf("RESULT upload_failures %d count\n", failed_uploads.load());

  unlink(file_path.c_str());
  rmdir(folder.c_str());
  kill(sink_pid, SIGTERM);
  waitpid(sink_pid, nullptr, 0);
  return 0;
}
