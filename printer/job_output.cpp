// The printer's "file" device and the opening and committing of job output files.
#include "printer/job_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/folders.h"
#include "printer/job_failure.h"

namespace {

// The printer the program created, and where it writes.
struct OwnPrinter {
  std::mutex mutex;
  pappl_printer_t* printer = nullptr;
  std::string device_uri;
  std::optional<OutputTarget> target;
};

OwnPrinter& own_printer() {
  static OwnPrinter record;
  return record;
}

// Creates the folder (with its parents) when it is missing; true when it exists as a writable
// folder afterwards.
bool ensure_folder(const std::string& folder) {
  if (!create_folder_with_parents(folder)) {
    if (errno == EEXIST) errno = ENOTDIR;
    return false;
  }
  return access(folder.c_str(), W_OK) == 0;
}

// Device open: the job's file is written by the driver, which also makes the output folder and
// reports a folder it cannot use for the job, so the device only checks its URI. A device that
// failed to open for a folder problem would hold the queue stopped with no reason given.
bool output_device_open(pappl_device_t* device, const char* device_uri, const char* name) {
  (void)name;
  // A printer made over IPP names a device URI of its own choosing; only ours opens.
  const std::string uri = device_uri ? device_uri : "";
  if (uri != own_device_uri()) {
    papplDeviceError(device,
                     "Output device '%s' was not created by this program; nothing is "
                     "written.",
                     uri.c_str());
    return false;
  }
  if (!output_target_for_uri(uri)) {
    papplDeviceError(device, "Bad output device URI '%s'.", uri.c_str());
    return false;
  }
  return true;
}

void output_device_close(pappl_device_t* device) {
  (void)device;
}

// Nothing is ever written through the device; a write is refused rather than dropped.
ssize_t output_device_write(pappl_device_t* device, const void* buffer, size_t bytes) {
  (void)buffer;
  (void)bytes;
  papplDeviceError(device, "Job data must be written through the job's output file.");
  errno = EIO;
  return -1;
}

}  // namespace

std::optional<OutputTarget> output_target_for_uri(const std::string& device_uri) {
  std::vector<char> scheme(32), userpass(256), host(256), resource(device_uri.size() + 1);
  int port = 0;
  if (device_uri.empty() ||
      httpSeparateURI(HTTP_URI_CODING_ALL, device_uri.c_str(), scheme.data(),
                      static_cast<int>(scheme.size()), userpass.data(),
                      static_cast<int>(userpass.size()), host.data(), static_cast<int>(host.size()),
                      &port, resource.data(),
                      static_cast<int>(resource.size())) < HTTP_URI_STATUS_OK ||
      std::strcmp(scheme.data(), "file") != 0 || resource[0] != '/') {
    return std::nullopt;
  }
  OutputTarget target;
  std::string path = resource.data();
  target.extension = "pdf";
  if (const auto question = path.find('?'); question != std::string::npos) {
    const std::string options = path.substr(question + 1);
    path.resize(question);
    std::size_t start = 0;
    while (start <= options.size()) {
      const std::size_t end = std::min(options.find('&', start), options.size());
      const std::string option = options.substr(start, end - start);
      if (option.rfind("ext=", 0) == 0) target.extension = option.substr(4);
      start = end + 1;
    }
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  target.folder = path;
  // An extension is one plain name part, never a path.
  for (const char c : target.extension) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20) return std::nullopt;
  }
  return target;
}

void set_own_printer(pappl_printer_t* printer, const std::string& device_uri) {
  OwnPrinter& own = own_printer();
  std::lock_guard lock(own.mutex);
  own.printer = printer;
  own.device_uri = device_uri;
  own.target = output_target_for_uri(device_uri);
}

std::optional<OutputTarget> own_output_target(pappl_printer_t* printer) {
  OwnPrinter& own = own_printer();
  std::lock_guard lock(own.mutex);
  if (printer == nullptr || printer != own.printer) return std::nullopt;
  return own.target;
}

std::string own_device_uri() {
  OwnPrinter& own = own_printer();
  std::lock_guard lock(own.mutex);
  return own.device_uri;
}

void register_output_device() {
  papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, output_device_open, output_device_close,
                       nullptr, output_device_write, nullptr, nullptr);
}

std::optional<JobFile> open_output_file(const OutputTarget& target, int job_id) {
  if (!ensure_folder(target.folder)) return std::nullopt;
  return JobFile::create(target.folder, job_id);
}

std::optional<JobFile> open_job_output(pappl_job_t* job, OutputTarget& target) {
  auto parsed = own_output_target(papplJobGetPrinter(job));
  if (!parsed) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "The job's printer was not created by this program; nothing is written.");
    return std::nullopt;
  }
  target = *parsed;
  auto file = open_output_file(target, papplJobGetID(job));
  if (!file) fail_unsaved_job(job, SaveStage::output, target.folder, errno);
  return file;
}

void fail_job_output(pappl_job_t* job, JobFile& file, const OutputTarget& target) {
  const int error = errno;
  // Removed first: on a full disk its room is what the log line needs.
  file.discard();
  fail_unsaved_job(job, SaveStage::output, target.folder, error);
}

bool commit_job_output(pappl_job_t* job, JobFile& file, const OutputTarget& target) {
  const char* name = papplJobGetName(job);
  const auto path = file.commit(name ? name : "", target.extension);
  if (!path) {
    fail_unsaved_job(job, SaveStage::output, target.folder, errno);
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Saved '%s'.", path->c_str());
  note_stage_worked(papplJobGetPrinter(job), SaveStage::output);
  return true;
}
