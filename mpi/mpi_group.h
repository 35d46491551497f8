// A mogem::process_group over an MPI communicator: the messages of one fit over the processes
// of the communicator, for the program under mpirun (cli/processes.h) and for the Python
// package's comm= (python/src/mpi.cpp). Needs MPI (mpi.h); nothing else of the library does.
#ifndef MOGEM_MPI_MPI_GROUP_H
#define MOGEM_MPI_MPI_GROUP_H

#include <mpi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mogem/mogem.h"
#include "mogem/processes.h"

namespace mogem::detail {

// The messages that end a run early, on the control communicator.
constexpr int FAILED_TAG = 1;   // a failure, as error_as_bytes gives it
constexpr int STOPPED_TAG = 2;  // an interrupt: the signal's number

// A process's id and machine, to tell a process that is gone.
struct mpi_member {
  long pid;
  char machine[MPI_MAX_PROCESSOR_NAME];
};

// The group and what its operations keep. The operations of `group` refer to this record: it
// must stay where mpi_group_over put it.
struct mpi_group {
  process_group group;
  // The fit's messages, and the messages that end a run early (a failure, a stop), each on a
  // duplicate of the caller's communicator of its own, so that they never mix with the
  // caller's nor with each other, and a process can take the latter while it waits for the former.
  MPI_Comm fit = MPI_COMM_NULL;
  MPI_Comm control = MPI_COMM_NULL;
  std::vector<mpi_member> members;  // by rank
  // Whether process r told the others that it is ending (a failure, an interrupt), so that its
  // end is not taken for a death.
  std::vector<bool> announced;
  // An operation was left unfinished because the fit is ending: the duplicates are then not
  // freed, and MPI may not be finished cleanly.
  bool abandoned = false;
  // Called while an operation waits (round 0, 1, 2, ... of the wait; a round is a yield, or a
  // fifth of a millisecond after the first thousand), before another process's failure is
  // looked for; may throw to end the wait. Empty: nothing.
  std::function<void(long round)> heed;
};

// The group of the processes of `comm` (collective over comm): duplicates it twice and learns
// every process's id and machine. Throws error(numerical_failure) when MPI fails.
std::unique_ptr<mpi_group> mpi_group_over(MPI_Comm comm);

// Frees the duplicates (collective) unless the group was abandoned or MPI is finished.
void free_mpi_group(mpi_group &group);

// Sends `bytes` with `tag` on the control communicator to every other process without waiting
// (the bytes are kept to the end of the process).
void tell_others(mpi_group &group, int tag, std::string bytes);

// Waits up to `seconds` for the sends of tell_others to complete, so that a process about to
// end leaves its news with the others rather than in its own buffers; whether they completed.
bool finish_telling(double seconds);

// The message with `tag` another process sent on the control communicator, if one has come; its
// sender is then marked as announced.
bool take(mpi_group &group, int tag, std::string *bytes);

}  // namespace mogem::detail

#endif
