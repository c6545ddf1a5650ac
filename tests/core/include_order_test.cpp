// Reads every #include "…" of the product folders and holds them to the order of ARCHITECTURE.md:
// a folder includes only folders below it, and no two source files (a header with its .cpp) reach
// each other in a circle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The layers, top first; a folder may include its own files and those of lower layers only.
// ARCHITECTURE.md shows the same table.
const std::vector<std::vector<std::string>> LAYERS = {
    {"app"}, {"bridge"}, {"net"}, {"window", "files", "printer"}, {"platform"}, {"core"},
};

struct Include {
  std::string from_file;  // "folder/name.cpp"
  int line = 0;
  std::string target;  // "folder/name.h"
};

int layer_of(const std::string& folder) {
  for (std::size_t i = 0; i < LAYERS.size(); ++i) {
    for (const std::string& name : LAYERS[i]) {
      if (name == folder) return static_cast<int>(i);
    }
  }
  return -1;
}

std::string folder_of(const std::string& path) {
  return path.substr(0, path.find('/'));
}

// The module a file belongs to: its path without the extension, so a header and its .cpp are one.
std::string module_of(const std::string& path) {
  return path.substr(0, path.rfind('.'));
}

std::vector<Include> product_includes() {
  const std::regex quoted(R"re(^\s*#\s*include\s+"([^"]+)")re");
  std::vector<Include> includes;
  for (const auto& layer : LAYERS) {
    for (const std::string& folder : layer) {
      for (const auto& entry : fs::directory_iterator(fs::path(TELVANA_SOURCE_DIR) / folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".cpp" && ext != ".h") continue;
        const std::string file = folder + "/" + entry.path().filename().string();
        std::ifstream in(entry.path());
        std::string text;
        for (int line = 1; std::getline(in, text); ++line) {
          std::smatch match;
          if (std::regex_search(text, match, quoted)) includes.push_back({file, line, match[1]});
        }
      }
    }
  }
  return includes;
}

TEST(IncludeOrder, EveryFolderIncludesOnlyItselfAndLowerLayers) {
  const std::vector<Include> includes = product_includes();
  ASSERT_GT(includes.size(), 100u) << "the product's includes were not found";
  for (const Include& include : includes) {
    const std::string from = folder_of(include.from_file);
    const std::string to = folder_of(include.target);
    ASSERT_NE(layer_of(to), -1) << include.from_file << ":" << include.line << " includes "
                                << include.target << ", outside the product folders";
    if (from == to) continue;
    EXPECT_GT(layer_of(to), layer_of(from))
        << include.from_file << ":" << include.line << " includes " << include.target
        << ", which is not below " << from << " in ARCHITECTURE.md";
  }
}

TEST(IncludeOrder, NoCircleBetweenFiles) {
  std::map<std::string, std::vector<const Include*>> edges;  // module -> its includes
  const std::vector<Include> includes = product_includes();
  for (const Include& include : includes) {
    if (module_of(include.from_file) != module_of(include.target)) {
      edges[module_of(include.from_file)].push_back(&include);
    }
  }
  // Depth-first search; a module met again while still on the path closes a circle.
  std::map<std::string, int> state;  // 0 unseen, 1 on the path, 2 done
  std::vector<const Include*> path;
  std::function<void(const std::string&)> visit = [&](const std::string& module) {
    state[module] = 1;
    for (const Include* include : edges[module]) {
      const std::string next = module_of(include->target);
      path.push_back(include);
      if (state[next] == 1) {
        std::string circle;
        for (const Include* step : path) {
          circle += "\n  " + step->from_file + ":" + std::to_string(step->line) + " includes " +
                    step->target;
        }
        ADD_FAILURE() << "files include each other in a circle:" << circle;
      } else if (state[next] == 0) {
        visit(next);
      }
      path.pop_back();
    }
    state[module] = 2;
  };
  for (const auto& [module, unused] : edges) {
    if (state[module] == 0) visit(module);
  }
}

}  // namespace
