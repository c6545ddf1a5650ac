// The printer system: listeners, drivers, contact, output folder and the printer.
#include "printer/system_setup.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/config.h"
#include "core/folders.h"
#include "printer/dns_sd_announcement.h"
#include "printer/fax_driver.h"
#include "printer/file_uri.h"
#include "printer/job_file.h"
#include "printer/job_output.h"
#include "printer/job_request_options.h"
#include "printer/output_space.h"
#include "printer/pappl_job_thread_fault.h"
#include "printer/pappl_log_escaping.h"
#include "printer/pappl_request_door.h"
#include "printer/printer_pages.h"

namespace {

constexpr const char* DNSSD_SUBTYPES = "_print,_universal";
constexpr const char* DEVICE_ID = "MFG:Telvana;MDL:Print-to-Fax;";
constexpr const char* ORGANIZATION = "Orlith";
constexpr const char* SUPPORT_EMAIL = "support@telvana.com";

// The framework reads device URIs into a 256-byte path buffer; a longer one cannot be opened.
constexpr std::size_t FRAMEWORK_URI_PATH_LIMIT = 255;

// The printer is created afresh at every start, so no state is saved or loaded.
bool skip_state_save(pappl_system_t* system, void* data) {
  (void)system;
  (void)data;
  return true;
}

// Runs every second: turns a requested stop into a shutdown, keeps the framework's loop waking
// often enough to notice one quickly, and takes back the quit signals, whose handlers the
// framework installs when its loop starts: the application stops on them, not the printer alone.
bool check_stop(pappl_system_t* system, void* data) {
  (void)data;
  route_quit_signals_to_waiter();
  if (printer_stop_requested()) papplSystemShutdown(system);
  return true;
}

// How often the room left in the output folder is reported again, in seconds.
constexpr int OUTPUT_SPACE_INTERVAL = 10;

// Timer: reports the output folder's free space as the printer's supply.
bool refresh_output_space(pappl_system_t* system, void* data) {
  (void)system;
  auto* printer = static_cast<pappl_printer_t*>(data);
  if (const auto target = own_output_target(printer)) report_output_space(printer, target->folder);
  return true;
}

std::atomic<PortUnavailableHandler> port_unavailable_handler{nullptr};

// Every client of the printer is refused administration: with no authentication the framework
// treats any loopback client as an administrator. Other checks (printing, jobs) pass, and job
// requests first lose the options the printer cannot apply.
http_status_t refuse_administration(pappl_client_t* client, const char* group, gid_t group_id,
                                    void* data) {
  (void)group;
  (void)group_id;
  (void)data;
  const ipp_op_t operation = papplClientGetOperation(client);
  ignore_unappliable_job_options(client);
  if (!administrative_operation(operation)) return HTTP_STATUS_CONTINUE;
  papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Refused %s: the printer cannot be administered.",
                 ippOpString(operation));
  return HTTP_STATUS_FORBIDDEN;
}

// Listens on both loopback addresses: clients try ::1 first for "localhost", so an address left
// free would let another program receive their requests. PAPPL 1.3.1's
// papplSystemAddListeners(system, "localhost") stops after the first address family that works
// (127.0.0.1); a fixed version would take every address of the name.
bool add_loopback_listeners(pappl_system_t* system) {
  if (!papplSystemAddListeners(system, "127.0.0.1")) return false;
  return !ipv6_loopback_exists() || papplSystemAddListeners(system, "[::1]");
}

}  // namespace

bool ipv6_loopback_exists() {
  const int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return bound;
}

void set_port_unavailable_handler(PortUnavailableHandler handler) {
  port_unavailable_handler.store(handler);
}

bool administrative_operation(ipp_op_t operation) {
  switch (operation) {
    case IPP_OP_CREATE_PRINTER:
    case IPP_OP_DELETE_PRINTER:
    case IPP_OP_SET_PRINTER_ATTRIBUTES:
    case IPP_OP_SET_SYSTEM_ATTRIBUTES:
    case IPP_OP_PAUSE_PRINTER:
    case IPP_OP_PAUSE_PRINTER_AFTER_CURRENT_JOB:
    case IPP_OP_RESUME_PRINTER:
    case IPP_OP_ENABLE_PRINTER:
    case IPP_OP_DISABLE_PRINTER:
    case IPP_OP_HOLD_NEW_JOBS:
    case IPP_OP_RELEASE_HELD_NEW_JOBS:
    case IPP_OP_PAUSE_ALL_PRINTERS:
    case IPP_OP_PAUSE_ALL_PRINTERS_AFTER_CURRENT_JOB:
    case IPP_OP_RESUME_ALL_PRINTERS:
    case IPP_OP_ENABLE_ALL_PRINTERS:
    case IPP_OP_DISABLE_ALL_PRINTERS:
    case IPP_OP_SHUTDOWN_ALL_PRINTERS:
      return true;
    default:
      return operation == IPP_OP_PAPPL_FIND_DEVICES || operation == IPP_OP_PAPPL_FIND_DRIVERS;
  }
}

