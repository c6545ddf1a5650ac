// The IPP printer system: its thread and its shutdown.
#pragma once

#include <string>

// Makes folder (the private spool folder of this run) the framework's spool and temporary
// folder, which also holds its local socket. Changes the environment: start-up calls it once,
// before any thread exists. Without it the printer does not start.
void use_printer_spool_folder(const std::string& folder);

// Thread entry of the printer thread: runs the printer framework's main loop with the one
// printer "Send as Fax (Telvana)" until stop_printer_system() is called, then returns.
void printer_thread();

// Asks the printer main loop to stop; callable from any thread and more than once. Returns once
// the main loop has ended, or after a short bound when it never started or does not end.
void stop_printer_system();
