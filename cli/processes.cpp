#include "cli/processes.h"

#include <gnu/libc-version.h>
#include <sched.h>
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
#include <mpi.h>
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
process_group group;

// Doubles go in messages of at most this many, far inside MPI's int counts.
constexpr std::size_t MESSAGE_VALUES = std::size_t(1) << 26;

// The messages that end a run early travel on a communicator of their own, so that they never
// mix with the fit's, and a process can take them while it waits for the fit's.
MPI_Comm control = MPI_COMM_NULL;
constexpr int FAILED_TAG = 1;   // a failure, as error_as_bytes gives it
constexpr int STOPPED_TAG = 2;  // an interrupt: the signal's number
// An operation left unfinished because the run is ending: MPI may then not be finished cleanly.
bool abandoned = false;

// Every process's id and machine, to tell a process that is gone; and whether it told the
// others that it is ending (a failure or an interrupt), so that its end is not taken for a death.
struct member {
  long pid;
  char machine[MPI_MAX_PROCESSOR_NAME];
};
std::vector<member> members;
std::vector<bool> announced;

void check(int code, const char *what) {
  if (code != MPI_SUCCESS) throw error(error::kind::numerical_failure, std::string("MPI failed to ") + what);
}

// Sends `bytes` to every other process without waiting; the buffers live to the end.
void tell_others(int tag, std::string bytes) {
  static std::vector<std::unique_ptr<std::string>> sent;
  sent.push_back(std::make_unique<std::string>(std::move(bytes)));
  for (int r = 0; r < group.size; r++) {
    if (r == group.rank) continue;
    MPI_Request request;
    MPI_Isend(&(*sent.back())[0], static_cast<int>(sent.back()->size()), MPI_CHAR, r, tag, control, &request);
    MPI_Request_free(&request);
  }
}

void relay_interrupt(int signal_number) {
  static bool told = false;
  abandoned = true;
  if (told) return;
  told = true;
  tell_others(STOPPED_TAG, std::string(1, static_cast<char>(signal_number)));
}

// The message with `tag` another process sent, if one has come.
bool take(int tag, std::string *bytes) {
  int waiting = 0;
  MPI_Status status;
  MPI_Iprobe(MPI_ANY_SOURCE, tag, control, &waiting, &status);
  if (!waiting) return false;
  int length = 0;
  MPI_Get_count(&status, MPI_CHAR, &length);
  bytes->assign(static_cast<std::size_t>(length), '\0');
  MPI_Recv(length ? &(*bytes)[0] : nullptr, length, MPI_CHAR, status.MPI_SOURCE, tag, control, MPI_STATUS_IGNORE);
  announced[static_cast<std::size_t>(status.MPI_SOURCE)] = true;
  return true;
}

// The processes on this machine that ended without telling the others (killed, crashed): their
// ids are free again (mpirun collects its ended processes at once).
std::vector<int> gone_processes() {
  std::string bytes;
  std::vector<int> gone;
  while (take(STOPPED_TAG, &bytes)) note_interrupt(bytes.empty() ? SIGTERM : static_cast<unsigned char>(bytes[0]));
  const member &me = members[static_cast<std::size_t>(group.rank)];
  for (int r = 0; r < group.size; r++) {
    const member &m = members[static_cast<std::size_t>(r)];
    if (r == group.rank || announced[static_cast<std::size_t>(r)] || std::strcmp(m.machine, me.machine) != 0) continue;
    if (kill(static_cast<pid_t>(m.pid), 0) != 0 && errno == ESRCH) gone.push_back(r);
  }
  return gone;
}

// While waiting: a signal here or at another process ends the wait (interrupted), and so,
// unless the wait is the end of a shared step, does another process's failure (thrown here).
// Every tenth of a second it looks for processes that are gone: the run then stops as for SIGTERM.
void heed_others(bool failures, long round) {
  std::string bytes;
  if (take(STOPPED_TAG, &bytes) && !bytes.empty()) note_interrupt(static_cast<unsigned char>(bytes[0]));
  if (round % 500 == 499 && !gone_processes().empty()) note_interrupt(SIGTERM);
  if (interrupt_arrived()) {
    abandoned = true;
    stop_if_interrupted();
  }
  if (failures && take(FAILED_TAG, &bytes) && !bytes.empty()) {
    abandoned = true;
    throw error_from_bytes(bytes);
  }
}

// Completes `request`, heeding the others meanwhile: tests it at once, then after short
// yields, then every 200 microseconds, so that a long wait costs little CPU.
void wait(MPI_Request &request, bool failures = true) {
  for (long round = 0;; round++) {
    int done = 0;
    check(MPI_Test(&request, &done, MPI_STATUS_IGNORE), "wait for another process");
    if (done) return;
    heed_others(failures, round);
    if (round < 1000) {
      sched_yield();
    } else {
      const timespec pause{0, 200000};
      nanosleep(&pause, nullptr);
    }
  }
}

void send(const double *values, std::size_t n, int to) {
  for (std::size_t at = 0; at < n || at == 0; at += MESSAGE_VALUES) {
    const std::size_t part = n - at < MESSAGE_VALUES ? n - at : MESSAGE_VALUES;
    MPI_Request request;
    check(MPI_Isend(values + at, static_cast<int>(part), MPI_DOUBLE, to, 0, MPI_COMM_WORLD, &request), "send");
    wait(request);
    if (n == 0) break;
  }
}

