// The processes of a run started by mpirun (the program built with the CMake option MOGEM_MPI):
// their group, what they must agree on before a fit, and their end.
#ifndef MOGEM_CLI_PROCESSES_H
#define MOGEM_CLI_PROCESSES_H

#include <string>

#include "mogem/mogem.h"
#include "mogem/processes.h"

namespace mogem::detail {

// Under mpirun with more than one process (and a build with MOGEM_MPI): starts MPI and returns
// the group of all processes, which lives until end_processes. Otherwise null: the program runs
// as one process, without MPI. Fails (mogem::error, numerical_failure) when MPI cannot start.
const process_group *start_processes(int *argc, char ***argv);

// Ends MPI when start_processes started it.
void end_processes();

// The message a run that stops for `signal_number` ends with ("Interrupted (SIGINT); no result was
// written"), or empty when another process of the group says it. Over several processes the
// lowest-ranked process alive speaks, and names the processes on this machine that are gone:
// mpirun stops the others (with SIGTERM) when one of them is killed or crashes.
std::string interrupt_message(const process_group *group, int signal_number);

// Ends every process of the group at once with exit code `code` (MPI_Abort); for a failure
// one process met while the others may be waiting for it. Does not return under MPI.
void abort_processes(int code);

// Over several processes every process reads its own share of the input file: one that is not
// a regular file (a pipe, a terminal, a device, a descriptor such as /dev/fd/N) cannot be shared
// and is refused (error(invalid_input)) before anything opens it. A path that does not exist is
// left to the reader.
void refuse_unshareable_input(const char *input);

// What byte identity across processes rests on: the C library (whose exp and log pick their
// code by CPU) and the CPU features that choose those code paths and the kernels.
std::string machine_signature();

// A notice for rank 0 to print when the processes of `group` run on machines with different
// signatures (their results may then differ from one process's in the last bits); empty when
// all agree. Collective.
std::string signature_mismatch(const process_group &group);

}  // namespace mogem::detail

#endif
