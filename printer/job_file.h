// A job's output file: written under a hidden temporary name in the output folder and
// renamed to its final name only when complete, never over an existing file; and the copy of a
// spooled document into it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Prefix of the hidden temporary names; files with it are never a finished job.
inline constexpr const char* JOB_TEMP_PREFIX = ".telvana-job-";

// The file name (without folder) for a job: the job name's UTF-8 with "/", control
// characters and invalid bytes replaced by "_", no leading ".", cut to fit the file-system
// name limit, a trailing "." + extension removed and then added; "Print job <id>" when the
// name is empty. copy_number > 1 adds " (<n>)" before the extension.
std::string job_file_name(const std::string& job_name, int job_id, const std::string& extension,
                          int copy_number = 1);

class JobFile {
 public:
  // Creates the hidden temporary file in folder; nullopt (errno set) when it cannot.
  static std::optional<JobFile> create(const std::string& folder, int job_id);
  JobFile(JobFile&& other) noexcept;
  JobFile& operator=(JobFile&& other) noexcept;
  JobFile(const JobFile&) = delete;
  JobFile& operator=(const JobFile&) = delete;
  // Removes the temporary file when the job was never committed.
  ~JobFile();

  // Appends all bytes; false (errno set) when the write failed.
  bool write(const void* data, std::size_t size);
  // Flushes the file to disk, closes it, renames it to the first free name of job_file_name()
  // for the job and flushes the folder; returns the final path once both are on disk, or
  // nullopt (errno set, nothing left in the folder) on failure.
  std::optional<std::string> commit(const std::string& job_name, const std::string& extension);
  // Removes the temporary file; nothing arrives in the folder.
  void discard();

  int fd() const { return fd_; }
  const std::string& temp_path() const { return temp_path_; }

 private:
  JobFile(int dir_fd, int fd, std::string folder, std::string temp_name, int job_id);
  void release();
  int dir_fd_ = -1;
  int fd_ = -1;
  std::string folder_;
  std::string temp_name_;
  std::string temp_path_;
  int job_id_ = 0;
};

// Removes temporary job files left in folder by an earlier run that was killed half-way.
void remove_stale_job_files(const std::string& folder);

// Size of the one read buffer of a copy.
inline constexpr std::size_t COPY_BLOCK_SIZE = 65536;

// Outcome of streaming a document into an output file.
enum class CopyResult { copied, read_failed, write_failed };

// Copies the whole document open at fd, from its first byte, into output (errno set on a
// failure). A document that cannot be read to its end is a failure, never a shorter copy.
CopyResult copy_document(int fd, JobFile& output);

// How far from its end a PDF document must carry its "%%EOF" marker.
inline constexpr std::size_t PDF_TRAILER_WINDOW = 1024;

// True when the document open at fd has "%%EOF" within its last PDF_TRAILER_WINDOW bytes: a PDF
// whose transfer stopped early lacks it.
bool ends_with_pdf_trailer(int fd);
