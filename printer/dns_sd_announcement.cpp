// The printer's DNS-SD announcement through avahi-client, on the loopback interface only, in the
// place of the framework's own.
//
// PAPPL 1.3.1 registers printers and the system (_papplPrinterRegisterDNSSDNoLock() and
// _papplSystemRegisterDNSSDNoLock() in dnssd.c) on every interface (AVAHI_IF_UNSPEC) under the
// machine's host name, a web interface that is not served included, and calls them again whenever
// a name or a location changes. That leads other hosts, and local clients that resolve the name,
// to addresses where the printer does not listen. Both are replaced here by functions that leave
// the announcement to this file, so that the framework still keeps and reports its DNS-SD names
// (printer-dns-sd-name). The framework calls them through its own symbol table, where the
// program's definitions come first (they are exported by cmake/product.cmake). A version that
// lets the application choose the interfaces and host name of its registrations, or register
// nothing, lets these two go.
#include "printer/dns_sd_announcement.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/address.h>
#include <avahi-common/alternative.h>
#include <avahi-common/defs.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "core/log.h"

namespace {

// How long to wait before trying again to reach the message bus: doubled after each failure up
// to the longest wait, since a desktop without a system bus rarely gets one later.
constexpr unsigned FIRST_BUS_RETRY_MILLISECONDS = 1000;
constexpr unsigned LONGEST_BUS_RETRY_MILLISECONDS = 16000;

// The SRV target of the printer's services (see add_services()): "<prefix><8 hex digits>.local".
constexpr const char* TARGET_HOST_PREFIX = "telvana-print-";

// The target in use; drawn afresh at start and on a collision, so that no other host can know and
// claim it first. Read by any thread (the printer's Host check), written on the announcer's.
std::atomic<std::shared_ptr<const std::string>> target_host;

// Draws a new target name and returns it.
std::string renew_target_host() {
  unsigned char bytes[4] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::memcpy(bytes, &now, sizeof bytes);
  }
  char name[64];
  std::snprintf(name, sizeof name, "%s%02x%02x%02x%02x.local", TARGET_HOST_PREFIX, bytes[0],
                bytes[1], bytes[2], bytes[3]);
  target_host.store(std::make_shared<const std::string>(name));
  return name;
}

// Joins the values of a framework attribute with commas, leaving out skip.
std::string joined_values(ipp_attribute_t* attribute, const char* skip = nullptr) {
  std::string text;
  for (int i = 0; i < ippGetCount(attribute); ++i) {
    const char* value = ippGetString(attribute, i, nullptr);
    if (value == nullptr || (skip != nullptr && std::strcmp(value, skip) == 0)) continue;
    if (!text.empty()) text += ',';
    text += value;
  }
  return text;
}

// The framework's printer UUID: version 3 from the SHA-256 of host name, port and printer name.
std::string printer_uuid(pappl_system_t* system, pappl_printer_t* printer) {
  char host[256] = "";
  papplSystemGetHostName(system, host, sizeof host);
  char data[1024];
  std::snprintf(data, sizeof data, "_PAPPL_PRINTER_:%s:%d:%s", host, papplSystemGetHostPort(system),
                papplPrinterGetName(printer));
  unsigned char h[32];
  if (cupsHashData("sha2-256", data, std::strlen(data), h, sizeof h) != sizeof h) return "";
  char uuid[64];
  std::snprintf(uuid, sizeof uuid,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", h[0], h[1],
                h[3], h[4], h[5], h[6], (h[10] & 15) | 0x30, h[11], (h[15] & 0x3f) | 0x40, h[16],
                h[20], h[21], h[25], h[26], h[30], h[31]);
  return uuid;
}

// The legacy "PaperMax" key from the widest supported media size.
const char* paper_max(const pappl_pr_driver_data_t& data) {
  int widest = 0;
  for (int i = 0; i < data.num_media; ++i) {
    if (const pwg_media_t* media = pwgMediaForPWG(data.media[i])) {
      if (media->width > widest) widest = media->width;
    }
  }
  if (widest < 21000) return "<legal-A4";
  if (widest < 29700) return "legal-A4";
  if (widest < 42000) return "tabloid-A3";
  if (widest < 59400) return "isoC-A2";
  return ">isoC-A2";
}

// The index of the loopback interface, or -1.
AvahiIfIndex loopback_index() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return -1;
  AvahiIfIndex index = -1;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if ((entry->ifa_flags & IFF_LOOPBACK) != 0 && entry->ifa_name != nullptr) {
      index = static_cast<AvahiIfIndex>(if_nametoindex(entry->ifa_name));
      if (index > 0) break;
    }
  }
  freeifaddrs(list);
  return index;
}

