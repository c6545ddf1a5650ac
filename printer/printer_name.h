// The name and port the printer's clients, the framework and the desktop know it by.
#pragma once

// Name of the printer, the system, both DNS-SD services and the framework's local socket; the
// printer's make and model, and the caption of its boxes.
inline constexpr char PRINTER_NAME[] = "Send as Fax (Telvana)";

// The IPP port of the printer.
inline constexpr int PRINTER_IPP_PORT = 8631;
