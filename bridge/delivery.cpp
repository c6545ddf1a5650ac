// The scripts by which results reach the page. Each is built to its full length, however long
// the path or body, and runs through the page's script runner (nothing while there is no page).
#include "bridge/delivery.h"

#include "bridge/page_script.h"
#include "core/text.h"
#include "window/arrival_notice.h"

void deliver_new_printed_file(std::unique_ptr<NewPrintedFile> notice) {
  if (notice->arrived) notice_printed_document(notice->path);
  call_page(u"_onNewPrintedFile", single_quoted(notice->path));
}

void deliver_upload_result(std::unique_ptr<BridgeRequest> result) {
  const std::u16string path = json_escape(result->first);
  // An error text wins over a storage path: a poster sets only one, but the page must never be
  // told of success when an error was reported.
  const std::u16string json = result->third
                                  ? join_text({u"{\"path\":\"", path, u"\",\"error\":\"",
                                               json_escape(result->third), u"\"}"})
                                  : join_text({u"{\"path\":\"", path, u"\",\"storagePath\":\"",
                                               json_escape(result->second.value_or(u"")), u"\"}"});
  call_page(u"_onUploadResult", single_quoted(json));
}

void deliver_token_result(std::unique_ptr<TokenResult> result) {
  call_page(u"_onTokenResponse",
            join_text({json_quote(result->body), u",", json_quote(result->error)}),
            PageGuard::page_object_only);
}

void deliver_http_get_result(std::unique_ptr<BridgeRequest> result) {
  call_page(u"_onHttpGetResponse",
            join_text({json_quote(result->first), u",", json_quote(result->second), u",",
                       json_quote(result->third)}),
            PageGuard::page_object_only);
}
