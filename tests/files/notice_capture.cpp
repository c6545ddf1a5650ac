#include "tests/files/notice_capture.h"

#include <dirent.h>

#include <sstream>

#include "bridge/page_script.h"
#include "core/text.h"
#include "platform/ui_thread.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::u16string> notices;

// Keeps the literal argument of a notice script; other scripts are not notices.
void keep_notice(const std::u16string& script) {
  const std::u16string call = u"_onNewPrintedFile('";
  const std::size_t start = script.rfind(call);
  if (start == std::u16string::npos || script.size() < 2 ||
      script.compare(script.size() - 2, 2, u"')") != 0) {
    return;
  }
  const std::size_t from = start + call.size();
  notices.push_back(script.substr(from, script.size() - 2 - from));
}

}  // namespace

void capture_notices() {
  set_ui_thread();
  set_script_runner(keep_notice);
}

const std::vector<std::u16string>& captured_notices() {
  return notices;
}

std::u16string expected_notice(const std::string& path) {
  return js_escape(utf8_to_wide(path));
}

std::vector<std::string> log_messages(const std::string& path) {
  std::vector<std::string> messages;
  std::istringstream lines(read_file(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() >= 11 && line[0] == '[' && line[9] == ']') messages.push_back(line.substr(11));
  }
  return messages;
}

int thread_count() {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(tasks);
  return count;
}
