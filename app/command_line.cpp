// Joining and reading the command line.
#include "app/command_line.h"

std::string join_command_line(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line.push_back(' ');
    line += argv[i];
  }
  return line;
}

bool command_line_hidden(const std::string& command_line) {
  return command_line.find("--hidden") != std::string::npos;
}
