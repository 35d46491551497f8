// mogem: one fit over several processes (the mogem program built with MOGEM_MPI, run by mpirun).
//
// The caller supplies the messages between processes; mogem/mogem.h's callbacks::processes
// points at them. Nothing here depends on MPI itself.
#ifndef MOGEM_PROCESSES_H
#define MOGEM_PROCESSES_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace mogem {

class error;

// Each process holds a contiguous share of the rows, the shares in rank order, and calls fit
// with the same options and its own rows; every process gets the model one process gets on all the rows,
// bit for bit, with the labels and posteriors of its own rows. Sums over rows run through the
// processes in rank order (process r continues the accumulators process r - 1 hands it), so
// each keeps the order of one process; choices over rows (the farthest row, random rows) pick
// the same row. The operations are the caller's messages; each blocks until it is done, and a
// process with no rows still takes part in every one. A failure that one process meets (a bad
// value in its share, a refused allocation) is handed to all, which then throw the same error.
struct process_group {
  int rank = 0, size = 1;
  std::function<void(const double *values, std::size_t n, int to)> send;
  std::function<void(double *values, std::size_t n, int from)> receive;
  std::function<void(double *values, std::size_t n, int root)> broadcast;
  // all[r * n .. r * n + n - 1] receives process r's `n` values, on every process.
  std::function<void(const double *mine, std::size_t n, double *all)> gather;
  std::function<void(std::string &text, int root)> broadcast_text;
  // Optional: the end of a step every process takes together. `failure` is the error this
  // process met in the step, or null; returns the error of the lowest-ranked process that met
  // one, or null when none did. A process that failed tells the others at once, and an operation
  // above that one of them waits in then throws that error instead of waiting for ever (the
  // step's end still follows). Empty: the step ends through gather and broadcast_text, and a
  // failure one process meets while the others wait for it leaves them waiting.
  std::function<std::shared_ptr<const error>(const error *failure)> agree;
};

}  // namespace mogem

#endif
