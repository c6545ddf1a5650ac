// Latency of a printed file's notice: from a rename in the output folder, and from an IPP
// Print-Job request to the running program's printer, to the notice reaching the UI thread.
// Median and 99th percentile over 200 jobs each.
//
// Goals: median under 5 ms for the rename, under 50 ms for the print.
// The print figure needs a display for the program (DISPLAY set, e.g. Xvfb); without one it
// is skipped.
#include <benchmark/benchmark.h>
#include <cups/cups.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bridge/delivery.h"
#include "core/config.h"
#include "core/text.h"
#include "files/file_watcher.h"
#include "tests/files/notice_capture.h"
#include "tests/support/app_process.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int JOBS = 200;
using Clock = std::chrono::steady_clock;

std::string output_folder;
TempDir* staging = nullptr;
bool printer_ready = false;

// Runs the UI loop until the notice for name has been delivered; false on the hang guard.
bool wait_for_notice(const std::string& name) {
  const std::u16string expected = expected_notice(output_folder + "/" + name);
  return pump_until(
      [&] { return !captured_notices().empty() && captured_notices().back() == expected; });
}

// Median and 99th percentile (nearest rank) of the samples, in milliseconds, as counters.
void report_latencies(benchmark::State& state, std::vector<double> samples_ms) {
  if (samples_ms.empty()) return;
  std::sort(samples_ms.begin(), samples_ms.end());
  const auto rank = [&](double fraction) {
    const std::size_t index = static_cast<std::size_t>(fraction * samples_ms.size() + 0.999999);
    return samples_ms[std::clamp<std::size_t>(index, 1, samples_ms.size()) - 1];
  };
  state.counters["median_ms"] = rank(0.5);
  state.counters["p99_ms"] = rank(0.99);
  state.counters["max_ms"] = samples_ms.back();
}

void BM_RenameToNotice(benchmark::State& state) {
  std::vector<double> samples;
  int job = 0;
  for (auto _ : state) {
    const std::string name = "rename-" + std::to_string(job++) + ".pdf";
    const std::string temp = output_folder + "/.rename.tmp";
    if (!write_file(temp, "%PDF-1.4\n% bench\n")) {
      state.SkipWithError("cannot write in the output folder");
      return;
    }
    const auto start = Clock::now();
    rename(temp.c_str(), (output_folder + "/" + name).c_str());
    if (!wait_for_notice(name)) {
      state.SkipWithError("no notice");
      return;
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    state.SetIterationTime(elapsed.count());
    samples.push_back(elapsed.count() * 1000);
  }
  report_latencies(state, samples);
}

// Sends one Print-Job of document under job_name; true when the printer accepted it.
bool send_print_job(const std::string& document, const std::string& job_name) {
  http_t* http = httpConnect2("localhost", PRINTER_PORT, nullptr, AF_UNSPEC,
                              HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
  if (http == nullptr) return false;
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  const std::string uri = "ipp://localhost:" + std::to_string(PRINTER_PORT) + "/ipp/print";
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, job_name.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
               "application/pdf");
  ipp_t* response = cupsDoFileRequest(http, request, "/ipp/print", document.c_str());
  const bool accepted =
      response != nullptr && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
  ippDelete(response);
  httpClose(http);
  return accepted;
}

void BM_PrintJobToNotice(benchmark::State& state) {
  if (!printer_ready) {
    state.SkipWithError("no printer (DISPLAY unset or the program did not start)");
    return;
  }
  const std::string document = *staging / "fax.pdf";
  write_file(document, "%PDF-1.4\n% one fax page\n%%EOF\n");
  std::vector<double> samples;
  int job = 0;
  for (auto _ : state) {
    const std::string job_name = "print-" + std::to_string(job++);
    bool accepted = false;
    const auto start = Clock::now();
    // The request goes from a client thread, as from another program; this thread is the UI.
    std::thread client([&] { accepted = send_print_job(document, job_name); });
    const bool notified = wait_for_notice(job_name + ".pdf");
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    client.join();
    if (!notified) std::fprintf(stderr, "no notice for %s\n", job_name.c_str());
    if (!accepted || !notified) {
      state.SkipWithError("the job was refused or never reported");
      return;
    }
    state.SetIterationTime(elapsed.count());
    samples.push_back(elapsed.count() * 1000);
  }
  report_latencies(state, samples);
}

BENCHMARK(BM_RenameToNotice)->Iterations(JOBS)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrintJobToNotice)->Iterations(JOBS)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TempDir staging_dir;
  staging = &staging_dir;
  // The printer runs in the real program; this process watches its output folder.
  AppProcess app;
  if (std::getenv("DISPLAY") != nullptr) printer_ready = app.start_and_wait_for_printer();
  output_folder = app.output_folder();
  mkdir(output_folder.c_str(), 0700);

  AppConfig config;
  config.output_folder = folder_path(output_folder);
  set_app_config(config);
  capture_notices();
  start_file_watcher(deliver_new_printed_file);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (printer_ready) app.stop(SIGTERM);
  return 0;
}
