// Entry point of telvana-print.
#include "app/startup.h"

int main(int argc, char** argv) { return run_application(argc, argv); }
