// Paths turned into "file" URI paths.
#include "printer/file_uri.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "printer/system_setup.h"
#include "tests/support/temp_dir.h"

namespace {

// Runs the body with the current folder changed to folder.
template <class Body>
void in_folder(const std::string& folder, Body body) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(folder.c_str()), 0);
  body();
  ASSERT_EQ(chdir(previous), 0);
}

TEST(FileUriPath, MakesPathsAbsoluteAgainstTheCurrentFolder) {
  TempDir dir;
  char real[4096];
  ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
  const std::string cwd = real;
  const std::string long_name(300, 'x');
  struct Case {
    std::string path, expected;
  } cases[] = {
      {"/home/user/.local/share/TelvanaPrint", "/home/user/.local/share/TelvanaPrint"},
      {"out/fax", cwd + "/out/fax"},
      {"./out", cwd + "/out"},
      {".", cwd},
      {"TelvanaPrint", cwd + "/TelvanaPrint"},
      {"Ünïcode dir/fax", cwd + "/Ünïcode dir/fax"},
      // Linux paths are never cut.
      {"/" + long_name + "/" + long_name, "/" + long_name + "/" + long_name},
  };
  in_folder(cwd, [&] {
    for (const Case& c : cases) {
      EXPECT_EQ(to_file_uri_path(c.path).value_or("<none>"), c.expected) << c.path;
    }
  });
}

TEST(FileUriPath, DeviceUriCarriesThePathAndTheExtension) {
  struct Case {
    std::string path, uri;
  } cases[] = {
      {"/home/u/out", "file:///home/u/out?ext=pdf"},
      {"/home/u/my out", "file:///home/u/my%20out?ext=pdf"},
  };
  for (const Case& c : cases) EXPECT_EQ(printer_device_uri(c.path), c.uri);
}

TEST(PrinterLogLevel, MapsExactNamesOnly) {
  struct Case {
    const char* value;
    pappl_loglevel_t level;
  } cases[] = {
      {"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO},
      {"error", PAPPL_LOGLEVEL_ERROR}, {"warn", PAPPL_LOGLEVEL_WARN},
      {"Debug", PAPPL_LOGLEVEL_WARN},  {"", PAPPL_LOGLEVEL_WARN},
      {nullptr, PAPPL_LOGLEVEL_WARN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(printer_log_level(c.value), c.level) << (c.value ? c.value : "(unset)");
  }
}

}  // namespace
