// A private temporary folder removed with its contents at the end of the test.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path);

// Writes content to path (replacing it); false on failure.
bool write_file(const std::string& path, const std::string& content);
