// The IPP printer system: its thread and its shutdown.
#pragma once

// Thread entry of the printer thread: runs the printer framework's main loop with the one
// printer "Send as Fax (Telvana)" until stop_printer_system() is called, then returns.
void printer_thread();

// Asks the printer main loop to stop; callable from any thread and more than once. Returns once
// the main loop has ended, or after a short bound when it never started or does not end.
void stop_printer_system();
