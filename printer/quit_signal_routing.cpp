// Re-delivery of quit signals caught by threads that do not block them.
#include "printer/quit_signal_routing.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

constexpr int QUIT_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

// Async-signal-safe: edits the mask restored on return, then re-sends the signal.
void redeliver(int sig, siginfo_t* info, void* context) {
  (void)info;
  auto* user_context = static_cast<ucontext_t*>(context);
  for (const int quit : QUIT_SIGNALS) sigaddset(&user_context->uc_sigmask, quit);
  kill(getpid(), sig);
}

}  // namespace

void route_quit_signals_to_waiter() {
  struct sigaction action {};
  action.sa_sigaction = redeliver;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int quit : QUIT_SIGNALS) sigaddset(&action.sa_mask, quit);
  for (const int quit : QUIT_SIGNALS) sigaction(quit, &action, nullptr);
}
