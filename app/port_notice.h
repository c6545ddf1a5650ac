// Telling the user once that the printer could not take its port.
#pragma once

// Makes the printer's failure to take its port known to the user: a message box, once, as soon
// as the window is shown (at once when it is shown already). Before the printer thread starts.
void install_port_notice();

// Lets the notice wait for the host window to be shown. UI thread, after the window exists.
void watch_window_for_port_notice();
