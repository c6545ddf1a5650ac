// The registry of job ids whose output is being or has been written.
#include "printer/job_claims.h"

#include <array>
#include <condition_variable>
#include <mutex>

namespace {

// A duplicate thread only ever appears for a job near the head of the queue, so the most
// recent claims are enough to recognize one.
constexpr std::size_t REMEMBERED_JOBS = 256;

struct ClaimSlot {
  int job_id = 0;
  bool done = false;
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

}  // namespace

JobClaim claim_job(int job_id) {
  ClaimRegistry& claims = registry();
  std::unique_lock lock(claims.mutex);
  if (ClaimSlot* slot = find_slot(claims, job_id)) {
    claims.finished.wait(lock, [&] { return slot->job_id != job_id || slot->done; });
    return JobClaim::duplicate;
  }
  ClaimSlot& slot = claims.slots[claims.next];
  claims.next = (claims.next + 1) % claims.slots.size();
  slot.job_id = job_id;
  slot.done = false;
  return JobClaim::owner;
}

void finish_job_claim(int job_id) {
  ClaimRegistry& claims = registry();
  {
    std::lock_guard lock(claims.mutex);
    if (ClaimSlot* slot = find_slot(claims, job_id)) slot->done = true;
  }
  claims.finished.notify_all();
}
