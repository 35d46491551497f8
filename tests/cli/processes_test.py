#!/usr/bin/env python3
"""A failure, an interrupt or a death on process 1 of 3 under mpirun ends the whole run: exit
code, message, no file left; prints how long each run took to end after the fault (a run still
going after HANG seconds fails). Usage: processes_test.py BUILD_DIR (built with -DMOGEM_MPI=ON,
holding mogem and mogem_rank_fault_shim)."""
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
    values, state = [], 12345
    for i in range(9000):
        state = (state * 1103515245 + 12345) % 2**31
        values.append(f"{(i // 3 % 3) * 4 + state / 2**31:.6f}")
    with open(path, "w") as out:
        out.write(f"rows 3000\ncols 3\nnum_clusters 3\nem_type full\nmax_em_iterations {steps}\n"
                  "convergence_threshold 0\nbegin data\n")
        out.writelines(" ".join(values[i:i + 3]) + "\n" for i in range(0, 9000, 3))


class AcrossProcesses(unittest.TestCase):
    timings = []

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="mogem-processes-")
        self.record = os.path.join(tempfile.mkdtemp(prefix="mogem-record-"), "process")
        self.input = os.path.join(self.dir, "in.txt")
        self.output = os.path.join(self.dir, "labels.txt")

    def start(self, processes=True, **env):
        """The program under mpirun (or alone, as process 1), the fault library acting on process 1."""
        for rank in range(3):
            if os.path.exists(f"{self.record}.{rank}"):
                os.remove(f"{self.record}.{rank}")
        env.update(MOGEM_THREADS="1", MOGEM_FAULT_RANK="1", MOGEM_FAULT_RECORD=self.record, MOGEM_FAULT_MARK_AT="3000")
        command = [MOGEM, self.input, self.output]
        if processes:
            command = MPIRUN + ["-x", "LD_PRELOAD=" + SHIM] + [a for name in env for a in ("-x", name)] + command
        else:
            env.update(LD_PRELOAD=SHIM, OMPI_COMM_WORLD_RANK="1")
        return subprocess.Popen(command, stderr=subprocess.PIPE, text=True, env=dict(os.environ, **env))

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

    def ended(self, case, since, code):
        """Notes how long the run took to end; checks that it wrote nothing."""
        AcrossProcesses.timings.append(f"{case}: ended {time.time() - since:.2f} s after the fault, exit code {code}")
        self.assertEqual(os.listdir(self.dir), ["in.txt"])

    def refused_from(self, at, processes):
        """The exit code and message of the first of the allocations at, at + 1, ... (at most 16)
        whose refusal on process 1 the library reports as "not enough memory", or of the last."""
        for offset in range(16):
            code, message = self.finish(self.start(processes=processes, MOGEM_FAULT_NEW_AT=str(at + offset)))
            if "not enough memory" in message:
                break
        return code, message

    def test_a_refused_allocation_on_one_process_ends_all_with_the_one_process_message(self):
        write_input(self.input, 200)
        # The middle of the fit: half of the allocations a fault-free run makes in (process 1).
        middles = []
        for processes in (False, True):
            self.assertEqual(self.finish(self.start(processes))[0], 0)
            os.remove(self.output)
            middles.append(self.record_of(1)["allocations"] // 2)
        middle_alone, middle = middles

        # Which allocation sits at the middle moves with every allocation the program adds (a key
        # of the settings table is a few): from there on, the first refused one that is of the
        # fit's working values, whose refusal the library words itself.
        one_code, one_message = self.refused_from(middle_alone, processes=False)
        self.assertEqual(one_code, 1)
        self.assertIn("not enough memory", one_message)
        code, message = self.refused_from(middle, processes=True)
        self.ended("refused allocation on process 1", self.record_of(1)["fault"] / 1e6, code)
        self.assertEqual((code, message), (one_code, one_message))

    def test_an_interrupt_or_a_death_of_one_process_or_an_interrupt_of_mpirun_stops_all(self):
        # mpirun stops its processes with SIGTERM whatever it got (SIGINT too), and exits with a code
        # of its own; for a process that died, with that process's status.
        write_input(self.input, 1000000)
        interrupted = "Interrupted ({}); no result was written\n"
        died = ("Error: process 1 of the run died (killed, or crashed); the others were stopped, "
                "and no result was written\n")
        for target, number, code, said in [("process 1", signal.SIGINT, 130, interrupted.format("SIGINT")),
                                           ("process 1", signal.SIGTERM, 143, interrupted.format("SIGTERM")),
                                           ("process 1", signal.SIGKILL, 137, died),
                                           ("mpirun", signal.SIGINT, None, interrupted.format("SIGTERM"))]:
            with self.subTest(target=target, signal=number):
                run = self.start()
                self.wait_for_the_fit()
                os.kill(run.pid if target == "mpirun" else self.record_of(1)["pid"], number)
                sent = time.time()
                got, message = self.finish(run)
                self.ended(f"{signal.Signals(number).name} to {target}", sent, got)
                if code:
                    self.assertEqual((got, message), (code, said))
                else:
                    # mpirun follows its SIGTERM with SIGKILL within milliseconds: on a busy
                    # machine the processes may be gone before they speak, never with other words.
                    self.assertIn(message, ("", said))
                    self.assertNotEqual(got, 0)

    def test_an_input_that_is_not_a_regular_file_is_refused_before_it_is_opened(self):
        os.mkfifo(self.input)  # opening it to read would wait for a writer
        began = time.time()
        code, message = self.finish(self.start())
        self.ended("a pipe as the input", began, code)
        self.assertEqual(code, 255)
        self.assertTrue(message.startswith(f"Error: the input file {self.input} is not a regular file"), message)
        self.assertEqual(message.count("\n"), 1, message)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=1).result
    print("\n".join(AcrossProcesses.timings))
    sys.exit(0 if result.wasSuccessful() else 1)