// The announcer's state. Everything but the thread itself is used on the poll thread, or by
// another thread holding the poll's lock, or after the poll has stopped.
struct Announcer {
  std::mutex start_stop;  // orders start and stop calls
  AvahiThreadedPoll* poll = nullptr;
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;
  AvahiTimeout* retry = nullptr;
  PrinterAnnouncement announcement;
  std::string name;  // the name in use (changed by name collisions)
  std::string host;  // the services' target (changed likewise)
  unsigned bus_retry = FIRST_BUS_RETRY_MILLISECONDS;
  bool absence_logged = false;  // the daemon's absence was logged and it has not come back
};

Announcer& announcer() {
  static Announcer state;
  return state;
}

void connect_client(Announcer& a);

// A client that failed is freed here rather than inside its own state callback.
void on_retry(AvahiTimeout*, void* data) {
  Announcer& a = *static_cast<Announcer*>(data);
  if (a.client != nullptr && avahi_client_get_state(a.client) == AVAHI_CLIENT_FAILURE) {
    avahi_client_free(a.client);  // frees its entry group too
    a.client = nullptr;
    a.group = nullptr;
  }
  connect_client(a);
}

void schedule_retry(Announcer& a, unsigned milliseconds) {
  const AvahiPoll* api = avahi_threaded_poll_get(a.poll);
  timeval when{};
  avahi_elapse_time(&when, milliseconds, 0);
  if (a.retry == nullptr) {
    a.retry = api->timeout_new(api, &when, on_retry, &a);
  } else {
    api->timeout_update(a.retry, &when);
  }
}

void add_services(Announcer& a);

void on_group_change(AvahiEntryGroup* group, AvahiEntryGroupState state, void* data) {
  Announcer& a = *static_cast<Announcer*>(data);
  if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
    log_printf(u"[printer] DNS-SD: announced '%s' on the loopback interface, as host %s.", a.name,
               a.host);
  } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
    char* other = avahi_alternative_service_name(a.name.c_str());
    log_printf(u"[printer] DNS-SD: the name '%s' is taken; announcing as '%s'.", a.name, other);
    a.name = other;
    avahi_free(other);
    // Someone announcing a copy of this printer here may have copied its target too.
    a.host = renew_target_host();
    avahi_entry_group_reset(group);
    add_services(a);
  } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
    log_printf(u"[printer] DNS-SD: cannot announce '%s': %s", a.name,
               avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
  }
}

// Adds the records of the printer to the (empty) entry group and commits it.
//
// GTK's print dialog (3.24) makes its CUPS queue from "ipp://<SRV target>:<port>/<rp>", and cupsd
// (2.4.2) looks that target up through the machine's name service. The machine's own name, which
// avahi would use, can resolve to an address on another interface where the printer does not
// listen; avahi refuses "localhost". So the target is a name of the printer's own whose only
// addresses are 127.0.0.1 and ::1 on the loopback interface: whoever resolves it through avahi
// (libnss-mdns included) reaches the printer. CUPS's own clients (lp, Qt) resolve the service
// itself and use "localhost" for a service on the loopback interface.
void add_services(Announcer& a) {
  if (a.group == nullptr) {
    a.group = avahi_entry_group_new(a.client, on_group_change, &a);
    if (a.group == nullptr) {
      log_printf(u"[printer] DNS-SD: cannot announce '%s': %s", a.name,
                 avahi_strerror(avahi_client_errno(a.client)));
      return;
    }
  }
  if (!avahi_entry_group_is_empty(a.group)) return;
  const AvahiIfIndex lo = loopback_index();
  if (lo < 0) {
    log_printf(u"[printer] DNS-SD: no loopback interface; the printer is not announced.");
    return;
  }
  const char* name = a.name.c_str();
  const std::string& host = a.host;
  const auto flags = static_cast<AvahiPublishFlags>(0);
  AvahiStringList* txt = nullptr;
  for (const std::string& entry : a.announcement.txt)
    txt = avahi_string_list_add(txt, entry.c_str());
  // "_printer._tcp" with port 0 only defends the name, as printers do.
  int error =
      avahi_entry_group_add_service_strlst(a.group, lo, AVAHI_PROTO_UNSPEC, flags, name,
                                           "_printer._tcp", nullptr, host.c_str(), 0, nullptr);
  if (error >= 0) {
    error = avahi_entry_group_add_service_strlst(a.group, lo, AVAHI_PROTO_UNSPEC, flags, name,
                                                 "_ipp._tcp", nullptr, host.c_str(),
                                                 static_cast<uint16_t>(a.announcement.port), txt);
  }
  for (const std::string& subtype : a.announcement.ipp_subtypes) {
    if (error < 0) break;
    error = avahi_entry_group_add_service_subtype(a.group, lo, AVAHI_PROTO_UNSPEC, flags, name,
                                                  "_ipp._tcp", nullptr,
                                                  (subtype + "._sub._ipp._tcp").c_str());
  }
  // The machine's own name already answers for the loopback addresses in reverse lookups.
  const auto no_reverse = static_cast<AvahiPublishFlags>(AVAHI_PUBLISH_NO_REVERSE);
  for (const char* address_text : {"127.0.0.1", "::1"}) {
    AvahiAddress address{};
    if (error < 0) break;
    if (avahi_address_parse(address_text, AVAHI_PROTO_UNSPEC, &address) == nullptr) continue;
    error = avahi_entry_group_add_address(a.group, lo, AVAHI_PROTO_UNSPEC, no_reverse, host.c_str(),
                                          &address);
  }
  avahi_string_list_free(txt);
  if (error == AVAHI_ERR_COLLISION) {
    on_group_change(a.group, AVAHI_ENTRY_GROUP_COLLISION, &a);
    return;
  }
  if (error >= 0) error = avahi_entry_group_commit(a.group);
  if (error < 0) {
    log_printf(u"[printer] DNS-SD: cannot announce '%s': %s", a.name, avahi_strerror(error));
    avahi_entry_group_reset(a.group);
  }
}

