#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "io/output_file.h"
#include "mogem/files.h"
#include "support/run_binary.h"
#include "support/same_model.h"

namespace {

// One class of one feature and two rows: something for every writer to write.
mogem::fit_result one_class() {
  mogem::fit_result r;
  r.model.kind = mogem::covariance_kind::diagonal;
  r.model.classes = 1;
  r.model.features = 1;
  r.model.means = r.model.covariances = r.model.weights = {1.0};
  r.posteriors = {1, 1};
  r.labels = {0, 0};
  return r;
}

const double one[] = {1.0};
const int first_class[] = {0};
const mogem::snapshot at_step_12{12, 1, 1, one, one, first_class, 1};

}  // namespace

// The cases whole runs do not reach: a trailing slash, a parent directory with a dot, no name.
TEST(FileNames, OnlyTheLastComponentsDotCutsTheExtension) {
  const char *const cases[][3] = {
      {"labels.txt", ".means", "labels.means"},
      {"out/labels.txt/", ".means", "out/labels.txt/.means"},
      {"../x.y/out.txt", "00012.labels", "../x.y/out00012.labels"},
      {"", ".probs", ".probs"},
  };
  for (const auto &c : cases) EXPECT_EQ(mogem::result_file_name(c[0], c[1]), c[2]);
}

// The bytes the writers put in the model files (each number rounded to single precision, then
// six decimals; the labels counting from 1; one line of posteriors per point) and in the dumps are
// pinned by the expected-output cases: printing the unrounded numbers fails 31 of them.
// Every writer notices a write or close that fails (a full disk: /dev/full opens, but takes
// nothing), and a file that cannot be created.
TEST(WriteFailures, NameTheFileAndTheSystemsReason) {
  const mogem::fit_result r = one_class();
  const mogem::model &m = r.model;
  using writer = std::function<void(const std::string &)>;
  const writer writers[] = {
      [&](const std::string &p) { mogem::write_labels(p, r); },
      [&](const std::string &p) { mogem::write_means(p, m); },
      [&](const std::string &p) { mogem::write_variances(p, m); },
      [&](const std::string &p) { mogem::write_weights(p, m); },
      [&](const std::string &p) { mogem::write_posteriors(p, r); },
      [&](const std::string &p) { mogem::write_transformed_data(p, one, 1, 1); },
      [&](const std::string &p) { mogem::write_snapshot_means(p, at_step_12); },
      [&](const std::string &p) { mogem::write_snapshot_variances(p, at_step_12); },
      [&](const std::string &p) { mogem::write_snapshot_labels(p, at_step_12); },
  };
  scratch_dir dir;
  dir.make_dir("in_the_way");
  for (const writer &write : writers) {
    const int which = static_cast<int>(&write - writers);
    const std::pair<std::string, std::string> targets[] = {{"/dev/full", "No space left on device"},
                                                           {dir.path("in_the_way"), "Is a directory"}};
    for (const auto &[path, reason] : targets) {
      // The labels file that cannot be created has a message of its own.
      const std::string expected = which == 0 && path != "/dev/full"
                                       ? "Could not open results filename [" + path + "] for writing.\nAborting..."
                                       : "could not write the file " + path + ": " + reason;
      const mogem::error e = error_of([&] { write(path); });
      EXPECT_EQ(e.what_kind(), mogem::error::kind::write_failure) << which << " " << path;
      EXPECT_EQ(e.what(), expected) << which;
    }
  }
}

// A result replaces a file through a temporary renamed onto it; a link is followed and stays,
// and a device is written as it is, never replaced by a file of that name. A name that reaches
// a descriptor of the process (the links through /proc and /dev/fd are tested through the
// program) is written through it: /dev/stdout is planned, never written, here.
TEST(WriteTargets, LinksStayAndDevicesAreWrittenInPlace) {
  for (const auto &[path, descriptor] : {std::pair<const char *, int>{"/dev/stdout", 1}, {"/dev/stderr", 2},
                                         {"/proc/self/fd/0", 0}, {"/dev/null", -1}}) {
    const mogem::detail::write_plan plan = mogem::detail::plan_write(path);
    EXPECT_EQ(plan.descriptor, descriptor) << path;
    EXPECT_TRUE(plan.in_place) << path;
  }
  scratch_dir dir;
  const mogem::fit_result m = one_class();
  dir.write("real.txt", "old\n");
  ASSERT_EQ(symlink("real.txt", dir.path("link.txt").c_str()), 0);
  mogem::write_labels(dir.path("link.txt"), m);
  struct stat st;
  ASSERT_EQ(lstat(dir.path("link.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(dir.read("real.txt"), "1\n1\n");
  mogem::write_labels("/dev/null", m);
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  for (const std::string &name : dir.files()) EXPECT_EQ(name.find(".mogem-tmp."), std::string::npos) << name;
}
