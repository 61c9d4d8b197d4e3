#!/usr/bin/python3
"""End-to-end cases: murmex.exe under Wine on a private PulseAudio with null sinks.

usage: run_e2e.py --exe PATH --loader PATH [--tools-dir DIR] [--label NAME] [--build-dir DIR]

Wine facts the cases rely on: device 0 is "PulseAudio", then one device per sink named by its
description cut to 31 characters, read once per process; only the first audio process of a
fresh prefix numbers them in PulseAudio's order, so numbering is read from the Wine side;
exact command-line bytes go through e2e_launch in code page 1252; standard output into a file
is complete only after a normal end, which WM_QUIT to the hidden window brings about.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no state in the work tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scripts/lib"))
from audio_stack import Stack, wait_for  # noqa: E402

SINKS = [("spk", "Speakers"), ("hdmi", "ATI HDMI Output"), ("dock1", "Dock Audio Port 1"),
         ("dock2", "Dock Audio Port 2"), ("ecout", "Écouteurs HDMI"),
         ("wide", "Monitor Speakers With A Very Long Name")]
PCM = "s16le 2ch 48000Hz"
RETRY = 2.0
NOT_ENABLED = b"waveOutOpen failed: The driver was not enabled.\r\n"
TRACE = re.compile(rb"^(\d+\.\d+):([0-9a-f]+):[0-9a-f]+:trace:winmm:(\w+)", re.M)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def run_tool(stack, exe, args, folder):
    """Runs a Windows tool to its end; its output lines split at tabs, or None if it failed."""
    out = os.path.join(folder, f"{os.path.basename(exe)}.{time.monotonic_ns()}")
    if stack.wine([exe, *args], out).wait(timeout=60) != 0:
        return None
    return [line.split("\t") for line in read(out).decode("cp1252").splitlines()]


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Program:
    """One murmex.exe started through e2e_launch; its winmm trace tells its attempts."""

    def __init__(self, proc, out, err, line):
        self.proc, self.out, self.err, self.line = proc, out, err, line

    def output(self):
        return read(self.out)

    def trace(self):
        return [(float(t), int(pid, 16), call.decode()) for t, pid, call in
                TRACE.findall(read(self.err))]

    def pid(self):
        """The program's Windows PID: the process that enumerates wave-out devices."""
        return next((pid for _, pid, call in self.trace() if call == "waveOutGetNumDevs"), None)

    def calls(self, name):
        return [t for t, pid, call in self.trace() if pid == self.pid() and call == name]

    def started(self):
        return next(t for t, pid, _ in self.trace() if pid == self.pid())

    def describe(self):
        lines = read(self.err).decode("cp1252").splitlines()
        tail = [line for line in lines if ":WOD_" not in line][-6:]  # not Wine's own feeding
        state = "running" if self.proc.poll() is None else f"exit code {self.proc.returncode}"
        return (f"program {self.line!r}: {state}, output {self.output()!r}\n  stderr tail: "
                + "\n    ".join(tail))


