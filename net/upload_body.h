// The multipart/form-data body of a printed-file upload, streamed from the open file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/http_client.h"

// "Boundary-" and 16 uppercase hex digits: the 32-bit millisecond tick count, the thread id.
std::string upload_boundary(uint32_t tick_count, uint32_t thread_id);

// The boundary of an upload started now on the calling thread.
std::string current_upload_boundary();

// file_name as it stands between the quotes of a part's filename parameter: a double quote,
// backslash, CR or LF, which would end or change the value, is percent-encoded (%22, %5C, %0D,
// %0A) as browsers encode form file names; everything else is kept.
std::string multipart_file_name(std::string_view file_name);

// The bytes before the file's: boundary line, part headers naming file_name (UTF-8, whole, with
// multipart_file_name's encoding), and the blank line.
std::string multipart_head(std::string_view boundary, std::string_view file_name);

// The bytes after the file's: CR LF and the closing boundary line.
std::string multipart_tail(std::string_view boundary);

// One upload body: head, file_size bytes read from fd at offset 0 while they are sent, tail.
struct UploadBody {
  std::string head;
  int fd = -1;
  uint64_t file_size = 0;
  std::string tail;
  // Set when the file gave fewer bytes than file_size or a read failed.
  bool file_failed = false;
};

// A body source over body, which must outlive it.
HttpBodySource upload_body_source(UploadBody& body);
