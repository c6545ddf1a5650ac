// The printer's DNS-SD announcement: made on the loopback interface only, so that print dialogs
// on this machine find the printer at a loopback address and no other host sees it.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

// What is announced for the printer.
struct PrinterAnnouncement {
  std::string name;                       // service instance name
  int port = 0;                           // IPP port
  std::vector<std::string> ipp_subtypes;  // e.g. "_print"
  std::vector<std::string> txt;           // "key=value" entries of the IPP service
};

// The announcement of a created printer: the TXT keys the printer framework would send that are
// true for this printer (no TLS key while TLS is off, no adminurl without a web interface).
PrinterAnnouncement describe_printer(pappl_system_t* system, pappl_printer_t* printer,
                                     const std::string& name, const char* subtypes);

// Starts announcing through avahi-daemon (on the system message bus) on the loopback interface.
// The announcement comes back whenever avahi-daemon starts or restarts; a missing daemon is
// logged once. A second call replaces the first announcement.
void start_dns_sd_announcement(const PrinterAnnouncement& announcement);

// The host name the printer's services lead to: a name of its own, whose addresses are the
// loopback ones on the loopback interface only; empty before the first announcement. Callable
// from any thread.
std::string announced_host_name();

// Withdraws the announcement; callable from any thread and more than once.
void stop_dns_sd_announcement();
