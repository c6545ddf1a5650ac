// Raster jobs (JPEG, PNG, PWG raster) land as real PDF documents; identify and test page.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/printer/ipp_client.h"
#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"

namespace {

// Renders PostScript into a file with Ghostscript's device; true on success.
bool ghostscript(const std::string& postscript, const std::string& device, int dpi,
                 const std::string& output, const TempDir& dir, const std::string& options = "") {
  const std::string source = dir / "source.ps";
  if (!write_file(source, postscript)) return false;
  int status = -1;
  run_command("gs -q -dNOPAUSE -dBATCH -sDEVICE=" + device + " -r" + std::to_string(dpi) + " " +
                  options + " -sOutputFile=" + shell_quote(output) + " " + shell_quote(source) +
                  " 2>&1",
              &status);
  return status == 0;
}

// A portrait image larger than the page, so that it is fitted to it: top half red, bottom half
// blue.
const char* const TWO_COLOUR_IMAGE =
    "%!PS\n<< /PageSize [600 800] >> setpagedevice\n"
    "1 0 0 setrgbcolor 0 400 600 400 rectfill 0 0 1 setrgbcolor 0 0 600 400 rectfill showpage\n";

// Ghostscript options for 8-bit sGray and sRGB PWG raster, types the printer supports.
const char* const PWG_SGRAY_8 = "-dcupsColorSpace=18 -dcupsBitsPerColor=8";
const char* const PWG_SRGB_8 = "-dcupsColorSpace=19 -dcupsBitsPerColor=8";

// Two Letter pages: the first with its top half black, the second 50% gray.
const char* const TWO_PAGES =
    "%!PS\n<< /PageSize [612 792] >> setpagedevice\n"
    "0 setgray 0 396 612 396 rectfill showpage\n"
    "0.5 setgray 0 0 612 792 rectfill showpage\n";

void expect_pixel(const std::string& pdf, int page, int x, int y, Rgb expected,
                  const std::string& what) {
  const auto pixel = render_pixel(pdf, page, 36, x, y);
  ASSERT_TRUE(pixel.has_value()) << what;
  EXPECT_NEAR(pixel->r, expected.r, 12) << what;
  EXPECT_NEAR(pixel->g, expected.g, 12) << what;
  EXPECT_NEAR(pixel->b, expected.b, 12) << what;
}

class PrintRaster : public RunningPrinterTest {
 protected:
  std::string output(const std::string& name) { return app_.output_folder() + "/" + name; }
  bool wait_for_file(const std::string& name) {
    return wait_until([&] { return access(output(name).c_str(), F_OK) == 0; },
                      std::chrono::seconds(120));
  }

  TempDir inputs_;
};

TEST_F(PrintRaster, ImagesBecomeOnePagePdfsWithTheirColours) {
  struct Case {
    std::string device, file, format;
  } cases[] = {
      {"png16m", "image.png", "image/png"},
      {"jpeg", "image.jpg", "image/jpeg"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(ghostscript(TWO_COLOUR_IMAGE, c.device, 72, inputs_ / c.file, inputs_));
    const IpptoolRun run = print_file(inputs_ / c.file, c.format, "Image " + c.file);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string name = "Image " + c.file + ".pdf";
    ASSERT_TRUE(wait_for_file(name)) << c.file;
    const PdfInfo info = pdf_info(output(name));
    ASSERT_EQ(info.pages, 1) << info.text;
    // The default media of the test locale: Letter or A4.
    EXPECT_TRUE(info.page_sizes[0] == "612 x 792 pts" || info.page_sizes[0] == "595 x 842 pts")
        << info.page_sizes[0];
    // Rendered at 36 dpi; the image is fitted to the page and centred.
    const int width = info.page_sizes[0][0] == '6' ? 306 : 297;
    const int height = info.page_sizes[0][0] == '6' ? 396 : 421;
    expect_pixel(output(name), 1, width / 2, height / 4, {255, 0, 0}, c.file + " top");
    expect_pixel(output(name), 1, width / 2, height * 3 / 4, {0, 0, 255}, c.file + " bottom");
  }
}

TEST_F(PrintRaster, TwoPagePwgRasterBecomesATwoPagePdf) {
  struct Case {
    int dpi;
    const char* type;
  } cases[] = {{100, PWG_SGRAY_8}, {300, PWG_SGRAY_8}, {100, PWG_SRGB_8}};
  for (const Case& c : cases) {
    const int dpi = c.dpi;
    const std::string job = "Raster " + std::to_string(dpi) + (c.type == PWG_SRGB_8 ? " rgb" : "");
    const std::string pwg = inputs_ / (job + ".pwg");
    ASSERT_TRUE(ghostscript(TWO_PAGES, "pwgraster", dpi, pwg, inputs_, c.type));
    const IpptoolRun run = print_file(pwg, "image/pwg-raster", job);
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(wait_for_file(job + ".pdf"));
    const PdfInfo info = pdf_info(output(job + ".pdf"));
    ASSERT_EQ(info.pages, 2) << info.text;
    EXPECT_EQ(info.page_sizes[0], "612 x 792 pts");
    EXPECT_EQ(info.page_sizes[1], "612 x 792 pts");
    expect_pixel(output(job + ".pdf"), 1, 153, 99, {0, 0, 0}, "page 1 top");
    expect_pixel(output(job + ".pdf"), 1, 153, 297, {255, 255, 255}, "page 1 bottom");
    expect_pixel(output(job + ".pdf"), 2, 153, 198, {128, 128, 128}, "page 2");
  }
}

TEST_F(PrintRaster, AClientThatStopsHalfWayLeavesNoPdf) {
  const std::string pwg = inputs_ / "pages.pwg";
  ASSERT_TRUE(ghostscript(TWO_PAGES, "pwgraster", 100, pwg, inputs_, PWG_SGRAY_8));
  const std::string document = read_file(pwg);
  ASSERT_GT(document.size(), 1000u);

  // Send the job with a real IPP client and hang up in the middle of the first page.
  http_t* http = httpConnect2("localhost", PRINTER_PORT, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER,
                              1, 10000, nullptr);
  ASSERT_NE(http, nullptr);
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               printer_uri().c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "test");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "Cut off");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
               "image/pwg-raster");
  ASSERT_EQ(cupsSendRequest(http, request, "/ipp/print", CUPS_LENGTH_VARIABLE),
            HTTP_STATUS_CONTINUE);
  const std::size_t half = document.size() / 4;
  EXPECT_EQ(cupsWriteRequestData(http, document.data(), half), HTTP_STATUS_CONTINUE);
  httpFlushWrite(http);
  httpClose(http);
  ippDelete(request);

  // The printer keeps working, and the cut-off job never appears.
  const std::string good = inputs_ / "good.pwg";
  ASSERT_TRUE(ghostscript(TWO_PAGES, "pwgraster", 100, good, inputs_, PWG_SGRAY_8));
  const IpptoolRun run = print_file(good, "image/pwg-raster", "After");
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(wait_for_file("After.pdf"));
  EXPECT_EQ(pdf_files(app_.output_folder()), std::vector<std::string>{"After.pdf"});
}

