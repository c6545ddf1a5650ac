// Which files the page's address serves, which documents may use the bridge, and the address.
#include "bridge/page_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "bridge/web_view_host.h"
#include "core/config.h"
#include "core/text.h"
#include "tests/support/temp_dir.h"

namespace {

class PageFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    ui = dir / "ui";
    std::filesystem::create_directories(ui + "/css");
    std::filesystem::create_directories(dir / "outside");
    write_file(ui + "/index.html", "<html>");
    write_file(ui + "/css/site.css", "body{}");
    write_file(ui + "/a b.js", "1");
    write_file(dir / "secret.txt", "secret");
    write_file(dir / "outside/x.html", "x");
    std::filesystem::create_directory_symlink(dir / "outside", ui + "/out-link");
    std::filesystem::create_symlink(dir / "secret.txt", ui + "/secret-link.txt");
    std::filesystem::create_symlink(ui + "/index.html", ui + "/inner-link.html");
  }
  TempDir dir;
  std::string ui;
};

TEST_F(PageFilesTest, ServesOnlyRegularFilesInsideTheFolder) {
  const std::string real_ui = std::filesystem::canonical(ui).string();
  struct Case {
    const char* url_path;
    const char* file;  // relative to the ui folder; nullptr for none
  };
  const Case cases[] = {
      {"/index.html", "/index.html"},
      {"/", "/index.html"},
      {"/css/site.css", "/css/site.css"},
      {"/css/./site.css", "/css/site.css"},
      {"//css//site.css", "/css/site.css"},
      {"/a%20b.js", "/a b.js"},
      {"/index.html?v=2#top", "/index.html"},
      {"/inner-link.html", "/index.html"},
      {"/missing.html", nullptr},
      {"/css", nullptr},
      {"/css/", nullptr},
      {"/../secret.txt", nullptr},
      {"/css/../../secret.txt", nullptr},
      {"/%2e%2e/secret.txt", nullptr},
      {"/%2E%2E/secret.txt", nullptr},
      {"/css%2f..%2f..%2fsecret.txt", nullptr},
      {"/..%5csecret.txt", nullptr},
      {"/index.html%00.png", nullptr},
      {"/index%zz.html", nullptr},
      {"/index.html%", nullptr},
      {"/out-link/x.html", nullptr},
      {"/secret-link.txt", nullptr},
      {"index.html", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const auto file = page_file_path(ui, c.url_path);
    if (c.file == nullptr) {
      EXPECT_FALSE(file) << c.url_path << " gave " << file.value_or("");
    } else {
      EXPECT_EQ(file, std::optional<std::string>(real_ui + c.file)) << c.url_path;
    }
  }
  EXPECT_FALSE(page_file_path(dir / "no-such-folder", "/index.html"));
}

TEST(PageContentType, FollowsTheExtensionWithoutRegardToCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"/ui/index.html", "text/html; charset=utf-8"},
      {"/ui/INDEX.HTM", "text/html; charset=utf-8"},
      {"/ui/app.js", "text/javascript; charset=utf-8"},
      {"/ui/app.mjs", "text/javascript; charset=utf-8"},
      {"/ui/site.Css", "text/css; charset=utf-8"},
      {"/ui/data.json", "application/json"},
      {"/ui/logo.svg", "image/svg+xml"},
      {"/ui/logo.png", "image/png"},
      {"/ui/photo.jpeg", "image/jpeg"},
      {"/ui/font.woff2", "font/woff2"},
      {"/ui/module.wasm", "application/wasm"},
      {"/ui/README", "application/octet-stream"},
      {"/ui.d/README", "application/octet-stream"},
      {"/ui/archive.tar.gz", "application/octet-stream"},
  };
  for (const auto& [name, type] : cases) EXPECT_EQ(page_content_type(name), type) << name;
}

TEST(PageAddress, AcceptsOnlyDocumentsOfTheUiFolder) {
  AppConfig config;
  config.ui_folder = folder_path("/opt/telvana app/ui");
  set_app_config(config);
  EXPECT_EQ(page_address(true), "telvana-ui://telvana-print.local/index.html");
  EXPECT_EQ(page_address(false), "file:///opt/telvana%20app/ui/index.html");
  const std::pair<const char*, bool> cases[] = {
      {"telvana-ui://telvana-print.local/index.html", true},
      {"telvana-ui://telvana-print.local/sub/page.html?x=1#y", true},
      {"file:///opt/telvana%20app/ui/index.html", true},
      {"file:///opt/telvana%20app/ui/index.html?x#y", true},
      {"file:///opt/telvana%20app/ui/../secret.html", false},
      {"file:///opt/telvana%20app/ui2/index.html", false},
      {"file:///opt/telvana%20app/index.html", false},
      {"telvana-ui://other.local/index.html", false},
      {"telvana-ui://telvana-print.local.evil.com/index.html", false},
      {"https://telvana-print.local/index.html", false},
      {"http://127.0.0.1:8080/index.html", false},
      {"about:blank", false},
      {"", false},
  };
  for (const auto& [address, accepted] : cases) {
    EXPECT_EQ(address_in_ui_folder(address), accepted) << address;
  }
}

}  // namespace
