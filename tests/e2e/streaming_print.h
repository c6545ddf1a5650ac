// A Print-Job sent by the test itself, the document written in chunks, so that the printer can be
// stopped while the document is still arriving.
#pragma once

#include <cups/cups.h>

#include <cstddef>
#include <memory>
#include <string>

class StreamingPrint {
 public:
  // Connects to the printer and sends a Print-Job request for a PDF of document_size bytes (0:
  // sent in chunks of unknown total); false when the printer did not take the request.
  bool begin(const std::string& job_name, std::size_t document_size);
  // Sends the next bytes of the document; false when the printer no longer takes them.
  bool send(const char* data, std::size_t size);
  // Breaks the connection off with a reset, as a client that crashed mid-document.
  void reset();

 private:
  struct HttpClose {
    void operator()(http_t* http) const { httpClose(http); }
  };
  std::unique_ptr<http_t, HttpClose> http_;
};
