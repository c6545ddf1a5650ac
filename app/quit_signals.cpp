// A sigwait thread for the quit signals.
#include "app/quit_signals.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

#include "platform/main_loop.h"

namespace {

sigset_t quit_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void block_quit_signals() {
  const sigset_t set = quit_signal_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void start_quit_signal_thread() {
  std::thread([] {
    const sigset_t set = quit_signal_set();
    for (;;) {
      int signal_number = 0;
      if (sigwait(&set, &signal_number) == 0) request_shutdown();
    }
  }).detach();
}
