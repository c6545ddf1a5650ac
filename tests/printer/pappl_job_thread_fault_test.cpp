// Who writes a job's output, the documents kept for jobs, when a job is forgotten, and saving a
// job the framework completed without calling the driver.
#include "printer/pappl_job_thread_fault.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "printer/copy_job.h"
#include "tests/printer/ipp_client.h"
#include "tests/support/temp_dir.h"

namespace {

// The registry is process-wide: every test works on job ids of its own.
std::atomic<int> next_job_id{500000};
int fresh_job_id() {
  return next_job_id.fetch_add(1);
}

// Whole content of the document held open, read through the copy the driver uses.
std::string document_text(const JobDocument& document, const TempDir& dir) {
  auto output = JobFile::create(dir.path(), 1);
  if (!output || copy_document(document.get(), *output) != CopyResult::copied) return "<failed>";
  const auto path = output->commit("read back", "bin");
  return path ? read_file(*path) : "<failed>";
}

TEST(JobClaims, OneOwnerPerJobWhateverTheOrderOfTheCalls) {
  TempDir dir;
  enum Step { started, claim, ended, finish };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    // Role of each claim or ended step, in order, and whether the owner got the
    // document.
    std::vector<JobClaim> roles;
    std::vector<bool> got_document;
  } cases[] = {
      {"driver only",
       {claim, finish, claim},
       {JobClaim::owner, JobClaim::duplicate},
       {false, false}},
      {"driver owns the kept document",
       {started, claim, finish, ended},
       {JobClaim::owner, JobClaim::duplicate},
       {true, false}},
      {"second start keeps the first document",
       {started, started, claim, finish, claim},
       {JobClaim::owner, JobClaim::duplicate},
       {true, false}},
      {"driver never called: the finish takes the job",
       {started, ended, finish, claim},
       {JobClaim::owner, JobClaim::duplicate},
       {true, false}},
      {"finish while the driver still writes",
       {started, claim, ended, finish},
       {JobClaim::owner, JobClaim::duplicate},
       {true, false}},
      {"late duplicate after the finish took the job",
       {started, ended, finish, started, ended},
       {JobClaim::owner, JobClaim::duplicate},
       {true, false}},
  };
  for (const Case& c : cases) {
    const int job = fresh_job_id();
    const std::string spool = dir / ("spool-" + std::to_string(job));
    ASSERT_TRUE(write_file(spool, "%PDF job " + std::to_string(job)));
    std::vector<JobClaim> roles;
    std::vector<bool> got;
    for (const Step step : c.steps) {
      if (step == started) {
        EXPECT_TRUE(note_job_thread_started(job, spool.c_str())) << c.name;
      } else if (step == finish) {
        finish_job_claim(job);
      } else {
        const JobClaimResult result =
            step == claim ? claim_job(job) : note_job_thread_finished(job);
        roles.push_back(result.role);
        got.push_back(result.document != nullptr);
        if (result.document) {
          EXPECT_EQ(document_text(*result.document, dir), "%PDF job " + std::to_string(job))
              << c.name;
        }
      }
    }
    EXPECT_EQ(roles, c.roles) << c.name;
    EXPECT_EQ(got, c.got_document) << c.name;
  }
}

TEST(JobClaims, ForgetsAJobOnlyWhenNoThreadCanReportItAgain) {
  // Steps on job a, or others done (as many jobs as given, each claimed and finished); then
  // whether a is still remembered (a claim of it is a duplicate) or forgotten (a claim of it
  // starts anew as the owner).
  constexpr int ENOUGH = static_cast<int>(JOBS_DONE_BEFORE_FORGETTING);
  enum Action { started, claim, ended, finish, others_done };
  struct Step {
    Action action;
    int others = 0;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    bool remembered;
  } cases[] = {
      {"printed, its thread ended, enough other jobs done since",
       {{started}, {claim}, {finish}, {ended}, {others_done, ENOUGH}},
       false},
      {"one job too few done since",
       {{started}, {claim}, {finish}, {ended}, {others_done, ENOUGH - 1}},
       true},
      {"a duplicate thread still running",
       {{started}, {started}, {claim}, {finish}, {ended}, {others_done, ENOUGH}},
       true},
      {"the other jobs were done before this one",
       {{started}, {ended}, {others_done, ENOUGH}, {finish}},
       true},
      {"saved without the driver, enough other jobs done since",
       {{started}, {ended}, {finish}, {others_done, ENOUGH}},
       false},
  };
  for (const Case& c : cases) {
    const int a = fresh_job_id();
    for (const Step& step : c.steps) {
      if (step.action == started) note_job_thread_started(a, nullptr);
      if (step.action == claim) claim_job(a);
      if (step.action == ended) note_job_thread_finished(a);
      if (step.action == finish) finish_job_claim(a);
      for (int i = 0; step.action == others_done && i < step.others; ++i) {
        const int other = fresh_job_id();
        claim_job(other);
        finish_job_claim(other);
      }
    }
    const JobClaim role = claim_job(a).role;
    EXPECT_EQ(role, c.remembered ? JobClaim::duplicate : JobClaim::owner) << c.name;
    if (role == JobClaim::owner) finish_job_claim(a);
  }
}

