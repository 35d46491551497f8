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

// Throws interrupted when a signal has arrived since watch_for_interrupts (or was noted by
// note_interrupt), after handing it to the relay when one is set.
void stop_if_interrupted();

// The signal that has arrived since watch_for_interrupts, 0 for none.
int interrupt_arrived();

// Notes a signal that arrived elsewhere (at another process of the run), as if it arrived here.
void note_interrupt(int signal_number);

// Over several processes: called once with the signal before this process stops for it at a
// safe point, so that the others stop too. Null: none.
void relay_interrupts(void (*relay)(int signal_number));

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
