#include "tests/support/x_window.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/app_process.h"

bool window_viewable(pid_t pid) {
  return window_viewable(pid, "Telvana Print-to-Fax");
}

bool window_viewable(pid_t pid, const std::string& title) {
  return viewable_window_count(pid, title) > 0;
}

std::size_t viewable_window_count(pid_t pid, const std::string& title) {
  std::string pattern;
  for (const char c : title) {
    if (std::strchr("()[].*+?^$|\\/", c) != nullptr) pattern += '\\';
    pattern += c;
  }
  const std::string script =
      "for id in $(xwininfo -root -tree | awk '/\"" + pattern +
      "\"/ {print $1}'); do "
      "  xprop -id $id _NET_WM_PID | grep -q '= " +
      std::to_string(pid) +
      "$' && xwininfo -id $id | grep -q 'Map State: IsViewable' && echo viewable; "
      "done";
  FILE* out = popen(script.c_str(), "r");
  if (out == nullptr) return false;
  std::string text;
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, out) != nullptr) text += chunk;
  pclose(out);
  return count_of(text, "viewable");
}