void on_client_change(AvahiClient* client, AvahiClientState state, void* data) {
  Announcer& a = *static_cast<Announcer*>(data);
  // Called from inside avahi_client_new too, before it has returned the client.
  a.client = client;
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      a.absence_logged = false;
      add_services(a);
      break;
    case AVAHI_CLIENT_S_COLLISION:
      // The host name is taken; the services follow the new one once it is being registered.
      if (a.group != nullptr) avahi_entry_group_reset(a.group);
      break;
    case AVAHI_CLIENT_S_REGISTERING:
      // The daemon probes its host name (after a start or a rename). The services are added now,
      // under that name, so that their own probing overlaps the daemon's: the printer is back
      // about a second sooner than when waiting for the running state.
      if (a.group != nullptr) avahi_entry_group_reset(a.group);
      add_services(a);
      break;
    case AVAHI_CLIENT_CONNECTING:
      if (!a.absence_logged) {
        log_printf(
            u"[printer] DNS-SD: avahi-daemon is not running; the printer will be announced when "
            u"it starts.");
        a.absence_logged = true;
      }
      break;
    case AVAHI_CLIENT_FAILURE: {
      // The daemon went away (or the bus failed): a new client waits for it to come back.
      const int error = avahi_client_errno(client);
      const bool disconnected = error == AVAHI_ERR_DISCONNECTED;
      if (!disconnected && !a.absence_logged) {
        log_printf(u"[printer] DNS-SD: avahi-daemon cannot be used: %s", avahi_strerror(error));
        a.absence_logged = true;
      }
      schedule_retry(a, disconnected ? 0 : FIRST_BUS_RETRY_MILLISECONDS);
      break;
    }
  }
}

void connect_client(Announcer& a) {
  if (a.client != nullptr) return;
  int error = 0;
  AvahiClient* client = avahi_client_new(avahi_threaded_poll_get(a.poll), AVAHI_CLIENT_NO_FAIL,
                                         on_client_change, &a, &error);
  a.client = client;
  if (client != nullptr) {
    a.bus_retry = FIRST_BUS_RETRY_MILLISECONDS;
  } else {
    // Without a message bus there is no daemon to wait for; try again later.
    if (!a.absence_logged) {
      log_printf(
          u"[printer] DNS-SD: avahi-daemon cannot be reached: %s; the printer will be "
          u"announced when it can.",
          avahi_strerror(error));
      a.absence_logged = true;
    }
    schedule_retry(a, a.bus_retry);
    a.bus_retry = std::min(a.bus_retry * 2, LONGEST_BUS_RETRY_MILLISECONDS);
  }
}

}  // namespace

extern "C" bool _papplPrinterRegisterDNSSDNoLock(pappl_printer_t* printer) {
  (void)printer;
  return true;
}