pappl_loglevel_t printer_log_level(const char* value) {
  if (value == nullptr) return PAPPL_LOGLEVEL_WARN;
  if (std::strcmp(value, "debug") == 0) return PAPPL_LOGLEVEL_DEBUG;
  if (std::strcmp(value, "info") == 0) return PAPPL_LOGLEVEL_INFO;
  if (std::strcmp(value, "error") == 0) return PAPPL_LOGLEVEL_ERROR;
  return PAPPL_LOGLEVEL_WARN;
}

std::string printer_device_uri(const std::string& uri_path) {
  std::vector<char> uri(uri_path.size() * 3 + 64);
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri.data(), static_cast<int>(uri.size()), "file", nullptr,
                   nullptr, 0, "%s?ext=pdf", uri_path.c_str());
  return uri.data();
}

pappl_system_t* create_printer_system(int num_options, cups_option_t* options, void* data) {
  (void)num_options;
  (void)options;
  pappl_contact_t contact{};
  papplCopyString(contact.name, "Telvana", sizeof contact.name);
  papplCopyString(contact.email, SUPPORT_EMAIL, sizeof contact.email);

  // Without a private spool folder the framework would spool documents into a shared one.
  const std::string& spool = printer_spool_folder();
  if (spool.empty()) return nullptr;

  const char* log_file = std::getenv("TELVANA_LOG_FILE");
  const pappl_loglevel_t log_level = printer_log_level(std::getenv("TELVANA_LOG_LEVEL"));
  set_framework_log_level(log_level);

  // TLS cannot get credentials on this loopback-only printer, and the raw socket port would
  // listen on every interface, so both stay off.
  const auto system_options =
      static_cast<pappl_soptions_t>(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_NO_TLS);
  pappl_system_t* system =
      papplSystemCreate(system_options, PRINTER_NAME, PRINTER_IPP_PORT, DNSSD_SUBTYPES,
                        spool.c_str(), log_file ? log_file : "-", log_level, nullptr, false);
  if (system == nullptr) return nullptr;
  // The application rotates the shared log file itself.
  papplSystemSetMaxLogSize(system, 0);

  if (!add_loopback_listeners(system)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Failed to add TCP listeners on port %d.",
             PRINTER_IPP_PORT);
    papplSystemDelete(system);
    if (const PortUnavailableHandler handler = port_unavailable_handler.load()) handler();
    return nullptr;
  }
  papplSystemSetAuthCallback(system, nullptr, refuse_administration, nullptr);
  open_request_door(system, PRINTER_IPP_PORT);
  papplSystemSetPrinterDrivers(system, 1, fax_drivers, nullptr, nullptr, fax_driver_callback, data);
  papplSystemSetContact(system, &contact);
  // The framework's own registration of these names is replaced by the announcement on the
  // loopback interface (printer/dns_sd_announcement.cpp).
  papplSystemSetDNSSDName(system, PRINTER_NAME);
  papplSystemSetSaveCallback(system, skip_state_save, nullptr);
  papplSystemSetEventCallback(system, watch_job_events, nullptr);
  // First run at the loop's first turn, right after the framework installed its handlers.
  papplSystemAddTimerCallback(system, time(nullptr), 1, check_stop, nullptr);

  const std::string& folder = app_config().output_folder.utf8;
  auto uri_path = to_file_uri_path(folder);
  if (!uri_path) {
    if (!create_folder_with_parents(folder)) {
      papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot create output directory '%s': %s",
               folder.c_str(), strerror(errno));
      papplSystemDelete(system);
      return nullptr;
    }
    uri_path = to_file_uri_path(folder);
    if (!uri_path) uri_path = folder;
  }
  remove_stale_job_files(*uri_path);
  if (uri_path->size() + std::strlen("?ext=pdf") > FRAMEWORK_URI_PATH_LIMIT) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR,
             "Output folder path '%s' is too long for the printer framework; print jobs will "
             "wait until the printer can open it.",
             uri_path->c_str());
  }

  const std::string device_uri = printer_device_uri(*uri_path);
  pappl_printer_t* printer =
      papplPrinterCreate(system, 0, PRINTER_NAME, FAX_DRIVER_NAME, DEVICE_ID, device_uri.c_str());
  if (printer) {
    set_own_printer(printer, device_uri);
    papplPrinterSetDNSSDName(printer, PRINTER_NAME);
    papplPrinterSetOrganization(printer, ORGANIZATION);
    if (const auto target = own_output_target(printer)) {
      add_printer_pages(system, printer, target->folder);
      report_output_space(printer, target->folder);
    }
    papplSystemAddTimerCallback(system, 0, OUTPUT_SPACE_INTERVAL, refresh_output_space, printer);
    start_dns_sd_announcement(describe_printer(system, printer, PRINTER_NAME, DNSSD_SUBTYPES));
  } else {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Failed to create printer '%s'.", PRINTER_NAME);
  }
  return system;
}
