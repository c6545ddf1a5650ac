// The scripts by which results reach the page. Each is built to its full length, however long
// the path or body, and runs through the page's script runner (nothing while there is no page).
#include "bridge/delivery.h"

#include <initializer_list>
#include <string_view>

#include "bridge/page_script.h"
#include "core/text.h"
#include "window/arrival_notice.h"

namespace {

// The pieces joined in order, in one allocation.
std::u16string join(std::initializer_list<std::u16string_view> pieces) {
  std::size_t length = 0;
  for (const std::u16string_view piece : pieces) length += piece.size();
  std::u16string joined;
  joined.reserve(length);
  for (const std::u16string_view piece : pieces) joined.append(piece);
  return joined;
}

}  // namespace

void deliver_new_printed_file(std::unique_ptr<NewPrintedFile> notice) {
  if (notice->arrived) notice_printed_document(notice->path);
  const std::u16string escaped = js_escape(notice->path);
  run_page_script(
      join({u"window.telvana&&typeof window.telvana._onNewPrintedFile==='function'&&"
            u"window.telvana._onNewPrintedFile('",
            escaped, u"')"}));
}

void deliver_upload_result(std::unique_ptr<BridgeRequest> result) {
  const std::u16string path = json_escape(result->first);
  // An error text wins over a storage path: a poster sets only one, but the page must never be
  // told of success when an error was reported.
  const std::u16string json =
      result->third
          ? join({u"{\"path\":\"", path, u"\",\"error\":\"", json_escape(result->third), u"\"}"})
          : join({u"{\"path\":\"", path, u"\",\"storagePath\":\"",
                  json_escape(result->second.value_or(u"")), u"\"}"});
  run_page_script(
      join({u"window.telvana&&typeof window.telvana._onUploadResult==='function'&&"
            u"window.telvana._onUploadResult('",
            js_escape(json), u"')"}));
}

void deliver_token_result(std::unique_ptr<TokenResult> result) {
  run_page_script(join({u"window.telvana&&window.telvana._onTokenResponse(",
                        json_quote(result->body), u",", json_quote(result->error), u")"}));
}

void deliver_http_get_result(std::unique_ptr<BridgeRequest> result) {
  run_page_script(
      join({u"window.telvana&&window.telvana._onHttpGetResponse(", json_quote(result->first), u",",
            json_quote(result->second), u",", json_quote(result->third), u")"}));
}
