#include "tests/e2e/streaming_print.h"

#include <sys/socket.h>

#include "tests/printer/ipp_client.h"
#include "tests/support/app_process.h"

bool StreamingPrint::begin(const std::string& job_name, std::size_t document_size) {
  http_.reset(httpConnect2("localhost", PRINTER_PORT, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1,
                           30000, nullptr));
  if (!http_) return false;
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               printer_uri().c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "e2e");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, job_name.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
               "application/pdf");
  const http_status_t status = cupsSendRequest(http_.get(), request, "/ipp/print", document_size);
  ippDelete(request);
  return status == HTTP_STATUS_CONTINUE;
}

bool StreamingPrint::send(const char* data, std::size_t size) {
  return http_ && cupsWriteRequestData(http_.get(), data, size) == HTTP_STATUS_CONTINUE;
}

void StreamingPrint::reset() {
  if (!http_) return;
  const linger abort_on_close{1, 0};
  setsockopt(httpGetFd(http_.get()), SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  http_.reset();
}
