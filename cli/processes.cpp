#include "cli/processes.h"

#include <gnu/libc-version.h>

#include <cstdlib>
#include <vector>

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

void check(int code, const char *what) {
  if (code != MPI_SUCCESS) throw error(error::kind::numerical_failure, std::string("MPI failed to ") + what);
}

void send(const double *values, std::size_t n, int to) {
  for (std::size_t at = 0; at < n || at == 0; at += MESSAGE_VALUES) {
    const std::size_t part = n - at < MESSAGE_VALUES ? n - at : MESSAGE_VALUES;
    check(MPI_Send(values + at, static_cast<int>(part), MPI_DOUBLE, to, 0, MPI_COMM_WORLD), "send");
    if (n == 0) break;
  }
}

void receive(double *values, std::size_t n, int from) {
  for (std::size_t at = 0; at < n || at == 0; at += MESSAGE_VALUES) {
    const std::size_t part = n - at < MESSAGE_VALUES ? n - at : MESSAGE_VALUES;
    check(MPI_Recv(values + at, static_cast<int>(part), MPI_DOUBLE, from, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE),
          "receive");
    if (n == 0) break;
  }
}

void broadcast(double *values, std::size_t n, int root) {
  for (std::size_t at = 0; at < n; at += MESSAGE_VALUES) {
    const std::size_t part = n - at < MESSAGE_VALUES ? n - at : MESSAGE_VALUES;
    check(MPI_Bcast(values + at, static_cast<int>(part), MPI_DOUBLE, root, MPI_COMM_WORLD), "broadcast");
  }
}

void gather(const double *mine, std::size_t n, double *all) {
  check(MPI_Allgather(mine, static_cast<int>(n), MPI_DOUBLE, all, static_cast<int>(n), MPI_DOUBLE, MPI_COMM_WORLD),
        "gather");
}

void broadcast_text(std::string &text, int root) {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  unsigned long long length = text.size();
  check(MPI_Bcast(&length, 1, MPI_UNSIGNED_LONG_LONG, root, MPI_COMM_WORLD), "broadcast");
  if (rank != root) text.assign(length, '\0');
  if (length > 0) check(MPI_Bcast(&text[0], static_cast<int>(length), MPI_CHAR, root, MPI_COMM_WORLD), "broadcast");
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
  group.send = send;
  group.receive = receive;
  group.broadcast = broadcast;
  group.gather = gather;
  group.broadcast_text = broadcast_text;
  return &group;
#else
  (void)argc;
  (void)argv;
  (void)started_by_launcher;
  return nullptr;
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
  if (mpi_started) MPI_Finalize();
  mpi_started = false;
#endif
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
  std::string first = machine_signature();
  const std::string mine = first;
  group.broadcast_text(first, 0);
  const double differs = mine != first ? 1.0 : 0.0;
  std::vector<double> all(static_cast<std::size_t>(group.size));
  group.gather(&differs, 1, all.data());
  for (int r = 0; r < group.size; r++) {
    if (all[r] == 0.0) continue;
    std::string theirs = mine;
    group.broadcast_text(theirs, r);
    return "WARNING: the processes run on different machines (process 0: " + first + "; process " +
           std::to_string(r) + ": " + theirs +
           "); exp and log may then round differently, and the results may differ from one process's in the last bits";
  }
  return "";
}

}  // namespace mogem::detail
