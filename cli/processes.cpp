#include "cli/processes.h"

#include <gnu/libc-version.h>
#include <signal.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "cli/interrupt.h"
#include "engine/processes.h"

#ifdef MOGEM_MPI
#include "mpi/mpi_group.h"
#endif

namespace mogem::detail {

namespace {

// Set by an MPI launcher in every process it starts (Open MPI, then PMIx and PMI launchers).
bool started_by_launcher() {
  for (const char *name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_SIZE"})
    if (std::getenv(name)) return true;
  return false;
}

#ifdef MOGEM_MPI
bool mpi_started = false;
std::unique_ptr<mpi_group> world;  // the group of all processes, under mpirun

void relay_interrupt(int signal_number) {
  static bool told = false;
  world->abandoned = true;
  if (told) return;
  told = true;
  tell_others(*world, STOPPED_TAG, std::string(1, static_cast<char>(signal_number)));
  // Once this process ends, mpirun sends SIGTERM to the others: the news of the signal that
  // came first must be with them by then, for the run to be reported by it.
  finish_telling(1.0);
}

// The signal another process told of first, 0 while none has come; takes what has come.
int relayed_signal() {
  static int first = 0;
  std::string bytes;
  while (take(*world, STOPPED_TAG, &bytes)) {
    const int signal_number = bytes.empty() ? SIGTERM : static_cast<unsigned char>(bytes[0]);
    if (!first) first = signal_number;
    note_interrupt(signal_number);
  }
  return first;
}

// The processes on this machine that ended without telling the others (killed, crashed): their
// ids are free again (mpirun collects its ended processes at once).
std::vector<int> gone_processes() {
  mpi_group &g = *world;
  std::vector<int> gone;
  relayed_signal();  // marks the processes that announced their end
  const mpi_member &me = g.members[static_cast<std::size_t>(g.group.rank)];
  for (int r = 0; r < g.group.size; r++) {
    const mpi_member &m = g.members[static_cast<std::size_t>(r)];
    if (r == g.group.rank || g.announced[static_cast<std::size_t>(r)] || std::strcmp(m.machine, me.machine) != 0)
      continue;
    if (kill(static_cast<pid_t>(m.pid), 0) != 0 && errno == ESRCH) gone.push_back(r);
  }
  return gone;
}

// While waiting: a signal here or at another process ends the wait (interrupted). Every tenth
// of a second it looks for processes that are gone: the run then stops as for SIGTERM.
void heed_interrupts(long round) {
  relayed_signal();
  if (round % 500 == 499 && !gone_processes().empty()) note_interrupt(SIGTERM);
  if (interrupt_arrived()) {
    world->abandoned = true;
    stop_if_interrupted();
  }
}
#endif

}  // namespace

const process_group *start_processes(int *argc, char ***argv) {
#ifdef MOGEM_MPI
  if (!started_by_launcher()) return nullptr;
  if (MPI_Init(argc, argv) != MPI_SUCCESS) throw error(error::kind::numerical_failure, "MPI failed to start");
  mpi_started = true;
  int size = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  if (size <= 1) return nullptr;
  world = mpi_group_over(MPI_COMM_WORLD);
  world->heed = heed_interrupts;
  relay_interrupts(relay_interrupt);
  return &world->group;
#else
  (void)argc;
  (void)argv;
  (void)started_by_launcher;
  return nullptr;
#endif
}

std::string interrupt_message(const process_group *processes, int signal_number) {
  const auto plain_for = [](int number) {
    return std::string("Interrupted (") + (number == SIGINT ? "SIGINT" : "SIGTERM") + "); no result was written";
  };
  if (!processes) return plain_for(signal_number);
#ifdef MOGEM_MPI
  // A SIGTERM here may be mpirun's, sent because another process ended on a signal of its own:
  // that process told of it before it ended, and the run is reported by the signal that came first.
  int first = relayed_signal();
  for (int waited = 0; !first && signal_number == SIGTERM && waited < 10; waited++) {
    const timespec pause{0, 2000000};
    nanosleep(&pause, nullptr);
    first = relayed_signal();
  }
  const std::string plain = plain_for(signal_number == SIGTERM && first ? first : signal_number);
  // The lowest-ranked process alive speaks.
  const std::vector<int> gone = gone_processes();
  std::string names;
  for (int r : gone) names += (names.empty() ? "" : ", ") + std::to_string(r);
  for (int r = 0; r < processes->rank; r++)
    if (std::find(gone.begin(), gone.end(), r) == gone.end()) return "";
  if (gone.empty()) return plain;
  return std::string(gone.size() > 1 ? "Error: processes " : "Error: process ") + names +
         " of the run died (killed, or crashed); the others were stopped, and no result was written";
#else
  return processes->rank == 0 ? plain_for(signal_number) : "";
#endif
}

void abort_processes(int code) {
#ifdef MOGEM_MPI
  if (mpi_started) MPI_Abort(MPI_COMM_WORLD, code & 255);
#else
  (void)code;
#endif
}

void end_processes() {
#ifdef MOGEM_MPI
  // After a run ended early MPI is not finished: a process may have left an operation open, and
  // the others may be gone; mpirun learns the end from the exit codes.
  if (mpi_started && !(world && world->abandoned)) MPI_Finalize();
  mpi_started = false;
#endif
}

void refuse_unshareable_input(const char *input) {
  struct stat st;
  const bool descriptor = std::strncmp(input, "/dev/fd/", 8) == 0 || std::strncmp(input, "/proc/self/fd/", 14) == 0 ||
                          std::strncmp(input, "/dev/std", 8) == 0;
  if (stat(input, &st) != 0 && !descriptor) return;
  if (!descriptor && S_ISREG(st.st_mode)) return;
  throw error(error::kind::invalid_input,
              std::string("the input file ") + input +
                  " is not a regular file (a pipe, a terminal, a device or a descriptor); the processes mpirun "
                  "starts each read their share of the input from one regular file: save the input to a file, or "
                  "run one process without mpirun");
}

std::string machine_signature() {
  std::string signature = std::string("C library ") + gnu_get_libc_version() + ", CPU features";
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  const struct {
    const char *name;
    bool present;
  } features[] = {{"sse4.2", __builtin_cpu_supports("sse4.2") != 0}, {"avx", __builtin_cpu_supports("avx") != 0},
                  {"fma", __builtin_cpu_supports("fma") != 0},       {"avx2", __builtin_cpu_supports("avx2") != 0},
                  {"avx512f", __builtin_cpu_supports("avx512f") != 0}};
  for (const auto &feature : features)
    if (feature.present) signature += std::string(" ") + feature.name;
#endif
  return signature;
}

std::string signature_mismatch(const process_group &group) {
  // As a shared step, so that a failure another process meets meanwhile ends it.
  row_share all;
  all.group = &group;
  std::string notice;
  together(all, [&] {
    std::string first = machine_signature();
    const std::string mine = first;
    group.broadcast_text(first, 0);
    const double differs = mine != first ? 1.0 : 0.0;
    std::vector<double> every(static_cast<std::size_t>(group.size));
    group.gather(&differs, 1, every.data());
    for (int r = 0; r < group.size; r++) {
      if (every[r] == 0.0) continue;
      std::string theirs = mine;
      group.broadcast_text(theirs, r);
      notice = "WARNING: the processes run on different machines (process 0: " + first + "; process " +
               std::to_string(r) + ": " + theirs +
               "); exp and log may then round differently, and the results may differ from one process's in the last "
               "bits";
      return;
    }
  });
  return notice;
}

}  // namespace mogem::detail
