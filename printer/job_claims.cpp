// The registry of job ids whose output is being or has been written, with their documents.
#include "printer/job_claims.h"

#include <unistd.h>

#include <array>
#include <condition_variable>
#include <mutex>

#include "printer/spool_folder.h"

namespace {

// Duplicate threads and skipped jobs only ever concern jobs near the head of the queue, so the
// most recent jobs are enough to recognize them.
constexpr std::size_t REMEMBERED_JOBS = 256;

struct ClaimSlot {
  int job_id = 0;
  bool claimed = false;
  bool done = false;
  std::shared_ptr<const JobDocument> document;
};

struct ClaimRegistry {
  std::mutex mutex;
  std::condition_variable finished;
  std::array<ClaimSlot, REMEMBERED_JOBS> slots{};
  std::size_t next = 0;
};

ClaimRegistry& registry() {
  static ClaimRegistry instance;
  return instance;
}

ClaimSlot* find_slot(ClaimRegistry& claims, int job_id) {
  for (ClaimSlot& slot : claims.slots) {
    if (slot.job_id == job_id) return &slot;
  }
  return nullptr;
}

// The job's slot, taking over the oldest one when the job has none yet.
ClaimSlot& slot_for(ClaimRegistry& claims, int job_id) {
  if (ClaimSlot* slot = find_slot(claims, job_id)) return *slot;
  ClaimSlot& slot = claims.slots[claims.next];
  claims.next = (claims.next + 1) % claims.slots.size();
  slot = ClaimSlot{};
  slot.job_id = job_id;
  return slot;
}

// Claims an unclaimed slot for the caller, handing over the document.
JobClaimResult take_ownership(ClaimSlot& slot) {
  slot.claimed = true;
  slot.done = false;
  return {JobClaim::owner, std::move(slot.document)};
}

}  // namespace

JobDocument::~JobDocument() {
  if (fd_ >= 0) close(fd_);
}

bool keep_job_document(int job_id, const char* path) {
  ClaimRegistry& claims = registry();
  std::lock_guard lock(claims.mutex);
  ClaimSlot& slot = slot_for(claims, job_id);
  if (slot.document || slot.claimed) return true;
  const int fd = open_spool_document(path);
  if (fd < 0) return false;
  slot.document = std::make_shared<const JobDocument>(fd);
  return true;
}

JobClaimResult claim_job(int job_id) {
  ClaimRegistry& claims = registry();
  std::unique_lock lock(claims.mutex);
  ClaimSlot& slot = slot_for(claims, job_id);
  if (!slot.claimed) return take_ownership(slot);
  claims.finished.wait(lock, [&] { return slot.job_id != job_id || slot.done; });
  return {JobClaim::duplicate, nullptr};
}

JobClaimResult claim_finished_job(int job_id) {
  ClaimRegistry& claims = registry();
  std::lock_guard lock(claims.mutex);
  ClaimSlot& slot = slot_for(claims, job_id);
  if (!slot.claimed) return take_ownership(slot);
  slot.document.reset();
  return {JobClaim::duplicate, nullptr};
}

void finish_job_claim(int job_id) {
  ClaimRegistry& claims = registry();
  {
    std::lock_guard lock(claims.mutex);
    if (ClaimSlot* slot = find_slot(claims, job_id)) slot->done = true;
  }
  claims.finished.notify_all();
}
