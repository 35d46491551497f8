#include "cli/interrupt.h"

#include <pthread.h>

#include <csignal>

namespace mogem::detail {

namespace {

// The one state a signal handler may touch: the signal that arrived, 0 for none.
volatile std::sig_atomic_t arrived = 0;

void note_signal(int signal_number) { arrived = signal_number; }

void (*relay_to)(int) = nullptr;

sigset_t watched_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void watch_for_interrupts() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = note_signal;
    // A read or write the signal interrupts goes on; the run stops at its next safe point.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return true;
  }();
  (void)installed;
  arrived = 0;
}

void stop_if_interrupted() {
  const int signal_number = arrived;
  if (!signal_number) return;
  if (relay_to) relay_to(signal_number);
  throw interrupted{signal_number};
}

int interrupt_arrived() { return arrived; }

void note_interrupt(int signal_number) { arrived = signal_number; }

void relay_interrupts(void (*relay)(int signal_number)) { relay_to = relay; }

interrupts_held::interrupts_held() {
  const sigset_t set = watched_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

interrupts_held::~interrupts_held() {
  const sigset_t set = watched_signals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace mogem::detail
