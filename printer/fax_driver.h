// The printer's one driver: its table row, capability set-up and status callback.
#pragma once

#include <pappl/pappl.h>

// The driver name of the printer.
inline constexpr const char* FAX_DRIVER_NAME = "pwg_common-300dpi-600dpi-srgb_8";

// The driver table given to the framework (one row).
extern pappl_pr_driver_t fax_drivers[1];

// The driver callback: fills the driver data, then makes PDF the native format, installs the
// status callback and adds the printer attributes the framework leaves out (a new attribute
// set in *driver_attrs when it was null). True when the data was filled.
bool fax_driver_callback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                         const char* device_id, pappl_pr_driver_data_t* driver_data,
                         ipp_t** driver_attrs, void* data);

// Capabilities, media, callbacks and defaults for the driver name; false (logged) when
// required information is missing or the name carries no colour or resolution token.
bool configure_driver_data(pappl_system_t* system, const char* driver_name, const char* device_uri,
                           const char* device_id, pappl_pr_driver_data_t* driver_data,
                           ipp_t** driver_attrs);

// Status callback: removes the media-empty, media-low and media-needed reasons; true.
bool clear_media_reasons(pappl_printer_t* printer);