TEST(JobClaims, KeptDocumentOutlivesTheSpoolFile) {
  TempDir dir;
  const int job = fresh_job_id();
  const std::string spool = dir / "p00001j000000001-job.pdf";
  std::string content = "%PDF-1.4\n";
  content.append(3 * COPY_BLOCK_SIZE + 17, 'x');
  ASSERT_TRUE(write_file(spool, content));
  ASSERT_TRUE(note_job_thread_started(job, spool.c_str()));
  // The framework removes the spool file when it finishes the job.
  ASSERT_EQ(unlink(spool.c_str()), 0);
  const JobClaimResult result = note_job_thread_finished(job);
  ASSERT_EQ(result.role, JobClaim::owner);
  ASSERT_NE(result.document, nullptr);
  EXPECT_EQ(document_text(*result.document, dir), content);
  // A second read (another holder) still starts at the first byte.
  EXPECT_EQ(document_text(*result.document, dir), content);
  finish_job_claim(job);

  EXPECT_FALSE(note_job_thread_started(fresh_job_id(), (dir / "missing.pdf").c_str()));
}

TEST(JobClaims, DuplicateReturnsOnlyAfterTheOwnerFinished) {
  for (int round = 0; round < 20; ++round) {
    const int job = fresh_job_id();
    ASSERT_EQ(claim_job(job).role, JobClaim::owner);
    std::atomic<bool> owner_done{false};
    std::atomic<bool> duplicate_saw_done{false};
    std::thread duplicate([&] {
      const JobClaimResult result = claim_job(job);
      duplicate_saw_done = result.role == JobClaim::duplicate && owner_done.load();
    });
    std::this_thread::yield();
    owner_done = true;
    finish_job_claim(job);
    duplicate.join();
    EXPECT_TRUE(duplicate_saw_done) << "round " << round;
  }
}

TEST(CopyDocument, FailsInsteadOfSavingAShorterDocument) {
  TempDir dir;
  auto output = JobFile::create(dir.path(), 3);
  ASSERT_TRUE(output);
  // Reading a folder fails: the copy must say so rather than end as if the file had ended.
  const int folder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  EXPECT_EQ(copy_document(folder, *output), CopyResult::read_failed);
  close(folder);
  output->discard();
  EXPECT_TRUE(folder_entries(dir.path()).empty());
}

class UnprintedJobSave : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(log_open(dir_ / "test.log")); }
  void TearDown() override { log_close(); }

  // A document held open whose spool file is already gone, as the framework leaves it.
  std::shared_ptr<const JobDocument> unlinked_document(const std::string& content) {
    const std::string spool = dir_ / "spool.pdf";
    EXPECT_TRUE(write_file(spool, content));
    const int fd = open(spool.c_str(), O_RDONLY | O_CLOEXEC);
    unlink(spool.c_str());
    return std::make_shared<const JobDocument>(fd);
  }

  TempDir dir_;
};

TEST_F(UnprintedJobSave, SavesTheDocumentUnderTheJobNameOrSaysWhyNot) {
  const std::string out = dir_ / "out";
  const std::string blocked = dir_ / "blocked";
  ASSERT_TRUE(write_file(blocked, "a file where the folder should be"));
  struct Case {
    std::string job_name;
    std::string device_uri;
    bool saved;
    std::string file;   // expected file in out when saved
    std::string log;    // expected part of the log
    bool whole = true;  // the document ends with its trailer
  } cases[] = {
      {"Invoice 7", "file://" + out + "?ext=pdf", true, "Invoice 7.pdf", "saved '" + out},
      {"Invoice 7", "file://" + out + "?ext=pdf", true, "Invoice 7 (2).pdf", "(2).pdf'"},
      {"", "file://" + out + "?ext=pdf", true, "Print job 41.pdf", "Print job 41.pdf"},
      {"Lost", "socket://printer", false, "", "bad output device URI 'socket://printer'"},
      {"Lost", "file://" + blocked + "/sub?ext=pdf", false, "", "cannot create output file"},
      {"Cut", "file://" + out + "?ext=pdf", false, "", "does not end with the PDF trailer", false},
  };
  for (const Case& c : cases) {
    const std::string content =
        "%PDF-1.7 " + c.job_name + c.device_uri + (c.whole ? "\n%%EOF\n" : "");
    const auto document = unlinked_document(content);
    EXPECT_EQ(save_unprinted_job(41, c.job_name, c.device_uri, *document), c.saved) << c.device_uri;
    if (c.saved) {
      EXPECT_EQ(read_file(out + "/" + c.file), content) << c.file;
    }
    EXPECT_NE(read_file(dir_ / "test.log").find(c.log), std::string::npos) << c.log;
  }
  // Only finished files arrive: no hidden temporary file is left behind.
  for (const std::string& name : folder_entries(out)) EXPECT_NE(name[0], '.') << name;
  EXPECT_EQ(folder_entries(out).size(), 3u);
}

}  // namespace
