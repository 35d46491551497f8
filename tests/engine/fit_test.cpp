// What mogem::fit refuses, each with its message, and what it makes of data no mixture fits.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "mogem/mogem.h"
#include "support/run_binary.h"

namespace {

const std::vector<double> six_points = {0.0, 0.0, 0.5, 0.2, 0.1, 0.6, 5.0, 5.0, 5.4, 4.8, 4.9, 5.5};

std::string nr_error(const std::string &text) {
  return "Numerical Recipes run-time error...\n" + text + "\n...now exiting to system...\n";
}

}  // namespace

TEST(Fit, RefusesWhatCannotBeFitted) {
  scratch_dir dir;
  dir.write("short.means", "0 0\n5\n");
  dir.write("word.means", "1 2 x 4");
  const std::string annealing_text =
      " would never cool to 1; schedule_scalar must lie strictly between 0 and 1 when init_temp is above 1, and "
      "init_temp must be a finite number";
  const struct {
    std::function<void(mogem::options &, std::vector<double> &)> change;
    std::string message;
  } cases[] = {
      // The check comes before any kind, metric or algorithm plays a part.
      {[](mogem::options &, std::vector<double> &d) { d[5] = NAN; },
       "Error: the data of points.txt hold a NaN at row 3, column 2; every value must be a finite number"},
      {[](mogem::options &, std::vector<double> &d) { d[10] = -HUGE_VAL; },
       "Error: the data of points.txt hold an infinite value at row 6, column 1; every value must be a finite number"},
      {[](mogem::options &, std::vector<double> &d) { d.clear(); },
       "Error: the data hold 0 rows of 2 values; at least one row of one value is needed"},
      {[](mogem::options &o, std::vector<double> &) { o.classes = 0; },
       "Error: the number of classes is 0; it must be at least 1"},
      {[](mogem::options &o, std::vector<double> &) { o.method = mogem::algorithm::mixture_of_t; },
       "Error: the algorithm em_mixture_of_t (EM for a mixture of t distributions) is not available; choose em or "
       "em_annealing"},
      {[](mogem::options &o, std::vector<double> &) { o.init = mogem::initialization::random_sample; },
       "Error: the random_sample initialization needs num_samples of at least 1 (it is 0); set num_samples in the "
       "parameter file"},
      {[&](mogem::options &o, std::vector<double> &) {
         o.init = mogem::initialization::means_file;
         o.means_file = dir.path("short.means");
       },
       "Error: the means file " + dir.path("short.means") +
           " holds 3 readable numbers; 4 are needed (2 classes x 2 features)"},
      {[&](mogem::options &o, std::vector<double> &) {
         o.init = mogem::initialization::means_file;
         o.means_file = dir.path("word.means");
       },
       "Error: the means file " + dir.path("word.means") +
           " holds 2 readable numbers; 4 are needed (2 classes x 2 features)"},
      {[](mogem::options &o, std::vector<double> &) {
         o.method = mogem::algorithm::annealing;
         o.init_temp = 3;
         o.schedule_scalar = 1;
       },
       "Error: annealing from init_temp 3 with schedule_scalar 1" + annealing_text},
      {[](mogem::options &o, std::vector<double> &) {
         o.method = mogem::algorithm::annealing;
         o.schedule_scalar = -0.5;
       },
       "Error: annealing from init_temp 10 with schedule_scalar -0.5" + annealing_text},
      {[](mogem::options &o, std::vector<double> &) {
         o.method = mogem::algorithm::annealing;
         o.init_temp = HUGE_VAL;
       },
       "Error: annealing from init_temp inf with schedule_scalar 0.9" + annealing_text},
  };
  for (const auto &c : cases) {
    mogem::options o;
    o.classes = 2;
    o.max_iterations = 5;
    o.data_name = "points.txt";
    std::vector<double> data = six_points;
    c.change(o, data);
    try {
      mogem::fit({data.data(), data.size() / 2, 2}, o);
      ADD_FAILURE() << "fitted despite: " << c.message;
    } catch (const mogem::error &e) {
      EXPECT_EQ(e.what_kind(), mogem::error::kind::invalid_input);
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

// Data no model of a kind can fit: each ends with its labels and model, or with the failure of
// the factorisation, and nothing in between.
TEST(FitThroughTheProgram, DegenerateData) {
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
      // As many classes as points: under scalar and diagonal variances each point gets a class of
      // its own. A full covariance shrinks onto its point: only its diagonal is floored, the
      // off-diagonal terms of the other points' tiny posteriors remain, and the matrix stops
      // being positive definite.
      {"rows 3 cols 2 num_clusters 3 begin x 0 0 10 1 3 9", "1\n2\n3\n", "", "", "", false, "NR_dcholdc failed"},
      // Infinite or zero initial variances: scalar and diagonal runs carry NaN through the model
      // and label every point 1; a full covariance of zeros or infinities cannot be decomposed.
      // (Identical points, which start with zero variances too, are whole-run cases.)
      {"rows 4 cols 2 num_clusters 2 begin x" + extreme[0], "1\n1\n1\n1\n", "", "", "", true,
       "Singular matrix in routine NR_dludcmp"},
      {"rows 4 cols 2 num_clusters 2 begin x" + extreme[1], "1\n1\n1\n1\n", "", "", "", true,
       "Singular matrix in routine NR_dludcmp"},
      {"rows 1 cols 1 num_clusters 1 begin x 4.5", "1\n", "4.500000\n", "", "1.000000\n", false, ""},
  };
  for (const auto &c : cases)
    for (const char *kind : {"scalar", "diagonal", "full"}) {
      scratch_dir dir;
      run_result r = run_input(dir, std::string("max_em_iterations 20 output_model 1 em_type ") + kind + " " +
                                        c.shape_and_data);
      const bool fails = std::string(kind) == "full" && !c.full_failure.empty();
      EXPECT_EQ(r.exit_code, fails ? 1 : 0) << kind << " " << c.shape_and_data;
      EXPECT_EQ(r.err, fails ? nr_error(c.full_failure) : "") << kind << " " << c.shape_and_data;
      if (fails) {
        EXPECT_EQ(dir.files(), std::vector<std::string>{"input.txt"});
        continue;
      }
      EXPECT_EQ(dir.read("labels.txt"), c.labels) << kind << " " << c.shape_and_data;
      for (const auto &[file, expected] : {std::pair{"labels.means", c.means}, std::pair{"labels.variances", c.variances},
                                           std::pair{"labels.probs", c.probs}})
        if (!expected.empty()) {
          EXPECT_EQ(dir.read(file), expected) << kind << " " << file;
        }
      EXPECT_EQ(dir.read("labels.weights").find("nan") != std::string::npos, c.nan_weights) << kind;
    }
}
