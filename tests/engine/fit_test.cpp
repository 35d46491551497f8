// mogem::fit's refusals: the settings and data it cannot fit, each with its message.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "mogem/mogem.h"
#include "support/run_binary.h"

namespace {

const std::vector<double> six_points = {0.0, 0.0, 0.5, 0.2, 0.1, 0.6, 5.0, 5.0, 5.4, 4.8, 4.9, 5.5};

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
