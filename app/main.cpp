// Entry point of telvana-print.
#include <cstdio>
#include <cstdlib>

#include "app/startup.h"

int main(int argc, char** argv) {
  const int exit_code = run_application(argc, argv);
  // The watcher, workers and the framework's own threads are never joined: they end with the
  // process. Running static destructors under them would free what they still use, so the
  // process ends without them once every stream is flushed.
  std::fflush(nullptr);
  std::quick_exit(exit_code);
}
