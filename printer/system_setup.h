// Creation of the printer system with its one printer, called by the framework's main loop.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "printer/printer_name.h"

// System callback of the main loop: the system with its listeners on localhost, drivers,
// contact, and the printer writing into the output folder; null when it cannot be set up.
pappl_system_t* create_printer_system(int num_options, cups_option_t* options, void* data);

// The framework log level for a TELVANA_LOG_LEVEL value (null when unset).
pappl_loglevel_t printer_log_level(const char* value);

// The device URI of the printer for an output folder's URI path.
std::string printer_device_uri(const std::string& uri_path);

// The private spool folder of this run; empty when none could be made (no printer starts).
const std::string& printer_spool_folder();

// Told on the printer thread when the printer's port cannot be taken on a loopback address.
using PortUnavailableHandler = void (*)();

// Sets the routine told when the port is unavailable; start-up sets it before the printer thread.
void set_port_unavailable_handler(PortUnavailableHandler handler);

// True when this machine has an IPv6 loopback address to listen on.
bool ipv6_loopback_exists();

// True for the operations that create, delete, pause, stop or reconfigure printers or the
// system; the printer refuses them to every client.
bool administrative_operation(ipp_op_t operation);

// True once stop_printer_system() was called; the system's timer turns it into a shutdown.
bool printer_stop_requested();
