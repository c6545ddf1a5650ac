// The stand-in for libcups' httpRead2(): cut documents become read errors, failed spool writes
// are reported.
#include "printer/pappl_document_read_fault.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/folder_listing.h"
#include "core/unique_fd.h"
#include "printer/job_failure.h"

namespace {

// The document arriving on this connection thread: its job, and the framework's spool file
// for it seen through a handle of our own.
struct IncomingDocument {
  int job_id = 0;
  pappl_printer_t* printer = nullptr;
  bool spooled = false;  // written to a spool file (raster streams are not)
  UniqueFd spool;
  bool delivered = false;  // some of it was handed to the framework
  int cut_job_id = 0;      // the last job whose document was cut short
};

thread_local IncomingDocument incoming;

// The framework's spool folder; set at start-up before any connection.
std::string spool_folder;

using ReadFunction = ssize_t (*)(http_t*, char*, size_t);

ReadFunction library_read() {
  static const auto function = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "httpRead2"));
  return function;
}

// The job still waiting for its document, or null when it is gone or already past that.
pappl_job_t* receiving_job(const IncomingDocument& document) {
  if (document.job_id == 0 || document.printer == nullptr) return nullptr;
  pappl_job_t* job = papplPrinterFindJob(document.printer, document.job_id);
  if (job == nullptr || papplJobGetState(job) >= IPP_JSTATE_STOPPED) return nullptr;
  return job;
}

// The framework's spool file of job_id ("p<printer>j<job, 9 digits>-<name>.<ext>"), opened
// read-only; -1 when there is none.
int open_spool_file(int job_id) {
  const std::string& folder = spool_folder;
  char marker[24];
  std::snprintf(marker, sizeof marker, "j%09d-", job_id);
  FolderListing listing(folder);
  while (const char* name = listing.next()) {
    if (name[0] == 'p' && std::strstr(name, marker) != nullptr) {
      return openat(listing.fd(), name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
  }
  return -1;
}

// The likely error of a failed spool write, which the framework keeps to itself.
int spool_error() {
  struct statvfs info {};
  const std::string& folder = spool_folder;
  if (statvfs(folder.c_str(), &info) != 0) return errno;
  // Less room than one more block of the document: the folder is full.
  if (info.f_bavail * info.f_frsize < 65536) return ENOSPC;
  return access(folder.c_str(), W_OK) == 0 ? EIO : errno;
}

// Tells the job's failure once and forgets the document.
void report_spool_failure(IncomingDocument& document) {
  if (pappl_job_t* job = receiving_job(document)) {
    fail_unsaved_job(job, SaveStage::spool, spool_folder, spool_error());
  }
  document.job_id = 0;
  document.spool.reset();
  document.delivered = false;
}

// The spool file is looked up once the first bytes are read, right after the framework made
// it; a job without one (its document is not spooled, or another request reads the body) is
// not watched.
void find_spool(IncomingDocument& document) {
  if (document.job_id == 0 || !document.spooled || document.spool.is_open()) return;
  document.spool.reset(open_spool_file(document.job_id));
  if (!document.spool.is_open()) document.spooled = false;
}

// Before each read of a spooled document: the framework removes its spool file when writing
// it failed and then reads on only to drain the connection.
void check_spool(IncomingDocument& document) {
  if (document.job_id == 0 || !document.spool.is_open()) return;
  struct stat info {};
  if (fstat(document.spool.get(), &info) == 0 && info.st_nlink == 0) report_spool_failure(document);
}

// The body ended where it should: unless its last write failed, the document is whole in the
// spool.
void document_complete(IncomingDocument& document) {
  check_spool(document);
  if (document.job_id != 0 && document.spool.is_open()) {
    note_stage_worked(document.printer, SaveStage::spool);
  }
  document.job_id = 0;
  document.spool.reset();
  document.delivered = false;
}

// The body broke off: the job is told why, and the read fails.
void document_cut(IncomingDocument& document, http_t* http) {
  if (pappl_job_t* job = receiving_job(document)) {
    const int error = httpError(http);
    fail_incomplete_job(job, error != 0 ? std::string("the connection ended before it (") +
                                              std::strerror(error) + ")"
                                        : std::string("the client sent nothing more in time"));
    document.cut_job_id = document.job_id;
  }
  document.job_id = 0;
  document.spool.reset();
  document.delivered = false;
}

}  // namespace

void watch_spool_writes_in(const std::string& folder) {
  spool_folder = folder;
}

void note_job_receiving(pappl_job_t* job) {
  incoming.job_id = papplJobGetID(job);
  incoming.printer = papplJobGetPrinter(job);
  const char* format = papplJobGetFormat(job);
  incoming.spooled = format == nullptr || (std::strcmp(format, "image/pwg-raster") != 0 &&
                                           std::strcmp(format, "image/urf") != 0);
  incoming.spool.reset();
  incoming.delivered = false;
}

bool take_cut_document(int job_id) {
  if (incoming.cut_job_id != job_id) return false;
  incoming.cut_job_id = 0;
  return true;
}

extern "C" ssize_t httpRead2(http_t* http, char* buffer, size_t length) {
  const ReadFunction read = library_read();
  if (read == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  if (http == nullptr || length == 0) return read(http, buffer, length);
  IncomingDocument& document = incoming;
  // Only the body of a request the server receives is looked at; a read after the body's end
  // means the framework has written all of it.
  if (httpGetState(http) != HTTP_STATE_POST_RECV) {
    if (document.delivered) document_complete(document);
    return read(http, buffer, length);
  }
  check_spool(document);
  const ssize_t got = read(http, buffer, length);
  if (got > 0) {
    document.delivered = document.job_id != 0;
    find_spool(document);
    return got;
  }
  if (got == 0 && httpGetState(http) != HTTP_STATE_POST_RECV && httpError(http) == 0) {
    document_complete(document);
    return 0;
  }
  const int error = got < 0 ? errno : EPIPE;
  document_cut(document, http);
  errno = error;
  return -1;
}
