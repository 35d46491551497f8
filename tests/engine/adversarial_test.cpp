// Inputs a pipeline may hand the program that nobody wrote for it, run through the real binary:
// each ends with its exit code and a message, nothing crashes, and a failed run leaves no
// results behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "support/run_binary.h"


namespace {

const char *const kinds[] = {"scalar", "diagonal", "full"};
const char *const metrics[] = {"euclidean", "correlation", "correlation_centered"};

const std::vector<std::string> input_only = {"input.txt"};

std::string nr_error(const std::string &text) {
  return "Numerical Recipes run-time error...\n" + text + "\n...now exiting to system...\n";
}

}  // namespace

// Data no model of a kind can fit: each ends with its labels and model, or with the failure of
// the factorisation, and nothing in between.
TEST(AdversarialInput, DegenerateData) {
  std::string extreme[2];  // squared distances that overflow (1e300) or underflow (1e-300)
  for (const char *v : {"1", "2", "1.5", "3", "-1", "0", "5", "1"}) {
    extreme[0] += std::string(" ") + v + "e300";
    extreme[1] += std::string(" ") + v + "e-300";
  }
  const struct {
    std::string shape_and_data;
    std::string labels, means, variances, probs;  // what a run that succeeds writes; "" when free
    bool nan_weights;
    std::string full_failure;  // when not empty, the end of a full-covariance run
  } cases[] = {
      // Constant data hold the variance floor under every kind.
      {"rows 4 cols 2 num_clusters 1 begin x 3 3 3 3 3 3 3 3", "1\n1\n1\n1\n", "3.000000\t3.000000\n",
       "0.001000\t0.001000\n", "", false, ""},
      // Two classes on identical points start with coinciding means, hence zero variances: NaN
      // weights, or a covariance that cannot be decomposed.
      {"rows 4 cols 2 num_clusters 2 begin x 1 2 1 2 1 2 1 2", "1\n1\n1\n1\n", "", "", "", true,
       "Singular matrix in routine NR_dludcmp"},
      // As many classes as points: under scalar and diagonal variances each point gets a class of
      // its own. A full covariance shrinks onto its point: only its diagonal is floored, the
      // off-diagonal terms of the other points' tiny posteriors remain, and the matrix stops
      // being positive definite.
      {"rows 3 cols 2 num_clusters 3 begin x 0 0 10 1 3 9", "1\n2\n3\n", "", "", "", false, "NR_dcholdc failed"},
      // Infinite or zero initial variances: scalar and diagonal runs carry NaN through the model
      // and label every point 1; a full covariance of zeros or infinities cannot be decomposed.
      {"rows 4 cols 2 num_clusters 2 begin x" + extreme[0], "1\n1\n1\n1\n", "", "", "", true,
       "Singular matrix in routine NR_dludcmp"},
      {"rows 4 cols 2 num_clusters 2 begin x" + extreme[1], "1\n1\n1\n1\n", "", "", "", true,
       "Singular matrix in routine NR_dludcmp"},
      {"rows 1 cols 1 num_clusters 1 begin x 4.5", "1\n", "4.500000\n", "", "1.000000\n", false, ""},
  };
  for (const auto &c : cases)
    for (const char *kind : kinds) {
      scratch_dir dir;
      run_result r = run_input(dir, std::string("max_em_iterations 20 output_model 1 em_type ") + kind + " " +
                                        c.shape_and_data);
      const bool fails = std::string(kind) == "full" && !c.full_failure.empty();
      EXPECT_EQ(r.exit_code, fails ? 1 : 0) << kind << " " << c.shape_and_data;
      EXPECT_EQ(r.err, fails ? nr_error(c.full_failure) : "") << kind << " " << c.shape_and_data;
      if (fails) {
        EXPECT_EQ(dir.files(), input_only);
        continue;
      }
      EXPECT_EQ(dir.read("labels.txt"), c.labels) << kind << " " << c.shape_and_data;
      for (const auto &[file, expected] : {std::pair{"labels.means", c.means}, std::pair{"labels.variances", c.variances},
                                           std::pair{"labels.probs", c.probs}})
        if (!expected.empty()) EXPECT_EQ(dir.read(file), expected) << kind << " " << file;
      EXPECT_EQ(dir.read("labels.weights").find("nan") != std::string::npos, c.nan_weights) << kind;
    }
}

TEST(AdversarialOutput, TheInputIsNeverOverwritten) {
  const std::string input = "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_model 1 begin x 1 2";
  scratch_dir dir;
  dir.write("data.txt", input);
  dir.write("run.probs", input);
  ASSERT_EQ(link(dir.path("data.txt").c_str(), dir.path("hard.txt").c_str()), 0);
  // The same file by name, by another path, through a hard link, and as a model file named
  // after the output.
  const char *const runs[][3] = {{"data.txt", "data.txt", "output file data.txt"},
                                 {"data.txt", "./data.txt", "output file ./data.txt"},
                                 {"data.txt", "hard.txt", "output file hard.txt"},
                                 {"run.probs", "run.txt", "model file run.probs"}};
  for (const auto &[in, out, clash] : runs) {
    run_result r = run_mogem(dir, {in, out});
    EXPECT_EQ(r.exit_code, 255) << out;
    EXPECT_EQ(r.err, std::string("Error: the ") + clash + " is the input file " + in +
                         "; choose another output name so that the input is not overwritten\n");
  }
  EXPECT_EQ(dir.read("data.txt"), input);
  EXPECT_EQ(dir.read("run.probs"), input);
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"data.txt", "hard.txt", "run.probs"}));

  // A snapshot in the way is skipped and reported; the rest of the run is written.
  scratch_dir snap;
  const std::string snap_input = "rows 2 cols 1 num_clusters 1 max_em_iterations 3 output_stepsize 1 begin x 1 2";
  snap.write("out00001.means", snap_input);
  run_result r = run_mogem(snap, {"out00001.means", "out.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Error: the file out00001.means is the input file; it is not overwritten\n");
  EXPECT_EQ(snap.read("out00001.means"), snap_input);
  EXPECT_EQ(snap.read("out.txt"), "1\n1\n");
}
