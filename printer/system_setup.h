// Creation of the printer system with its one printer, called by the framework's main loop.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Name of the printer, the system and both DNS-SD services.
inline constexpr const char* PRINTER_NAME = "Send as Fax (Telvana)";

// The IPP port of the printer.
inline constexpr int PRINTER_IPP_PORT = 8631;

// System callback of the main loop: the system with its listeners on localhost, drivers,
// contact, and the printer writing into the output folder; null when it cannot be set up.
pappl_system_t* create_printer_system(int num_options, cups_option_t* options, void* data);

// The framework log level for a TELVANA_LOG_LEVEL value (null when unset).
pappl_loglevel_t printer_log_level(const char* value);

// The device URI of the printer for an output folder's URI path.
std::string printer_device_uri(const std::string& uri_path);

// True once stop_printer_system() was called; the system's timer turns it into a shutdown.
bool printer_stop_requested();
