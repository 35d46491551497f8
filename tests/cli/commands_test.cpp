// mogem fit | select | predict through the program: the labels are the parameter file's for the
// same settings and data, the outputs and the summary are what a user reads, and a command line
// that cannot run is refused before any work with exit 2 and a suggestion.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/run_binary.h"

namespace {

const std::string iris = source_file("examples/iris_features.csv");

// The iris rows as a parameter file with these keys.
std::string parameter_file(const std::string &keys) {
  std::string text = "rows 150 cols 4 " + keys + "\nbegin data\n";
  for (std::size_t at = iris.find('\n') + 1; at < iris.size(); at++) text += iris[at] == ',' ? ' ' : iris[at];
  return text;
}

const std::string command_defaults = "em_type full init_params kmeans reg_covar 1e-6 variance_floor 0 stop_rule "
                                     "loglik tol 1e-3 max_em_iterations 100 num_restarts 3 ";

std::vector<std::string> fit(std::vector<std::string> flags) {
  flags.insert(flags.begin(), {"fit", "iris.csv"});
  return flags;
}

}  // namespace

// The commands' defaults and flags are the parameter file's keys: the same labels, byte for byte.
TEST(Commands, FitGivesTheLabelsOfTheParameterFileWithTheSameSettings) {
  const struct {
    std::vector<std::string> flags;
    std::string keys;
  } cases[] = {
      {{"-k", "3"}, command_defaults + "num_clusters 3"},
      {{"--classes=2", "--covariance", "diagonal", "--seed", "7", "--n-init", "2", "--center"},
       command_defaults + "num_clusters 2 em_type diagonal random_seed 7 num_restarts 2 center 1"},
      {{"-k3", "--init", "church_means", "--stop-rule", "weights", "--variance-floor", "0.001", "--reg-covar", "0",
        "--max-iter", "50", "--metric", "correlation"},
       command_defaults + "num_clusters 3 init_params init_method init_method church_means stop_rule weights "
                          "variance_floor 0.001 reg_covar 0 num_restarts 1 max_em_iterations 50 distance_metric "
                          "correlation"},
      {{"-k", "3", "--annealing", "--covariance", "scalar"},
       command_defaults + "num_clusters 3 algorithm em_annealing em_type scalar"},
  };
  for (const auto &c : cases) {
    scratch_dir dir;
    dir.write("iris.csv", iris);
    dir.write("p.txt", parameter_file(c.keys));
    ASSERT_EQ(run_mogem(dir, {"p.txt", "p.labels"}).exit_code, 0) << c.keys;
    const run_result run = run_mogem(dir, fit(c.flags));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, dir.read("p.labels")) << c.keys;
  }
}

