// What the printer says it does, it does: a job's copies and page ranges shape the document that
// arrives, options it cannot apply are answered as ignored, and the attributes that lead
// elsewhere (its DNS-SD name, its pages, its supply) hold.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/test_documents.h"
#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"

namespace {

using Ipp = std::unique_ptr<ipp_t, decltype(&ippDelete)>;
const char* const RESOURCE = "/ipp/print";
const std::vector<std::string> PAGES = {"Page one", "Page two", "Page three"};

// An answer of the printer to a request built by add_attributes (on top of the usual ones).
Ipp ask(ipp_op_t operation, const std::function<void(ipp_t*)>& add_attributes,
        const std::string& document = "") {
  std::unique_ptr<http_t, decltype(&httpClose)> http(
      httpConnect2("localhost", PRINTER_PORT, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000,
                   nullptr),
      httpClose);
  if (!http) return Ipp(nullptr, ippDelete);
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               printer_uri().c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  add_attributes(request);
  return Ipp(document.empty() ? cupsDoRequest(http.get(), request, RESOURCE)
                              : cupsDoFileRequest(http.get(), request, RESOURCE, document.c_str()),
             ippDelete);
}

// The names in the answer's unsupported group.
std::vector<std::string> unsupported_names(ipp_t* answer) {
  std::vector<std::string> names;
  for (ipp_attribute_t* attr = ippFirstAttribute(answer); attr;
       attr = ippNextAttribute(answer)) {
    if (ippGetGroupTag(attr) == IPP_TAG_UNSUPPORTED_GROUP) names.push_back(ippGetName(attr));
  }
  return names;
}

// Which of PAGES each page of the PDF at path shows (1-based), in order.
std::vector<int> page_numbers(const std::string& path) {
  std::vector<int> numbers;
  std::istringstream pages(run_command("pdftotext " + shell_quote(path) + " - 2>&1"));
  for (std::string page; std::getline(pages, page, '\f');) {
    for (std::size_t i = 0; i < PAGES.size(); ++i) {
      if (page.find(PAGES[i]) != std::string::npos) numbers.push_back(static_cast<int>(i) + 1);
    }
  }
  return numbers;
}

struct OptionCase {
  const char* name;
  std::function<void(ipp_t*)> options;
  ipp_status_t status;
  std::vector<std::string> unsupported;
  std::vector<int> pages;  // of PAGES; empty: nothing arrives and the job is aborted
};

class JobOptions : public RunningPrinterTest {};

TEST_F(JobOptions, CopiesAndPageRangesShapeTheDocumentAndTheRestIsAnsweredAsIgnored) {
  TempDir inputs;
  const std::string document = text_pdf(PAGES);
  ASSERT_TRUE(write_file(inputs / "three.pdf", document));
  const auto copies = [](int n) {
    return [n](ipp_t* r) { ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", n); };
  };
  const auto ranges = [](std::vector<int> bounds) {
    return [bounds](ipp_t* r) {
      ipp_attribute_t* attr = nullptr;
      for (std::size_t i = 0; i + 1 < bounds.size(); i += 2) {
        if (attr == nullptr) {
          attr = ippAddRange(r, IPP_TAG_JOB, "page-ranges", bounds[i], bounds[i + 1]);
        } else {
          ippSetRange(r, &attr, ippGetCount(attr), bounds[i], bounds[i + 1]);
        }
      }
    };
  };
  const OptionCase cases[] = {
      {"Two copies", copies(2), IPP_STATUS_OK, {}, {1, 2, 3, 1, 2, 3}},
      {"Page two", ranges({2, 2}), IPP_STATUS_OK, {}, {2}},
      {"Pages two to nine", ranges({2, 9}), IPP_STATUS_OK, {}, {2, 3}},
      {"Page three twice",
       [&](ipp_t* r) {
         copies(2)(r);
         ranges({3, 3})(r);
       },
       IPP_STATUS_OK,
       {},
       {3, 3}},
      {"Two ranges",
       ranges({1, 1, 3, 3}),
       IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED,
       {"page-ranges"},
       {1, 2, 3}},
      {"A thousand copies",
       copies(1000),
       IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED,
       {"copies"},
       {1, 2, 3}},
      {"Pages five and six", ranges({5, 6}), IPP_STATUS_OK, {}, {}},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Ipp answer = ask(
        IPP_OP_PRINT_JOB,
        [&](ipp_t* r) {
          ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, c.name);
          ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                       "application/pdf");
          c.options(r);
        },
        inputs / "three.pdf");
    ASSERT_TRUE(answer);
    EXPECT_EQ(ippGetStatusCode(answer.get()), c.status) << cupsLastErrorString();
    EXPECT_EQ(unsupported_names(answer.get()), c.unsupported);
    const int job_id = ippGetInteger(ippFindAttribute(answer.get(), "job-id", IPP_TAG_INTEGER), 0);
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    ASSERT_TRUE(wait_until(
        [&] {
          const Ipp job = ask(IPP_OP_GET_JOB_ATTRIBUTES, [&](ipp_t* r) {
            ippAddInteger(r, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
          });
          state = static_cast<ipp_jstate_t>(
              ippGetInteger(ippFindAttribute(job.get(), "job-state", IPP_TAG_ENUM), 0));
          return state > IPP_JSTATE_STOPPED;
        },
        std::chrono::seconds(60)));
    const std::string output = app_.output_folder() + "/" + c.name + ".pdf";
    if (c.pages.empty()) {
      EXPECT_EQ(state, IPP_JSTATE_ABORTED);
      EXPECT_NE(access(output.c_str(), F_OK), 0);
      continue;
    }
    EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
    EXPECT_EQ(page_numbers(output), c.pages);
    // What the job could not have is left out, and the document then arrives as it was sent.
    if (!c.unsupported.empty()) {
      EXPECT_TRUE(read_file(output) == document);
    }
  }
}

TEST_F(JobOptions, TheAttributesSayWhatThePrinterDoesAndLeadToPagesThatExist) {
  const Ipp answer = ask(IPP_OP_GET_PRINTER_ATTRIBUTES, [](ipp_t*) {});
  ASSERT_TRUE(answer);
  const auto value = [&](const char* name) {
    char text[1024] = "";
    ippAttributeString(ippFindAttribute(answer.get(), name, IPP_TAG_ZERO), text, sizeof text);
    return std::string(text);
  };
  const struct {
    const char* name;
    std::string value;
  } attributes[] = {
      {"copies-supported", "1-999"},
      {"page-ranges-supported", "true"},
      {"printer-dns-sd-name", "Send as Fax (Telvana)"},
      {"overrides-supported", "document-number,pages"},
      {"printer-supply-description", "Space for documents"},
  };
  for (const auto& a : attributes) EXPECT_EQ(value(a.name), a.value) << a.name;
  EXPECT_NE(value("printer-supply").find(";type=other;maxcapacity=100;level="), std::string::npos)
      << value("printer-supply");
  for (const char* link : {"printer-more-info", "printer-supply-info-uri"}) {
    SCOPED_TRACE(link);
    EXPECT_EQ(run_command("curl -s -o /dev/null -w '%{http_code} %{content_type}' " +
                          shell_quote(value(link))),
              "200 text/html; charset=utf-8");
  }
}

}  // namespace
