// Nothing printed is cut short, lost or silently stuck: the real program in a mount namespace of
// its own, where the output folder and the spool live on small file systems, meets a cut
// transfer, a document without its end, a full, read-only, removed and renamed output folder
// and a full spool; the client, the log and the user hear of each failure, and the printer goes
// on by itself once the cause is gone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "tests/e2e/reference_page.h"
#include "tests/e2e/streaming_print.h"
#include "tests/e2e/test_documents.h"
#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"
#include "tests/support/x_window.h"

namespace {

// The program with the output folder's parent (1 MiB) and the runtime folder holding the spool
// (4 MiB) on file systems of their own, and the durability calls recorded.
struct SmallDisks {
  TempDir install;
  AppProcess app;
  std::string volume = app.home() + "/volume";
  std::string out = volume + "/out";
  std::string runtime = app.home() + "/runtime";
  std::string calls = app.home() + "/calls.txt";

  bool start() {
    app.set_output_folder(out);
    app.env()["TELVANA_CALL_RECORD"] = calls;
    const char* asan = std::getenv("ASAN_OPTIONS");
    app.env()["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
    mkdir(volume.c_str(), 0700);
    const std::string program = install_reference_page(install, std::nullopt);
    // unshare and sh each exec the next, so the program keeps the process id started.
    app.set_executable("/usr/bin/unshare");
    return start_printer_app(
        app, {"--mount", "--propagation", "private", "sh", "-c",
              "mount -t tmpfs -o size=1m,mode=0700 tmpfs \"$1\" && "
              "mount -t tmpfs -o size=4m,mode=0700 tmpfs \"$2\" && LD_PRELOAD=\"$3\" exec \"$4\"",
              "sh", volume, runtime, DURABILITY_CALLS, program});
  }
  // A path of the program's namespace, as this process reaches it.
  std::string at(const std::string& path) const {
    return "/proc/" + std::to_string(app.pid()) + "/root" + path;
  }
  void inside(const std::string& command) const {
    int status = -1;
    const std::string output = run_command(
        "nsenter -t " + std::to_string(app.pid()) + " -m sh -c " + shell_quote(command) + " 2>&1",
        &status);
    ASSERT_EQ(status, 0) << command << ": " << output;
  }
  std::string log() const { return read_file(at(out + "/telvana-print.log")); }
};

enum class Send { whole, without_trailer, chunks_then_reset, short_of_length };

// Sends half of document and then breaks the connection as kind says.
void send_cut(const std::string& name, const std::string& document, Send kind) {
  StreamingPrint print;
  const bool chunked = kind == Send::chunks_then_reset;
  ASSERT_TRUE(print.begin(name, chunked ? 0 : document.size()));
  ASSERT_TRUE(print.send(document.data(), document.size() / 2));
  if (chunked) print.reset();
}

struct Step {
  const char* name;
  std::function<void(SmallDisks&)> before;
  Send send;
  std::size_t size;
  bool saved;
  const char* job_says;        // part of job-state-message
  const char* printer_reason;  // printer-state-reasons afterwards
  std::size_t boxes;           // failure boxes on screen afterwards
  const char* log;             // part of the log afterwards
};

void nothing(SmallDisks&) {}

std::string value_of(const std::string& output, const std::string& attribute) {
  const std::size_t at = output.find(attribute + " (");
  if (at == std::string::npos) return "";
  const std::size_t start = output.find(" = ", at) + 3;
  return output.substr(start, output.find('\n', start) - start);
}

TEST(SaveFailures, NothingCutShortIsKeptAndEveryFailureReachesTheUser) {
  SKIP_WITHOUT_DISPLAY();
  if (geteuid() != 0) GTEST_SKIP() << "mounting file systems needs root";
  SmallDisks disks;
  ASSERT_TRUE(disks.start()) << disks.app.stderr_text();
  ASSERT_TRUE(wait_until([&] { return disks.log().find("e2e driver ready") != std::string::npos; }))
      << disks.log() << disks.app.stderr_text();

  const Step steps[] = {
      {"Whole", nothing, Send::whole, 20000, true, "Job completed.", "none", 0, ""},
      {"Reset", nothing, Send::chunks_then_reset, 200000, false,
       "The document is incomplete: the connection ended", "none", 0, "Job 2 \"Reset\""},
      {"Short", nothing, Send::short_of_length, 200000, false,
       "The document is incomplete: the connection ended", "none", 0, "Job 3 \"Short\""},
      {"No trailer", nothing, Send::without_trailer, 20000, false,
       "does not end with the PDF trailer", "none", 0, "Job 4 \"No trailer\" is not saved"},
      {"Too big", nothing, Send::whole, 2000000, false, "has no space left", "other", 1,
       "cannot be saved: the output folder"},
      {"Too big again", nothing, Send::whole, 2000000, false, "has no space left", "other", 1, ""},
      {"Fits", nothing, Send::whole, 20000, true, "Job completed.", "none", 1,
       "Documents are saved again."},
      // A read-only view of the folder: the log, open before, goes on being written.
      {"Read-only",
       [](SmallDisks& d) {
         d.inside("mount --bind " + d.out + " " + d.out + " && mount -o remount,bind,ro " + d.out);
       },
       Send::whole, 20000, false, "cannot be written to", "other", 2, "Read-only file system"},
      {"Writable", [](SmallDisks& d) { d.inside("umount " + d.out); }, Send::whole, 20000, true,
       "Job completed.", "none", 2, ""},
      {"After removal",
       [](SmallDisks& d) {
         // The browser may still be writing its profile in the folder: a second pass removes it.
         d.inside("rm -rf " + d.out + " || rm -rf " + d.out);
       },
       Send::whole, 20000, true, "Job completed.", "none", 2, "was removed; watching it anew"},
      {"After renaming", [](SmallDisks& d) { d.inside("mv " + d.out + " " + d.out + ".old"); },
       Send::whole, 20000, true, "Job completed.", "none", 2, "was moved away; watching it anew"},
      {"Spool full", nothing, Send::whole, 6000000, false, "printer's spool folder",
       "spool-area-full", 3, "has no space left"},
      {"Spool free", nothing, Send::whole, 20000, true, "Job completed.", "none", 3, ""},
  };
  TempDir inputs;
  int job_id = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.before(disks);
    std::string document = large_pdf(step.name, step.size);
    if (step.send == Send::without_trailer) document.resize(document.rfind("%%EOF"));
    const std::string input = inputs / "input.pdf";
    ASSERT_TRUE(write_file(input, document));
    if (step.send == Send::whole || step.send == Send::without_trailer) {
      print_file(input, "application/pdf", step.name);
    } else {
      send_cut(step.name, document, step.send);
    }
    const IpptoolRun state =
        run_ipptool(std::string(TELVANA_SOURCE_DIR) + "/tests/e2e/ipp/job-state.test",
                    {"-d", "job_id=" + std::to_string(++job_id)});
    EXPECT_EQ(value_of(state.output, "job-state"), step.saved ? "completed" : "aborted")
        << state.output;
    EXPECT_NE(value_of(state.output, "job-state-message").find(step.job_says), std::string::npos)
        << state.output;
    EXPECT_EQ(value_of(state.output, "printer-state-reasons"), step.printer_reason) << state.output;

    const std::string saved = disks.at(disks.out + "/" + step.name + ".pdf");
    if (step.saved) {
      EXPECT_TRUE(read_file(saved) == document);
      // The page hears of it: the watcher follows the folder wherever it was made again.
      EXPECT_TRUE(wait_until([&] {
        return disks.log().find(page_line("e2e row " + disks.out + "/" + step.name + ".pdf")) !=
               std::string::npos;
      })) << disks.log();
    } else {
      EXPECT_NE(access(saved.c_str(), F_OK), 0);
    }
    for (const std::string& name : folder_entries(disks.at(disks.out))) {
      EXPECT_NE(name.rfind(".telvana-job-", 0), 0u) << name;
    }
    EXPECT_TRUE(wait_until([&] {
      return viewable_window_count(disks.app.pid(), "Send as Fax (Telvana)") == step.boxes;
    })) << viewable_window_count(disks.app.pid(), "Send as Fax (Telvana)");
    EXPECT_TRUE(wait_until([&] { return disks.log().find(step.log) != std::string::npos; }))
        << disks.log();
  }
  // The log of the renamed folder stays as it was; the lines after it are in the new one.
  EXPECT_EQ(read_file(disks.at(disks.out + ".old/telvana-print.log")).find("Spool full"),
            std::string::npos);

  // Durable before done: the file's data, its rename, the folder, and only then the spool copy.
  std::vector<std::string> calls;
  std::istringstream lines(read_file(disks.calls));
  for (std::string line; std::getline(lines, line);) calls.push_back(line);
  const auto first = [&](const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) - calls.begin();
  };
  const auto data = first("fsync " + disks.out + "/.telvana-job-" +
                          std::to_string(disks.app.pid()) + "-1-0.part");
  const auto rename = first("rename Whole.pdf");
  const auto folder = first("fsync " + disks.out);
  const auto spool = std::find_if(calls.begin(), calls.end(),
                                  [](const std::string& call) {
                                    return call.rfind("unlink ", 0) == 0 &&
                                           call.find("/p00001j000000001-") != std::string::npos;
                                  }) -
                     calls.begin();
  EXPECT_LT(data, rename) << read_file(disks.calls);
  EXPECT_LT(rename, folder) << read_file(disks.calls);
  EXPECT_LT(folder, spool) << read_file(disks.calls);
  EXPECT_LT(spool, static_cast<long>(calls.size())) << read_file(disks.calls);
  EXPECT_EQ(disks.app.stop(SIGTERM), 0) << disks.app.stderr_text();
}

}  // namespace
