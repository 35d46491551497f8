// SIGINT and SIGTERM as the program handles them: the signal is noted, and the run stops at
// its next safe point (between EM steps, between blocks of rows read, between result files),
// removes its temporaries and ends with 128 + the signal's number. While the results are
// renamed into place the signals are held back, so that a run that got that far completes.
#ifndef MOGEM_CLI_INTERRUPT_H
#define MOGEM_CLI_INTERRUPT_H

namespace mogem::detail {

// Thrown at a safe point after a signal arrived.
struct interrupted {
  int signal_number;
};

// Installs the handlers (once per process) and forgets any signal an earlier run noted.
void watch_for_interrupts();

// Throws interrupted when a signal has arrived since watch_for_interrupts.
void stop_if_interrupted();

// Holds SIGINT and SIGTERM back while it lives; they are delivered (and noted) afterwards.
class interrupts_held {
 public:
  interrupts_held();
  ~interrupts_held();
  interrupts_held(const interrupts_held &) = delete;
  interrupts_held &operator=(const interrupts_held &) = delete;
};

}  // namespace mogem::detail

#endif
