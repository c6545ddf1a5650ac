// The output folder's free space as the printer's supply ("printer-supply", marker levels).
#include "printer/output_space.h"

#include <sys/statvfs.h>

#include <cstring>

namespace {

constexpr const char* SUPPLY_DESCRIPTION = "Space for documents";

}  // namespace

int free_space_percent(const std::string& folder) {
  struct statvfs info {};
  if (statvfs(folder.c_str(), &info) != 0 || info.f_blocks == 0) return -1;
  return static_cast<int>(static_cast<unsigned long long>(info.f_bavail) * 100 / info.f_blocks);
}

void report_output_space(pappl_printer_t* printer, const std::string& folder) {
  pappl_supply_t supply{};
  supply.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
  papplCopyString(supply.description, SUPPLY_DESCRIPTION, sizeof supply.description);
  supply.is_consumed = true;
  supply.level = free_space_percent(folder);
  supply.type = PAPPL_SUPPLY_TYPE_OTHER;
  pappl_supply_t current{};
  if (papplPrinterGetSupplies(printer, 1, &current) == 1 && current.level == supply.level &&
      std::strcmp(current.description, supply.description) == 0) {
    return;
  }
  papplPrinterSetSupplies(printer, 1, &supply);
}
