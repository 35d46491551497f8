#!/usr/bin/env python3
"""A failure, an interrupt or a death on one of three processes under mpirun ends the whole run.

Usage: processes_test.py BUILD_DIR (a build with -DMOGEM_MPI=ON holding mogem and the fault
library mogem_rank_fault_shim). Each case starts `mpirun -np 3`, acts on one process (process 1)
and checks the exit code, the message and that no result file (or temporary) is left; it prints
how long the run took to end after the fault. A run that does not end within HANG seconds fails.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build-mpi")
MOGEM = os.path.join(BUILD, "mogem")
SHIM = os.path.join(BUILD, "libmogem_rank_fault_shim.so")
MPIRUN = ["mpirun", "--oversubscribe", "--allow-run-as-root", "--quiet", "-np", "3"]
HANG = 20.0


def write_input(path, steps):
    """Three clusters of 3000 rows in 3 features; `steps` EM steps that never converge early."""
    lines = ["rows 3000", "cols 3", "num_clusters 3", "em_type full", f"max_em_iterations {steps}",
             "convergence_threshold 0", "begin data"]
    state = 12345
    for i in range(3000):
        row = []
        for _ in range(3):
            state = (state * 1103515245 + 12345) % 2**31
            row.append(f"{(i % 3) * 4 + state / 2**31:.6f}")
        lines.append(" ".join(row))
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


class AcrossProcesses(unittest.TestCase):
    timings = []

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="mogem-processes-")
        self.record = os.path.join(tempfile.mkdtemp(prefix="mogem-record-"), "process")
        self.input = os.path.join(self.dir, "in.txt")
        self.output = os.path.join(self.dir, "labels.txt")

    def start(self, processes=True, **env):
        for rank in range(3):
            if os.path.exists(f"{self.record}.{rank}"):
                os.remove(f"{self.record}.{rank}")
        settings = dict(os.environ, MOGEM_THREADS="1", MOGEM_FAULT_RANK="1", MOGEM_FAULT_RECORD=self.record,
                        MOGEM_FAULT_MARK_AT="3000", **env)
        if not processes:
            return subprocess.Popen([MOGEM, self.input, self.output], stderr=subprocess.PIPE, text=True,
                                    env=dict(settings, LD_PRELOAD=SHIM, OMPI_COMM_WORLD_RANK="1"))
        exported = []
        for name in ["MOGEM_THREADS", "MOGEM_FAULT_RANK", "MOGEM_FAULT_RECORD", "MOGEM_FAULT_MARK_AT", *env]:
            exported += ["-x", name]
        return subprocess.Popen(MPIRUN + ["-x", "LD_PRELOAD=" + SHIM] + exported + [MOGEM, self.input, self.output],
                                stderr=subprocess.PIPE, text=True, env=settings)

    def finish(self, run):
        try:
            _, err = run.communicate(timeout=HANG)
        except subprocess.TimeoutExpired:
            run.kill()
            run.communicate()
            self.fail(f"the run did not end within {HANG} s")
        return run.returncode, err

    def record_of(self, rank):
        """The fault library's record of a process: {"pid": P, "fault": T (us), "allocations": N}."""
        with open(f"{self.record}.{rank}") as f:
            return {what: int(value) for what, value in (line.split() for line in f)}

    def wait_for_the_fit(self):
        """Until every process has made 3000 allocations: its fit is then under way."""
        deadline = time.time() + HANG
        while not all(os.path.exists(f"{self.record}.{r}") and "mark" in self.record_of(r) for r in range(3)):
            self.assertLess(time.time(), deadline, "the processes did not start their fit")
            time.sleep(0.05)

    def assert_nothing_written(self):
        self.assertEqual(os.listdir(self.dir), ["in.txt"])

    def note(self, case, seconds, code):
        AcrossProcesses.timings.append(f"{case}: ended {seconds:.2f} s after the fault, exit code {code}")

    def test_a_refused_allocation_on_one_process_ends_all_with_the_one_process_message(self):
        write_input(self.input, 200)
        # The middle of the fit: half of the allocations a fault-free run makes in (process 1).
        middles = []
        for processes in (False, True):
            self.assertEqual(self.finish(self.start(processes))[0], 0)
            os.remove(self.output)
            middles.append(self.record_of(1)["allocations"] // 2)
        middle_alone, middle = middles

        one = self.start(processes=False, MOGEM_FAULT_NEW_AT=str(middle_alone))
        one_code, one_message = self.finish(one)
        self.assertEqual(one_code, 1)
        self.assertIn("not enough memory", one_message)
        run = self.start(MOGEM_FAULT_NEW_AT=str(middle))
        code, message = self.finish(run)
        self.note("refused allocation on process 1", time.time() - self.record_of(1)["fault"] / 1e6, code)
        self.assertEqual((code, message), (one_code, one_message))
        self.assert_nothing_written()

    def test_an_interrupt_of_one_process_or_of_mpirun_stops_all(self):
        # mpirun stops its processes with SIGTERM whatever it got (SIGINT too), and exits with a code
        # of its own.
        write_input(self.input, 1000000)
        for target, number, code in [("process 1", signal.SIGINT, 130), ("process 1", signal.SIGTERM, 143),
                                     ("mpirun", signal.SIGINT, None)]:
            with self.subTest(target=target, signal=number):
                run = self.start()
                self.wait_for_the_fit()
                os.kill(run.pid if target == "mpirun" else self.record_of(1)["pid"], number)
                sent = time.time()
                got, message = self.finish(run)
                self.note(f"{signal.Signals(number).name} to {target}", time.time() - sent, got)
                name = signal.Signals(number if code else signal.SIGTERM).name
                said = f"Interrupted ({name}); no result was written\n"
                if code:
                    self.assertEqual(message, said)
                else:
                    # mpirun follows its SIGTERM with SIGKILL within milliseconds: on a busy
                    # machine the processes may be gone before they speak, never with other words.
                    self.assertIn(message, ("", said))
                self.assertEqual(got, code or got or 1)
                self.assert_nothing_written()

    def test_a_process_that_dies_ends_the_run_without_a_result(self):
        write_input(self.input, 1000000)
        run = self.start()
        self.wait_for_the_fit()
        os.kill(self.record_of(1)["pid"], signal.SIGKILL)
        sent = time.time()
        code, message = self.finish(run)
        self.note("SIGKILL to process 1", time.time() - sent, code)
        self.assertEqual(code, 128 + signal.SIGKILL)  # mpirun's: the status of the process that died
        self.assertEqual(message, "Error: process 1 of the run died (killed, or crashed); the others were stopped, "
                                  "and no result was written\n")
        self.assert_nothing_written()

    def test_an_input_that_is_not_a_regular_file_is_refused_before_it_is_opened(self):
        os.mkfifo(self.input)  # opening it to read would wait for a writer
        began = time.time()
        code, message = self.finish(self.start())
        self.note("a pipe as the input", time.time() - began, code)
        self.assertEqual(code, 255)
        self.assertTrue(message.startswith(f"Error: the input file {self.input} is not a regular file"), message)
        self.assertEqual(message.count("\n"), 1, message)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=1).result
    print("\n".join(AcrossProcesses.timings))
    sys.exit(0 if result.wasSuccessful() else 1)
