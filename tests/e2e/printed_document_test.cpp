// A printed document from start to end: the desktop's CUPS scheduler prints to the fax printer
// through the driverless queue the README tells users without avahi to add, the reference page is
// told of the file, uploads it to the fax service with the user's token, shows the storage path and
// deletes the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/e2e/local_desktop.h"
#include "tests/e2e/reference_page.h"
#include "tests/e2e/test_documents.h"
#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"
#include "tests/support/display_guard.h"
#include "tests/support/fax_service_process.h"

namespace {

constexpr const char* TOKEN = "e2e-bearer-token";

struct RoadCase {
  const char* name;
  const char* lp_options;
  const char* title;
  // CUPS hands a raw job over unchanged; otherwise its PDF filter rewrites the document, which
  // keeps its pages and text.
  bool unchanged;
};

std::string pdf_text(const std::string& path) {
  return run_command("pdftotext " + shell_quote(path) + " - 2>&1");
}

TEST(PrintedDocumentRoad, FromCupsThroughThePageToTheFaxService) {
  SKIP_WITHOUT_DISPLAY();
  FaxServiceProcess service(TOKEN);
  ASSERT_TRUE(service.started());
  TempDir install, inputs;
  AppProcess app;
  app.set_executable(
      install_reference_page(install, FaxServiceSettings{service.url("/upload"), TOKEN}));
  ASSERT_TRUE(start_printer_app(app)) << app.log() << app.stderr_text();
  ASSERT_TRUE(wait_until([&] {
    return app.log().find(page_line("e2e status Saved.")) != std::string::npos || !app.running();
  })) << app.log()
      << app.stderr_text();

  LocalDesktop desktop(HOSTS_WITHOUT_MDNS, false);
  ASSERT_TRUE(desktop.started()) << desktop.output();
  const CommandRun queue =
      desktop.run("lpadmin -p Telvana -E -v " + shell_quote(printer_uri()) + " -m everywhere");
  ASSERT_EQ(queue.status, 0) << queue.output << desktop.output();

  const std::string document =
      text_pdf({"Telvana test page one", "Second page of the fax", "Third and last page"});
  ASSERT_TRUE(write_file(inputs / "fax.pdf", document));
  const RoadCase cases[] = {
      {"filtered by CUPS", "", "Quarterly report", false},
      {"raw job", "-o raw", "Signed contract", true},
  };
  int callback_number = 0;
  for (const RoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandRun print = desktop.run("lp -d Telvana -t " + shell_quote(c.title) + " " +
                                         c.lp_options + " " + shell_quote(inputs / "fax.pdf"));
    ASSERT_EQ(print.status, 0) << print.output;

    const std::string name = std::string(c.title) + ".pdf";
    const std::string path = app.output_folder() + "/" + name;
    const std::string stored_line = page_line("e2e result " + path + " | Stored as faxes/" + name);
    ASSERT_TRUE(wait_until([&] { return app.log().find(stored_line) != std::string::npos; },
                           std::chrono::seconds(120)))
        << app.log() << "\nservice: " << service.requests() << "\nCUPS:\n"
        << desktop.output();

    const std::string output = read_file(path);
    const std::string stored = read_file(service.stored_folder() + "/" + name);
    EXPECT_TRUE(!output.empty() && stored == output)
        << "output " << output.size() << " bytes, the service holds " << stored.size();
    if (c.unchanged) {
      EXPECT_TRUE(output == document) << output.size() << " bytes, sent " << document.size();
    } else {
      EXPECT_EQ(pdf_info(path).pages, 3) << pdf_info(path).text;
      EXPECT_EQ(pdf_text(path), pdf_text(inputs / "fax.pdf"));
    }
    const std::string requests = service.requests();
    EXPECT_NE(requests.find("\"authorization\": \"Bearer " + std::string(TOKEN) +
                            "\", \"client\": \"fax-printer-client\", \"files\": [{\"name\": \"" +
                            name + "\""),
              std::string::npos)
        << requests;

    // The user deletes what was stored; a callback URL tells the user-playing script to.
    const std::string url =
        "telvanaprinter://e2e/delete-stored?n=" + std::to_string(++callback_number);
    EXPECT_EQ(app.run_again({url}), 0);
    EXPECT_TRUE(wait_until([&] {
      return app.log().find(page_line("e2e removed " + path)) != std::string::npos &&
             !std::filesystem::exists(path);
    })) << app.log();
    EXPECT_EQ(count_of(app.log(), page_line("e2e row " + path)), 1u) << app.log();
  }
  EXPECT_EQ(pdf_files(app.output_folder()), std::vector<std::string>{});
  EXPECT_EQ(count_of(app.log(), "[JS] log: e2e row "), 2u) << app.log();
}

}  // namespace
