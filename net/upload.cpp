// The printed-file upload worker: one PDF from the output folder to the fax service.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/config.h"
#include "core/log.h"
#include "core/text.h"
#include "core/unique_fd.h"
#include "files/printed_file_path.h"
#include "net/http_client.h"
#include "net/upload_body.h"
#include "net/workers.h"
#include "platform/message_box.h"

namespace {

// 150 MiB: a larger file is refused, deleted and the user warned.
constexpr uint64_t UPLOAD_SIZE_LIMIT = 157286400;
constexpr int UPLOAD_SIZE_LIMIT_MB = 150;

constexpr std::u16string_view CANNOT_READ_FILE = u"Cannot read file";
constexpr std::u16string_view NATIVE_HANDLED = u"native_handled";
constexpr std::u16string_view TOO_LARGE_CAPTION = u"File cannot be faxed";
constexpr std::u16string_view TOKEN_CONTROL_ERROR = u"Token contains CR, LF or NUL";

// Posts an upload result carrying only the path and an error text.
void post_upload_error(Delivery<BridgeRequest> deliver, std::u16string_view path,
                       std::u16string_view error) {
  post_result(deliver, std::make_unique<BridgeRequest>(BridgeRequest{
                           std::u16string(path), std::nullopt, std::u16string(error)}));
}

// The printed file the page named, opened for reading, with its folder and size.
struct OpenedFile {
  UniqueFd folder;
  UniqueFd file;
  std::string name;
  uint64_t size = 0;
};

// Opens path when it is a regular file directly inside the output folder. A path elsewhere, a
// symbolic link or anything but a regular file is refused with a log line; a file that is
// simply gone is not logged.
bool open_printed_file(std::u16string_view path, OpenedFile& opened) {
  const std::optional<std::string> name = printed_file_name(path);
  if (!name) {
    log_printf(u"[uploadPrintedFile] Refused: not a file in the output folder: %s", path);
    return false;
  }
  // Only printed documents leave the machine: never the log or any other file of the folder.
  if (!matches_pdf_pattern(*name)) {
    log_printf(u"[uploadPrintedFile] Refused: not a printed PDF: %s", path);
    return false;
  }
  opened.folder.reset(
      open(app_config().output_folder.utf8.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (opened.folder.get() < 0) return false;
  // Non-blocking, so that a FIFO put in place of a file cannot stall the open.
  opened.file.reset(
      openat(opened.folder.get(), name->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (opened.file.get() < 0) {
    if (errno == ELOOP) {
      log_printf(u"[uploadPrintedFile] Refused: not a regular file: %s", path);
    }
    return false;
  }
  struct stat status {};
  if (fstat(opened.file.get(), &status) != 0) return false;
  if (!S_ISREG(status.st_mode)) {
    log_printf(u"[uploadPrintedFile] Refused: not a regular file: %s", path);
    return false;
  }
  opened.name = *name;
  opened.size = static_cast<uint64_t>(status.st_size);
  return true;
}

// "The file “name” is too large to fax (N MB). The limit is 150 MB."
std::u16string too_large_warning(const std::string& name, uint64_t size) {
  char megabytes[64];
  std::snprintf(megabytes, sizeof megabytes, "%.0f", static_cast<double>(size) / 1048576.0);
  return u"The file \u201C" + *utf8_to_wide(name) + u"\u201D is too large to fax (" +
         *utf8_to_wide(megabytes) + u" MB). The limit is " +
         *utf8_to_wide(std::to_string(UPLOAD_SIZE_LIMIT_MB)) + u" MB.";
}

// Refuses a file over the limit: deletes it, tells the page the host handles it, warns the user.
void refuse_oversize_file(std::u16string_view path, const OpenedFile& opened,
                          Delivery<BridgeRequest> deliver) {
  log_printf(u"[uploadPrintedFile] File too large: %zu bytes - deleting and alerting user.",
             opened.size);
  // unlinkat never follows a link: only the name inside the output folder goes.
  unlinkat(opened.folder.get(), opened.name.c_str(), 0);
  post_upload_error(deliver, path, NATIVE_HANDLED);
  show_message_box(too_large_warning(opened.name, opened.size), TOO_LARGE_CAPTION,
                   MessageBoxIcon::warning);
}

std::u16string upload_headers(std::u16string_view boundary, std::u16string_view token) {
  std::u16string headers = u"Content-Type: multipart/form-data; boundary=";
  headers.append(boundary);
  headers.append(u"\r\nAuthorization: Bearer ").append(token);
  headers.append(u"\r\nX-Kest-App: platform=printer;appname=telvana;appver=");
  headers.append(app_config().app_version);
  headers.append(u"\r\nX-Kest-App-Version: web\r\nX-Kest-Client-Id: fax-printer-client");
  return headers;
}

// The page's result for a finished exchange, with its log line.
std::unique_ptr<BridgeRequest> upload_result(std::u16string_view path, const HttpResult& http) {
  auto result = std::make_unique<BridgeRequest>();
  result->first = std::u16string(path);
  if (http.error) {
    const std::optional<std::u16string> error = utf8_to_wide(*http.error);
    log_printf(u"[uploadPrintedFile] Request error: %s",
               error ? *error : std::u16string(u"(unable to decode error)"));
    result->third = error;
  } else if (http.status >= 200 && http.status <= 299) {
    const std::optional<std::u16string> body = utf8_to_wide(http_body_text(http));
    result->second = body ? json_get_string(*body, u"path") : std::u16string();
    log_printf(u"[uploadPrintedFile] HTTP %d OK -> %s", http.status,
               result->second ? *result->second : std::u16string(u"(missing path)"));
  } else {
    const std::optional<std::u16string> body = utf8_to_wide(http_body_text(http));
    log_printf(u"[uploadPrintedFile] HTTP %d: %.400s", http.status,
               body ? *body : std::u16string(u"(empty response)"));
    result->third = u"HTTP " + *utf8_to_wide(std::to_string(http.status));
  }
  return result;
}

}  // namespace

void upload_worker(std::unique_ptr<BridgeRequest> request, Delivery<BridgeRequest> deliver) {
  const std::u16string path = request->first.value_or(u"");
  const std::u16string token = request->second.value_or(u"");
  const std::u16string url = request->third.value_or(u"");
  request.reset();

  // A token holding a line break would end its header and start others of its own.
  if (has_line_break_or_nul(token)) {
    log_printf(u"[uploadPrintedFile] Refused: the token contains CR, LF or NUL");
    post_upload_error(deliver, path, TOKEN_CONTROL_ERROR);
    return;
  }
  // Plain http would carry the token across the network for anyone on the way to read.
  if (token_url_unencrypted(url)) {
    log_printf(u"[uploadPrintedFile] Refused: the token is not sent unencrypted to %s", url);
    post_upload_error(deliver, path, *utf8_to_wide(PLAIN_HTTP_TOKEN_ERROR));
    return;
  }
  OpenedFile opened;
  if (!open_printed_file(path, opened)) {
    post_upload_error(deliver, path, CANNOT_READ_FILE);
    return;
  }
  if (opened.size > UPLOAD_SIZE_LIMIT) {
    refuse_oversize_file(path, opened, deliver);
    return;
  }

  const std::string boundary = current_upload_boundary();
  UploadBody body;
  body.head = multipart_head(boundary, opened.name);
  body.fd = opened.file.get();
  body.file_size = opened.size;
  body.tail = multipart_tail(boundary);
  const std::u16string headers = upload_headers(*utf8_to_wide(boundary), token);

  log_printf(u"[uploadPrintedFile] POST %s (%lu KB, proxy=WinHTTP default)", url,
             opened.size / 1024);
  const HttpResult http = http_post_stream(url, headers, upload_body_source(body), true);
  if (body.file_failed) {
    log_printf(u"[uploadPrintedFile] File could not be read in full while sending: %s", path);
    post_upload_error(deliver, path, CANNOT_READ_FILE);
    return;
  }
  post_result(deliver, upload_result(path, http));
}
