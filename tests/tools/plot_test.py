#!/usr/bin/python3
"""tools/mogem-plot's figures before they become pixels: colours for many classes, the axes named
from a saved model or a header, failed selection candidates in the legend. Usage: plot_test.py."""
import importlib.machinery
import importlib.util
import json
import os
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
try:
    import numpy as np
    loader = importlib.machinery.SourceFileLoader("mogem_plot", os.path.join(HERE, "..", "..", "tools", "mogem-plot"))
    plot = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(plot)
    plot.plotting()
except (ImportError, SystemExit):
    plot = None


@unittest.skipIf(plot is None, "matplotlib and numpy are not installed for /usr/bin/python3")
class Figures(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="mogem-plot-")

    def write(self, name, text):
        with open(os.path.join(self.dir, name), "w") as f:
            f.write(text)
        return os.path.join(self.dir, name)

    def test_colours_stay_apart_for_any_class_count(self):
        for count in (3, 10, 12, 16, 20, 25, 40):
            rgb = np.array(plot.class_colours(count))
            gaps = np.linalg.norm(rgb[:, None] - rgb[None, :], axis=2) + 9 * np.eye(count)
            self.assertGreater(gaps.min(), 0.09, count)

    def test_axes_and_columns_follow_the_names(self):
        # The model names its features b, a: they choose the CSV's columns (the text column and
        # the order of the file aside) and name the axes; so do they for .npy data.
        model = {"format": "mogem model", "classes": 2, "features": 2, "feature_names": ["b", "a"],
                 "covariance": "full", "means": [[0, 0], [5, 5]], "covariances": [[[1, 0.5], [0.5, 1]]] * 2}
        self.write("m.json", json.dumps(model))
        self.write("x.csv", "a;kind;b\n1;x;2\n3;y;4\n5;x;6\n")
        self.write("x.labels", "0\n1\n1\n")  # numbered from 0
        np.save(os.path.join(self.dir, "x.npy"), np.array([[2.0, 1], [4, 3], [6, 5]]))
        for data in ("x.csv", "x.npy"):
            fig, output = plot.figure([os.path.join(self.dir, p) for p in (data, "x.labels")] +
                                      ["--model", os.path.join(self.dir, "m.json")])
            ax = fig.axes[0]
            self.assertEqual((ax.get_xlabel(), ax.get_ylabel()), ("b", "a"))
            self.assertEqual(ax.collections[2].get_offsets().tolist(), [[4, 3], [6, 5]])  # class 2's rows
            self.assertEqual([t.get_text() for t in ax.get_legend().get_texts()],
                             ["class 1 (1 rows)", "class 2 (2 rows)"])
            self.assertEqual(output, os.path.join(self.dir, "x.png"))
        fig, _ = plot.figure([os.path.join(self.dir, "x.csv"), os.path.join(self.dir, "x.labels"), "--pca"])
        self.assertRegex(fig.axes[0].get_xlabel(), r"^PC 1 \(standardised\): [+-]0\.71 a, [+-]0\.71 b$")

    def test_failed_candidates_are_named_and_break_the_line(self):
        rows = [(1, "full", "7201"), (2, "full", "7161"), (3, "full", None), (4, "full", "7607")] + \
               [(k, "full", None) for k in range(5, 10)] + [(k, "scalar", str(20010 - k)) for k in range(1, 10)]
        table = "classes\tcovariance\tparameters\tlog_likelihood\tbic\taic\ticl\tem_steps\tconverged\tstatus\n" + "".join(
            "%d\t%s\t9\t%s\t%s\t1\t1\t3\t%s\t%s\n" % (k, kind, v or "NA", v or "NA", "NA" if v is None else 1,
                                                     "ok" if v else "failed: NR_dcholdc failed") for k, kind, v in rows)
        fig, _ = plot.figure(["--selection", self.write("s.selection.tsv", table)])
        full, scalar = fig.axes
        self.assertEqual(full.get_title(), "full: best at 2 classes, BIC 7161\nthe chosen")
        self.assertEqual(scalar.get_title(), "scalar: best at 9 classes, BIC 20001\n12840 above the chosen")
        self.assertEqual([t.get_text() for t in full.get_legend().get_texts()],
                         ["full", "chosen: full, 2 classes", "failed: 3, 5-9 classes (NR_dcholdc failed)"])
        self.assertTrue(np.isnan(full.lines[0].get_ydata()[2]))


if __name__ == "__main__":
    unittest.main()