TEST(Commands, OutputsSummaryAndPrediction) {
  scratch_dir dir;
  dir.write("iris.csv", iris);
  const run_result plain = run_mogem(dir, fit({"-k", "3"}));
  EXPECT_NE(plain.err.find("3 classes, full covariance, 150 rows: log-likelihood"), std::string::npos) << plain.err;
  EXPECT_NE(plain.err.find("EM steps, ended by the stop rule (log-likelihood change below --tol)\nstart 1 of 3 kept (the highest "
                            "log-likelihood)\nclass  weight"),
            std::string::npos);
  // CSV: a header, then the row, the label of the plain run and the probabilities.
  std::istringstream csv(run_mogem(dir, fit({"-k", "3", "--format", "csv", "-q"})).out);
  std::string line, labels;
  std::getline(csv, line);
  EXPECT_EQ(line, "row,label,p1,p2,p3");
  for (int row = 1; std::getline(csv, line); row++) {
    EXPECT_EQ(line.substr(0, line.find(',') + 1), std::to_string(row) + ",");
    labels += line.substr(line.find(',') + 1, line.find(',', line.find(',') + 1) - line.find(',') - 1) + "\n";
  }
  EXPECT_EQ(labels, plain.out);
  // -o: the files, all of them, and nothing on standard output; predicting the training rows
  // gives the fit's probabilities.
  const run_result saved = run_mogem(dir, fit({"-k", "3", "-o", "run"}));
  EXPECT_EQ(saved.out, "");
  EXPECT_EQ(dir.read("run.labels"), plain.out);
  EXPECT_NE(dir.read("run.model.json").find("\"petal_width\""), std::string::npos);
  EXPECT_NE(dir.read("run.summary.json").find("\"run\": \"fit\""), std::string::npos);
  EXPECT_EQ(run_mogem(dir, {"predict", "run.model.json", "iris.csv", "-o", "new"}).exit_code, 0);
  EXPECT_EQ(dir.read("new.probs"), dir.read("run.probs"));
  // The picture of a fit (tools/mogem-plot, from the saved model and the data).
  EXPECT_EQ(run_mogem(dir, fit({"-k", "3", "-q", "--plot", "fit.png"})).exit_code, 0);
  EXPECT_EQ(dir.read("fit.png").substr(1, 3), "PNG");
  // A budget that ends the fit says so, with the remedy.
  const run_result short_run = run_mogem(dir, fit({"-k", "3", "--max-iter", "2", "-o", "short"}));
  EXPECT_NE(short_run.err.find("warning: EM stopped at its budget of 2 steps before the stop rule was met (last "
                               "change "),
            std::string::npos)
      << short_run.err;
  EXPECT_NE(short_run.err.find("); raise --max-iter or --tol\n"), std::string::npos);
  // select: the candidates, the choice marked, a failed one shown as failed; the table file.
  const run_result chosen =
      run_mogem(dir, {"select", "iris.csv", "-k", "1:3", "--covariance", "full,scalar", "-o", "sel"});
  EXPECT_EQ(chosen.exit_code, 0) << chosen.err;
  EXPECT_NE(chosen.err.find("*       2  full"), std::string::npos) << chosen.err;
  EXPECT_EQ(dir.read("sel.selection.tsv").substr(0, 8), "classes\t");
  dir.write("tiny.csv", "a,b\n1,2\n1.1,2.3\n0.9,1.8\n5,5\n5.2,5.1\n4.9,5.3\n");
  const run_result failing = run_mogem(dir, {"select", "tiny.csv", "-k", "2:3", "--covariance", "full", "--reg-covar", "0"});
  EXPECT_NE(failing.err.find("*       2  full"), std::string::npos) << failing.err;
  EXPECT_NE(failing.err.find("\n        3  full        failed: the covariance of class"), std::string::npos);
}

TEST(Commands, StrictCommandLinesEndBeforeAnyWork) {
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {fit({"-k", "3", "--max-iters", "5"}), "unknown option --max-iters; did you mean --max-iter?"},
      {fit({"-k", "3", "--covariance", "ful"}), "--covariance is \"ful\"; it must be one of scalar, diagonal, full, "
                                               "tied; did you mean full?"},
      {fit({"-k", "0"}), "--classes is \"0\"; it must be a whole number of 1 or more"},
      {fit({"-k", "3", "--tol=-1"}), "--tol is \"-1\"; it must be a number of 0 or more"},
      {fit({"-k", "3", "--center=yes"}), "--center takes no value"},
      {fit({"-k", "3", "--init", "file"}), "give it with --means FILE"},
      {fit({}), "the number of classes is needed"},
      {fit({"-k", "3", "--init", "church_means", "--n-init", "2"}), "(restarts is --n-init on the command line)"},
      {{"select", "iris.csv", "--covariance", "full,diag"}, "\"diag\" is not a covariance kind"},
      {{"select", "iris.csv", "--means", "m.txt"}, "unknown option --means; it belongs to mogem fit"},
      {{"predict", "iris.csv"}, "it takes a saved model and a data file"},
      {fit({"-k", "3", "-o", "out", "-o"}), "--output needs a value"},
      // A column the data do not have is the command line's bad value too, once the header is read.
      {fit({"-k", "3", "--columns", "sepal_length,petal_widht"}),
       "mogem fit: iris.csv: no column is named \"petal_widht\"; the header names sepal_length, sepal_width, "
       "petal_length, petal_width; did you mean petal_width?\n"},
  };
  for (const auto &c : cases) {
    scratch_dir dir;
    dir.write("iris.csv", iris);
    const run_result run = run_mogem(dir, c.args);
    EXPECT_EQ(run.exit_code, 2) << c.says;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(dir.files(), std::vector<std::string>{"iris.csv"});
  }
}

// A parameter file called "fit" runs as one: the first argument names an existing file; a folder
// of that name leaves the command to run.
TEST(Commands, AnExistingFileNamedLikeACommandIsAParameterFile) {
  scratch_dir dir;
  dir.write("fit", parameter_file(command_defaults + "num_clusters 3"));
  const run_result run = run_mogem(dir, {"fit", "fit.labels"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(dir.exists("fit.labels"));
  scratch_dir folder;  // a folder of the name is no parameter file
  folder.make_dir("fit");
  folder.write("iris.csv", iris);
  EXPECT_EQ(run_mogem(folder, fit({"-k", "3", "-q"})).out, dir.read("fit.labels"));
}