extern "C" bool _papplSystemRegisterDNSSDNoLock(pappl_system_t* system) {
  (void)system;
  return true;
}

PrinterAnnouncement describe_printer(pappl_system_t* system, pappl_printer_t* printer,
                                     const std::string& name, const char* subtypes) {
  PrinterAnnouncement result;
  result.name = name;
  result.port = papplSystemGetHostPort(system);
  for (const char* start = subtypes; start != nullptr && *start != '\0';) {
    const char* end = std::strchr(start, ',');
    const std::size_t length = end ? static_cast<std::size_t>(end - start) : std::strlen(start);
    if (length > 0) result.ipp_subtypes.emplace_back(start, length);
    start = end ? end + 1 : nullptr;
  }

  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  std::unique_ptr<ipp_t, decltype(&ippDelete)> attrs(papplPrinterGetDriverAttributes(printer),
                                                     ippDelete);
  char path[256] = "";
  papplPrinterGetPath(printer, nullptr, path, sizeof path);
  char location[256] = "";
  papplPrinterGetLocation(printer, location, sizeof location);
  const std::string make_and_model = data.make_and_model;
  const bool color =
      ippGetBoolean(ippFindAttribute(attrs.get(), "color-supported", IPP_TAG_BOOLEAN), 0);
  const std::string kind =
      joined_values(ippFindAttribute(attrs.get(), "printer-kind", IPP_TAG_KEYWORD));
  const std::string urf =
      joined_values(ippFindAttribute(attrs.get(), "urf-supported", IPP_TAG_KEYWORD));
  const std::string uuid = printer_uuid(system, printer);

  std::vector<std::string>& txt = result.txt;
  txt.push_back(std::string("rp=ipp/print") + path);
  if (!make_and_model.empty()) txt.push_back("ty=" + make_and_model);
  txt.push_back(std::string("note=") + location);
  txt.push_back("pdl=" + joined_values(ippFindAttribute(attrs.get(), "document-format-supported",
                                                        IPP_TAG_MIMETYPE),
                                       "application/octet-stream"));
  if (!kind.empty()) txt.push_back("kind=" + kind);
  if (!uuid.empty()) txt.push_back("UUID=" + uuid);
  if (!urf.empty()) txt.push_back("URF=" + urf);
  txt.push_back(std::string("Color=") + (color ? "T" : "F"));
  txt.push_back(std::string("Duplex=") +
                ((data.sides_supported & PAPPL_SIDES_TWO_SIDED_LONG_EDGE) ? "T" : "F"));
  txt.push_back("txtvers=1");
  txt.push_back("qtotal=1");
  txt.push_back("priority=0");
  txt.push_back("product=(" + make_and_model + ")");
  txt.push_back("Fax=F");
  txt.push_back(std::string("PaperMax=") + paper_max(data));
  txt.push_back("Scan=F");
  return result;
}

void start_dns_sd_announcement(const PrinterAnnouncement& announcement) {
  stop_dns_sd_announcement();
  Announcer& a = announcer();
  std::lock_guard lock(a.start_stop);
  a.poll = avahi_threaded_poll_new();
  if (a.poll == nullptr) {
    log_printf(
        u"[printer] DNS-SD: cannot start the announcement thread; the printer is not "
        u"announced.");
    return;
  }
  a.announcement = announcement;
  a.name = announcement.name;
  a.host = renew_target_host();
  a.absence_logged = false;
  a.bus_retry = FIRST_BUS_RETRY_MILLISECONDS;
  // Before the thread runs, so no lock is needed yet.
  connect_client(a);
  if (avahi_threaded_poll_start(a.poll) < 0) {
    log_printf(
        u"[printer] DNS-SD: cannot start the announcement thread; the printer is not "
        u"announced.");
  }
}

std::string announced_host_name() {
  const std::shared_ptr<const std::string> host = target_host.load();
  return host ? *host : std::string();
}

void stop_dns_sd_announcement() {
  Announcer& a = announcer();
  std::lock_guard lock(a.start_stop);
  if (a.poll == nullptr) return;
  avahi_threaded_poll_stop(a.poll);
  // Freeing the client withdraws its entry groups from the daemon.
  if (a.client != nullptr) avahi_client_free(a.client);
  if (a.retry != nullptr) avahi_threaded_poll_get(a.poll)->timeout_free(a.retry);
  avahi_threaded_poll_free(a.poll);
  a.poll = nullptr;
  a.client = nullptr;
  a.group = nullptr;
  a.retry = nullptr;
}