void receive(double *values, std::size_t n, int from) {
  for (std::size_t at = 0; at < n || at == 0; at += MESSAGE_VALUES) {
    const std::size_t part = n - at < MESSAGE_VALUES ? n - at : MESSAGE_VALUES;
    MPI_Request request;
    check(MPI_Irecv(values + at, static_cast<int>(part), MPI_DOUBLE, from, 0, MPI_COMM_WORLD, &request), "receive");
    wait(request);
    if (n == 0) break;
  }
}

void broadcast_on(MPI_Comm comm, void *values, int n, MPI_Datatype type, int root, bool failures) {
  MPI_Request request;
  check(MPI_Ibcast(values, n, type, root, comm, &request), "broadcast");
  wait(request, failures);
}

void broadcast(double *values, std::size_t n, int root) {
  for (std::size_t at = 0; at < n; at += MESSAGE_VALUES) {
    const std::size_t part = n - at < MESSAGE_VALUES ? n - at : MESSAGE_VALUES;
    broadcast_on(MPI_COMM_WORLD, values + at, static_cast<int>(part), MPI_DOUBLE, root, true);
  }
}

void gather(const double *mine, std::size_t n, double *all) {
  MPI_Request request;
  check(MPI_Iallgather(mine, static_cast<int>(n), MPI_DOUBLE, all, static_cast<int>(n), MPI_DOUBLE, MPI_COMM_WORLD,
                       &request),
        "gather");
  wait(request);
}

void broadcast_text_on(MPI_Comm comm, std::string &text, int root, bool failures) {
  unsigned long long length = text.size();
  broadcast_on(comm, &length, 1, MPI_UNSIGNED_LONG_LONG, root, failures);
  if (group.rank != root) text.assign(length, '\0');
  if (length > 0) broadcast_on(comm, &text[0], static_cast<int>(length), MPI_CHAR, root, failures);
}

void broadcast_text(std::string &text, int root) { broadcast_text_on(MPI_COMM_WORLD, text, root, true); }

// The end of a shared step, on the control communicator: a failure is told to the others at
// once, then every process learns which processes failed, and the first one's error.
std::shared_ptr<const error> agree(const error *failure) {
  if (failure) tell_others(FAILED_TAG, error_as_bytes(*failure));
  double mine = failure ? 1.0 : 0.0;
  std::vector<double> all(static_cast<std::size_t>(group.size));
  MPI_Request request;
  check(MPI_Iallgather(&mine, 1, MPI_DOUBLE, all.data(), 1, MPI_DOUBLE, control, &request), "gather");
  wait(request, false);
  for (int r = 0; r < group.size; r++) {
    if (all[r] == 0.0) continue;
    abandoned = true;  // the run ends: a process may have left an operation open
    std::string bytes = failure ? error_as_bytes(*failure) : "";
    broadcast_text_on(control, bytes, r, false);
    return std::make_shared<error>(error_from_bytes(bytes));
  }
  return nullptr;
}
#endif

}  // namespace

const process_group *start_processes(int *argc, char ***argv) {
#ifdef MOGEM_MPI
  if (!started_by_launcher()) return nullptr;
  check(MPI_Init(argc, argv), "start");
  mpi_started = true;
  MPI_Comm_rank(MPI_COMM_WORLD, &group.rank);
  MPI_Comm_size(MPI_COMM_WORLD, &group.size);
  if (group.size <= 1) return nullptr;
  check(MPI_Comm_dup(MPI_COMM_WORLD, &control), "start");
  member me{static_cast<long>(getpid()), {}};
  int length = 0;
  MPI_Get_processor_name(me.machine, &length);
  members.resize(static_cast<std::size_t>(group.size));
  announced.assign(static_cast<std::size_t>(group.size), false);
  check(MPI_Allgather(&me, sizeof me, MPI_BYTE, members.data(), sizeof me, MPI_BYTE, MPI_COMM_WORLD), "start");
  group.send = send;
  group.receive = receive;
  group.broadcast = broadcast;
  group.gather = gather;
  group.broadcast_text = broadcast_text;
  group.agree = agree;
  relay_interrupts(relay_interrupt);
  return &group;
#else
  (void)argc;
  (void)argv;
  (void)started_by_launcher;
  return nullptr;
#endif
}

std::string interrupt_message(const process_group *processes, int signal_number) {
  const std::string plain = std::string("Interrupted (") + (signal_number == SIGINT ? "SIGINT" : "SIGTERM") +
                            "); no result was written";
  if (!processes) return plain;
#ifdef MOGEM_MPI
  // The lowest-ranked process alive speaks.
  const std::vector<int> gone = gone_processes();
  std::string names;
  for (int r : gone) names += (names.empty() ? "" : ", ") + std::to_string(r);
  for (int r = 0; r < group.rank; r++)
    if (std::find(gone.begin(), gone.end(), r) == gone.end()) return "";
  if (gone.empty()) return plain;
  return std::string(gone.size() > 1 ? "Error: processes " : "Error: process ") + names +
         " of the run died (killed, or crashed); the others were stopped, and no result was written";
#else
  return processes->rank == 0 ? plain : "";
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
  if (mpi_started && !abandoned) MPI_Finalize();
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
