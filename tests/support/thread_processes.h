// Processes as threads of one process (mogem::process_group), for the tests of a fit or a
// reading over several processes: messages go through mailboxes in memory.
#ifndef MOGEM_TESTS_SUPPORT_THREAD_PROCESSES_H
#define MOGEM_TESTS_SUPPORT_THREAD_PROCESSES_H

#include <functional>

#include "mogem/mogem.h"
#include "mogem/processes.h"

// Runs body(group) on `size` threads at once, each with the group of its rank, and returns
// when all have returned. body must not throw.
void run_as_processes(int size, const std::function<void(const mogem::process_group &group)> &body);

#endif