class Case(unittest.TestCase):
    stack = exe = tools = hold_streams = None

    def setUp(self):
        self.programs = []
        self.dir = self.stack.path("cases", self.id().split(".", 1)[1])
        os.makedirs(self.dir, exist_ok=True)
        self.addCleanup(self.stop_all)

    def stop_all(self):
        for program in self.programs:
            self.stack.kill(program.proc)

    # Helpers the stories are told with --------------------------------------------------

    def start(self, tail=b"", exe=None):
        """Starts exe (default: the one under test) with this exact command line after its
        path: the tail's own leading blanks included, in code page 1252."""
        n = len(self.programs)
        path = winpath(exe or self.exe).encode("cp1252")
        line = (b'"%s"' % path if b" " in path else path) + tail
        with open(os.path.join(self.dir, f"line{n}"), "wb") as file:
            file.write(line)
        out, err = (os.path.join(self.dir, f"{n}.{s}") for s in ("out", "err"))
        proc = self.stack.wine([self.tool("e2e_launch"), winpath(file.name)], out, err,
                               env={"WINEDEBUG": "+timestamp,+pid,+winmm"})
        self.programs.append(Program(proc, out, err, line))
        return self.programs[-1]

    def tool(self, name):
        return os.path.join(self.tools, name + ".exe")

    def run_tool(self, name, *args):
        rows = run_tool(self.stack, self.tool(name), args, self.dir)
        self.assertIsNotNone(rows, f"{name} {args} failed\n{self.seen()}")
        return rows

    def devices(self):
        """Wine's wave-out device names, in Wine's numbering."""
        return [name for _, name in self.run_tool("e2e_wavedevs")]

    def window(self, program):
        """[class, title, visible|hidden] of the program's one window, or None."""
        rows = [w[1:] for w in self.run_tool("e2e_window") if int(w[0]) == program.pid()]
        self.assertLessEqual(len(rows), 1, f"more than one window\n{self.seen()}")
        return rows[0] if rows else None

    def quit(self, program):
        """Ends the program normally (WM_QUIT to its hidden window) and returns its exit code."""
        self.run_tool("e2e_window", "quit", str(program.pid()))
        return program.proc.wait(timeout=20)

    def hold(self, sink, count=256):
        """A native client holding `count` streams on the sink; kill it to release them."""
        out = os.path.join(self.dir, "hold_streams.out")
        proc = self.stack.spawn([self.hold_streams, sink, str(count)], out)
        self.wait(lambda: b"holding" in read(out), f"{count} streams on {sink}")
        return proc

    def streams(self):
        """{sink: [sample format of each stream on it]}"""
        found = {}
        for stream in self.stack.sink_inputs():
            found.setdefault(stream["sink"], []).append(stream["format"])
        return found

    def seen(self):
        return "\n".join([self.stack.describe()] + [p.describe() for p in self.programs])

    def wait(self, condition, what, timeout=15):
        return wait_for(condition, timeout, what, self.seen)

    def holds(self, condition, seconds, what):
        """Fails unless condition() stays true for `seconds`."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.assertTrue(condition(), f"no longer {what}\n{self.seen()}")
            time.sleep(0.1)

    def assert_retries(self, stamps, what):
        gaps = [round(b - a, 3) for a, b in zip(stamps, stamps[1:])]
        self.assertTrue(all(RETRY - 0.05 <= gap <= RETRY + 0.5 for gap in gaps),
                        f"{what} {gaps} s apart, not {RETRY} s\n{self.seen()}")


class DefaultDevice(Case):
    def test_no_tail_plays_on_ati_hdmi_in_a_hidden_window_and_keeps_only_it_awake(self):
        program = self.start()
        self.wait(lambda: self.window(program) == ["MurmexClass", "MurmexWindow", "hidden"],
                  "the hidden window")
        self.wait(lambda: self.streams() == {"hdmi": [PCM]}, f"one {PCM} stream on hdmi")
        only_hdmi_awake = lambda: self.stack.sinks() == {  # noqa: E731
            name: "RUNNING" if name == "hdmi" else "SUSPENDED" for name, _ in SINKS}
        self.wait(only_hdmi_awake, "hdmi RUNNING and every other sink SUSPENDED")
        self.holds(only_hdmi_awake, 2.0, "hdmi RUNNING while the others sleep")
        self.assertEqual(self.window(program), ["MurmexClass", "MurmexWindow", "hidden"])


class DeviceChoice(Case):
    def test_case_blind_prefix_first_match_and_no_overlong_name(self):
        devices = self.devices()
        number = {name: devices.index(desc[:31]) for name, desc in SINKS}
        first_dock, other_dock = sorted(["dock1", "dock2"], key=number.get)
        self.start(b" ati hdmi")
        self.start(b" dock audio")
        overlong = self.start(b" Monitor Speakers With A Very Long Name")  # Wine cuts to 31
        self.wait(lambda: self.streams() == {"hdmi": [PCM], first_dock: [PCM]},
                  f"streams on hdmi and on {first_dock} (numbered {number[first_dock]} before "
                  f"{other_dock} at {number[other_dock]})")
        self.wait(lambda: len(overlong.calls("waveOutGetNumDevs")) >= 2, "two lookups")
        self.assertEqual(overlong.calls("waveOutOpen"), [], self.seen())
        self.assertNotIn("wide", self.streams(), self.seen())


class CommandLine(Case):
    def test_exact_command_lines(self):
        spaced = os.path.join(self.dir, "Program Files", "murmex.exe")
        os.makedirs(os.path.dirname(spaced), exist_ok=True)
        shutil.copy(self.exe, spaced)
        self.start(b" \t \t dock audio port 2", exe=spaced)  # quoted path, blanks, tabs
        self.start(b" \t  ")  # only blanks: the default name
        self.start(" Écout".encode("cp1252"))  # 0xC9, dropped by careless start-up code
        quoted = self.start(b' "ATI HDMI Output"')
        self.wait(lambda: self.streams() == {"dock2": [PCM], "hdmi": [PCM], "ecout": [PCM]},
                  "streams on dock2, hdmi (once) and ecout")
        self.wait(lambda: len(quoted.calls("waveOutGetNumDevs")) >= 3, "three lookups")
        self.assertEqual(quoted.calls("waveOutOpen"), [], self.seen())
        self.assert_retries(quoted.calls("waveOutGetNumDevs"), "lookups for a quoted name")
        self.assertEqual(self.streams()["hdmi"], [PCM], self.seen())
        self.assertEqual(self.quit(quoted), 0, self.seen())
        self.assertEqual(quoted.output(), b"", self.seen())


class Guard(Case):
    def test_one_copy_per_device_name(self):
        first = self.start()
        self.wait(lambda: self.streams() == {"hdmi": [PCM]}, "the first copy's stream")
        second = self.start()
        self.assertEqual(second.proc.wait(timeout=15), 0, self.seen())
        self.assertNotIn("waveOutGetNumDevs", [call for *_, call in second.trace()],
                         f"the second copy looked for a device\n{self.seen()}")
        self.start(b" ati hdmi output")
        self.start(b" Dock Audio Port 1")
        self.wait(lambda: self.streams() == {"hdmi": [PCM, PCM], "dock1": [PCM]},
                  "two streams on hdmi (other letter case) and one on dock1")
        self.assertIsNone(first.proc.poll(), self.seen())


class OpenFailure(Case):
    def test_refused_open_retries_every_two_seconds_then_plays(self):
        holder = self.hold("hdmi")
        program = self.start()
        self.wait(lambda: len(program.calls("waveOutOpen")) >= 3, "three refused opens")
        self.assertEqual(self.streams(), {"hdmi": [PCM] * 256}, "only the held streams")
        self.stack.kill(holder)
        failed = len(program.calls("waveOutOpen"))
        self.wait(lambda: self.streams() == {"hdmi": [PCM]}, "the stream once released")
        opens = program.calls("waveOutOpen")
        self.assertEqual(len(opens), failed + 1, f"the next attempt plays\n{self.seen()}")
        self.assertLess(opens[0] - program.started(), 1.5, f"first attempt at once\n{self.seen()}")
        self.assert_retries(opens, "opens")
        self.assertEqual(self.quit(program), 0, self.seen())
        self.assertEqual(program.output(), NOT_ENABLED * failed, self.seen())


class Result(unittest.TestResult):
    def __init__(self, label):
        super().__init__()
        self.label = label

    def startTest(self, test):
        super().startTest(test)
        self.started = time.monotonic()

    def report(self, test, verdict, err=None):
        name = test.id().split(".", 1)[1]
        print(f"[{self.label}] {name} ... {verdict} ({time.monotonic() - self.started:.1f} s)")
        if err:
            print(self._exc_info_to_string(err, test), flush=True)

    def addSuccess(self, test):
        super().addSuccess(test)
        self.report(test, "ok")

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self.report(test, "FAIL", err)

    def addError(self, test, err):
        super().addError(test, err)
        self.report(test, "ERROR", err)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--loader", required=True)
    parser.add_argument("--tools-dir", help="where the e2e_*.exe are (default: beside --exe)")
    parser.add_argument("--label", help="build name shown with each case")
    parser.add_argument("--build-dir", default=os.path.join(here, "../../build"))
    parser.add_argument("cases", nargs="*", help="Group or Group.test_name (default: all)")
    args = parser.parse_args()
    Case.exe = os.path.abspath(args.exe)
    Case.tools = os.path.abspath(args.tools_dir or os.path.dirname(Case.exe))
    label = args.label or os.path.basename(os.path.dirname(Case.exe))
    began = time.monotonic()
    module = sys.modules[__name__]
    loader = unittest.defaultTestLoader
    suite = (loader.loadTestsFromNames(args.cases, module) if args.cases else
             unittest.TestSuite(loader.loadTestsFromTestCase(group) for group in
                                (DefaultDevice, DeviceChoice, CommandLine, Guard, OpenFailure)))
    result = Result(label)
    build = os.path.abspath(args.build_dir)
    with Stack(os.path.join(build, f"e2e-{label}-{os.getpid()}"), args.loader) as stack:
        Case.hold_streams = stack.path("hold_streams")
        subprocess.run(["gcc", "-O2", "-Wall", "-Wextra", "-Werror", "-o", Case.hold_streams,
                        os.path.join(here, "hold_streams.c"), "-lpulse"], check=True)
        stack.start(SINKS)
        Case.stack = stack
        # The first audio process of the prefix; also shows that Wine sees every sink.
        names = [name for _, name in run_tool(stack, os.path.join(Case.tools, "e2e_wavedevs.exe"),
                                              (), stack.root) or [(0, "(e2e_wavedevs failed)")]]
        expected = ["PulseAudio", *(desc[:31] for _, desc in SINKS)]
        if sorted(names) != sorted(expected):
            sys.exit(f"Wine lists {names}, expected {expected}")
        suite.run(result)
    ok = result.wasSuccessful()
    print(f"[{label}] {result.testsRun} cases, {len(result.failures) + len(result.errors)} "
          f"failed, {time.monotonic() - began:.1f} s{'' if ok else '; kept ' + stack.root}")
    if ok:
        shutil.rmtree(stack.root)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