TEST_F(PrintRaster, ConcurrentRasterClientsGetTheirOwnDocuments) {
  constexpr int CLIENTS = 4;
  std::vector<std::string> files;
  for (int c = 0; c < CLIENTS; ++c) {
    // Each client's page is a different gray.
    const std::string gray = std::to_string(0.2 * c);
    const std::string ps = "%!PS\n<< /PageSize [612 792] >> setpagedevice\n" + gray +
                           " setgray 0 0 612 792 rectfill showpage\n";
    files.push_back(inputs_ / ("client" + std::to_string(c) + ".pwg"));
    ASSERT_TRUE(ghostscript(ps, "pwgraster", 100, files.back(), inputs_, PWG_SGRAY_8));
    const std::string png = inputs_ / ("client" + std::to_string(c) + ".png");
    ASSERT_TRUE(ghostscript(ps, "png16m", 20, png, inputs_));
    files.push_back(png);
  }
  std::vector<std::thread> clients;
  std::vector<int> statuses(files.size(), -1);
  for (std::size_t i = 0; i < files.size(); ++i) {
    clients.emplace_back([&, i] {
      const bool png = files[i].substr(files[i].size() - 4) == ".png";
      statuses[i] = print_file(files[i], png ? "image/png" : "image/pwg-raster",
                               "Client " + std::to_string(i))
                        .status;
    });
  }
  for (std::thread& client : clients) client.join();
  for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(statuses[i], 0) << files[i];
  ASSERT_TRUE(wait_until([&] { return pdf_files(app_.output_folder()).size() >= files.size(); },
                         std::chrono::seconds(120)));
  EXPECT_EQ(pdf_files(app_.output_folder()).size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string name = output("Client " + std::to_string(i) + ".pdf");
    const PdfInfo info = pdf_info(name);
    ASSERT_EQ(info.pages, 1) << name << info.text;
    const int gray = static_cast<int>(0.2 * static_cast<double>(i / 2) * 255 + 0.5);
    expect_pixel(name, 1, 150, 200, {gray, gray, gray}, name);
  }
}

TEST_F(PrintRaster, IdentifyRingsTheBellWithAndWithoutAMessage) {
  IpptoolRun run = run_ipptool("identify.test", {"-d", "message=Fax printer here"});
  ASSERT_EQ(run.status, 0) << run.output;
  run = run_ipptool("/usr/share/cups/ipptool/identify-printer.test");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(wait_until([&] { return app_.stdout_text() == "\aFax printer here\n\a"; }))
      << app_.stdout_text();
}

TEST_F(PrintRaster, TheShippedTestPagePrintsAsAPdf) {
  // The image the test-page lookup finds beside the program.
  const std::string image =
      telvana_executable().substr(0, telvana_executable().rfind('/')) + "/portrait-color.png";
  ASSERT_EQ(access(image.c_str(), R_OK), 0) << image;
  const IpptoolRun run = print_file(image, "image/png", "Test Page");
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(wait_for_file("Test Page.pdf"));
  const PdfInfo info = pdf_info(output("Test Page.pdf"));
  EXPECT_EQ(info.pages, 1) << info.text;
}

}  // namespace
