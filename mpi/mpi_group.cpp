#include "mpi/mpi_group.h"

#include <sched.h>
#include <unistd.h>

#include <ctime>
#include <utility>

#include "engine/processes.h"

namespace mogem::detail {

namespace {

// Doubles go in messages of at most this many, far inside MPI's int counts.
constexpr std::size_t MESSAGE_VALUES = std::size_t(1) << 26;

void check(int code, const char *what) {
  if (code != MPI_SUCCESS) throw error(error::kind::numerical_failure, std::string("MPI failed to ") + what);
}

// Completes `request`, heeding the caller and, unless the wait is the end of a shared step,
// another process's failure (thrown here): tests it at once, then after short yields, then every
// 200 microseconds, so that a long wait costs little CPU.
void wait(mpi_group &g, MPI_Request &request, bool failures = true) {
  std::string bytes;
  for (long round = 0;; round++) {
    int done = 0;
    check(MPI_Test(&request, &done, MPI_STATUS_IGNORE), "wait for another process");
    if (done) return;
    if (g.heed) g.heed(round);
    if (failures && take(g, FAILED_TAG, &bytes) && !bytes.empty()) {
      g.abandoned = true;
      throw error_from_bytes(bytes);
    }
    if (round < 1000) {
      sched_yield();
    } else {
      const timespec pause{0, 200000};
      nanosleep(&pause, nullptr);
    }
  }
}

void send(mpi_group &g, const double *values, std::size_t n, int to) {
  for (std::size_t at = 0; at < n || at == 0; at += MESSAGE_VALUES) {
    const std::size_t part = n - at < MESSAGE_VALUES ? n - at : MESSAGE_VALUES;
    MPI_Request request;
    check(MPI_Isend(values + at, static_cast<int>(part), MPI_DOUBLE, to, 0, g.fit, &request), "send");
    wait(g, request);
    if (n == 0) break;
  }
}

void receive(mpi_group &g, double *values, std::size_t n, int from) {
  for (std::size_t at = 0; at < n || at == 0; at += MESSAGE_VALUES) {
    const std::size_t part = n - at < MESSAGE_VALUES ? n - at : MESSAGE_VALUES;
    MPI_Request request;
    check(MPI_Irecv(values + at, static_cast<int>(part), MPI_DOUBLE, from, 0, g.fit, &request), "receive");
    wait(g, request);
    if (n == 0) break;
  }
}

void broadcast_on(mpi_group &g, MPI_Comm comm, void *values, int n, MPI_Datatype type, int root, bool failures) {
  MPI_Request request;
  check(MPI_Ibcast(values, n, type, root, comm, &request), "broadcast");
  wait(g, request, failures);
}

void broadcast(mpi_group &g, double *values, std::size_t n, int root) {
  for (std::size_t at = 0; at < n; at += MESSAGE_VALUES) {
    const std::size_t part = n - at < MESSAGE_VALUES ? n - at : MESSAGE_VALUES;
    broadcast_on(g, g.fit, values + at, static_cast<int>(part), MPI_DOUBLE, root, true);
  }
}

void gather(mpi_group &g, const double *mine, std::size_t n, double *all) {
  MPI_Request request;
  check(MPI_Iallgather(mine, static_cast<int>(n), MPI_DOUBLE, all, static_cast<int>(n), MPI_DOUBLE, g.fit, &request),
        "gather");
  wait(g, request);
}

void broadcast_text_on(mpi_group &g, MPI_Comm comm, std::string &text, int root, bool failures) {
  unsigned long long length = text.size();
  broadcast_on(g, comm, &length, 1, MPI_UNSIGNED_LONG_LONG, root, failures);
  if (g.group.rank != root) text.assign(length, '\0');
  if (length > 0) broadcast_on(g, comm, &text[0], static_cast<int>(length), MPI_CHAR, root, failures);
}

// The end of a shared step, on the control communicator: a failure is told to the others at
// once, then every process learns which processes failed, and the first one's error.
std::shared_ptr<const error> agree(mpi_group &g, const error *failure) {
  if (failure) tell_others(g, FAILED_TAG, error_as_bytes(*failure));
  double mine = failure ? 1.0 : 0.0;
  std::vector<double> all(static_cast<std::size_t>(g.group.size));
  MPI_Request request;
  check(MPI_Iallgather(&mine, 1, MPI_DOUBLE, all.data(), 1, MPI_DOUBLE, g.control, &request), "gather");
  wait(g, request, false);
  for (int r = 0; r < g.group.size; r++) {
    if (all[r] == 0.0) continue;
    g.abandoned = true;  // the fit ends: a process may have left an operation open
    std::string bytes = failure ? error_as_bytes(*failure) : "";
    broadcast_text_on(g, g.control, bytes, r, false);
    return std::make_shared<error>(error_from_bytes(bytes));
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<mpi_group> mpi_group_over(MPI_Comm comm) {
  auto g = std::make_unique<mpi_group>();
  check(MPI_Comm_rank(comm, &g->group.rank), "start");
  check(MPI_Comm_size(comm, &g->group.size), "start");
  check(MPI_Comm_dup(comm, &g->fit), "start");
  check(MPI_Comm_dup(comm, &g->control), "start");
  mpi_member me{static_cast<long>(getpid()), {}};
  int length = 0;
  MPI_Get_processor_name(me.machine, &length);
  g->members.resize(static_cast<std::size_t>(g->group.size));
  g->announced.assign(static_cast<std::size_t>(g->group.size), false);
  check(MPI_Allgather(&me, sizeof me, MPI_BYTE, g->members.data(), sizeof me, MPI_BYTE, g->fit), "start");
  mpi_group &at = *g;
  g->group.send = [&at](const double *values, std::size_t n, int to) { send(at, values, n, to); };
  g->group.receive = [&at](double *values, std::size_t n, int from) { receive(at, values, n, from); };
  g->group.broadcast = [&at](double *values, std::size_t n, int root) { broadcast(at, values, n, root); };
  g->group.gather = [&at](const double *mine, std::size_t n, double *all) { gather(at, mine, n, all); };
  g->group.broadcast_text = [&at](std::string &text, int root) { broadcast_text_on(at, at.fit, text, root, true); };
  g->group.agree = [&at](const error *failure) { return agree(at, failure); };
  return g;
}

void free_mpi_group(mpi_group &g) {
  int finalized = 0;
  MPI_Finalized(&finalized);
  if (g.abandoned || finalized) return;
  for (MPI_Comm *comm : {&g.fit, &g.control})
    if (*comm != MPI_COMM_NULL) MPI_Comm_free(comm);
}

namespace {
std::vector<MPI_Request> told;  // the sends of tell_others not yet known to be complete
}  // namespace

void tell_others(mpi_group &g, int tag, std::string bytes) {
  static std::vector<std::unique_ptr<std::string>> sent;
  finish_telling(0);  // forget the sends that completed
  sent.push_back(std::make_unique<std::string>(std::move(bytes)));
  for (int r = 0; r < g.group.size; r++) {
    if (r == g.group.rank) continue;
    told.emplace_back();
    MPI_Isend(&(*sent.back())[0], static_cast<int>(sent.back()->size()), MPI_CHAR, r, tag, g.control, &told.back());
  }
}

bool finish_telling(double seconds) {
  const timespec pause{0, 1000000};
  for (double waited = 0;; waited += 0.001) {
    int done = 0;
    MPI_Testall(static_cast<int>(told.size()), told.data(), &done, MPI_STATUSES_IGNORE);
    if (done) {
      told.clear();
      return true;
    }
    if (waited >= seconds) return false;
    nanosleep(&pause, nullptr);
  }
}

bool take(mpi_group &g, int tag, std::string *bytes) {
  int waiting = 0;
  MPI_Status status;
  MPI_Iprobe(MPI_ANY_SOURCE, tag, g.control, &waiting, &status);
  if (!waiting) return false;
  int length = 0;
  MPI_Get_count(&status, MPI_CHAR, &length);
  bytes->assign(static_cast<std::size_t>(length), '\0');
  MPI_Recv(length ? &(*bytes)[0] : nullptr, length, MPI_CHAR, status.MPI_SOURCE, tag, g.control, MPI_STATUS_IGNORE);
  g.announced[static_cast<std::size_t>(status.MPI_SOURCE)] = true;
  return true;
}

}  // namespace mogem::detail
