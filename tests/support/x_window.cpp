#include "tests/support/x_window.h"

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
  return count_of(run_command(script), "viewable");
}
