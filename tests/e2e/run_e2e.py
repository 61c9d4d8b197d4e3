#!/usr/bin/python3
"""End-to-end cases: murmex.exe under Wine on a private PulseAudio with null sinks.

Wine facts the cases rely on: device 0 is "PulseAudio", then one device per sink named by its
description cut to 31 characters, read once per process; only the first audio process of a
fresh prefix numbers them in PulseAudio's order, so numbering is read from the Wine side;
exact command-line bytes go through murmex-launch in code page 1252; standard output into a
file is complete only after a normal end, which WM_QUIT to the hidden window brings about.
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
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "../../scripts/lib"))
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


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def tool_exe(name):
    return os.path.join(Case.tools, f"murmex-{name}.exe")


class Program:
    """One murmex.exe started through murmex-launch; its winmm trace tells its attempts."""

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
    stack = exe = tools = label = hold_streams = None

    def setUp(self):
        self.programs = []
        self.dir = self.stack.path("cases", self.id().split(".", 1)[1])
        os.makedirs(self.dir, exist_ok=True)
        self.addCleanup(lambda: [self.stack.kill(program.proc) for program in self.programs])

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
        proc = self.stack.wine([tool_exe("launch"), winpath(file.name)], out, err,
                               env={"WINEDEBUG": "+timestamp,+pid,+winmm"})
        self.programs.append(Program(proc, out, err, line))
        return self.programs[-1]

    def tool(self, name, *args):
        rows = self.stack.rows([tool_exe(name), *args])
        self.assertIsNotNone(rows, f"murmex-{name} {args} failed\n{self.seen()}")
        return rows

    def window(self, program):
        """[class, title, visible|hidden] of the program's one window, or None."""
        rows = [w[1:] for w in self.tool("window") if int(w[0]) == program.pid()]
        self.assertLessEqual(len(rows), 1, f"more than one window\n{self.seen()}")
        return rows[0] if rows else None

    def quit(self, program):
        """Ends the program normally (WM_QUIT to its hidden window) and returns its exit code."""
        self.tool("window", "quit", str(program.pid()))
        return self.exit_code(program, "the program to end after WM_QUIT")

    def exit_code(self, program, what):
        """Waits for the program's end, generously (a process start or end under emulation
        can take many seconds on a loaded machine), saying what it saw if it does not come."""
        self.wait(lambda: program.proc.poll() is not None, what, timeout=60)
        return program.proc.returncode

    def hold(self, sink, count=256):
        """A native client holding `count` streams on the sink; kill it to release them."""
        out = os.path.join(self.dir, "hold_streams.out")
        proc = self.stack.spawn([self.hold_streams, sink, str(count)], out)
        self.wait(lambda: b"holding" in read(out), f"{count} streams on {sink}")
        return proc

    def streams(self):
        return self.stack.sink_inputs()

    def seen(self):
        return "\n".join([self.stack.describe()] + [p.describe() for p in self.programs])

    def wait(self, condition, what, timeout=15):
        return wait_for(condition, timeout, what, self.seen)

    def holds(self, condition, seconds, what):
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
        devices = [name for _, name in self.tool("wavedevs")]
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
        self.assertEqual(self.exit_code(second, "the second copy to end"), 0, self.seen())
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


class Result(unittest.TextTestResult):
    def getDescription(self, test):  # the build on every case line and every failure
        return f"[{Case.label}] {test.id().split('.', 1)[1]}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--loader", required=True)
    parser.add_argument("--tools-dir", help="where murmex-*.exe are (default: beside --exe)")
    parser.add_argument("--label", help="build name shown with each case")
    parser.add_argument("cases", nargs="*", help="Group or Group.test_name (default: all)")
    args = parser.parse_args()
    Case.exe = os.path.abspath(args.exe)
    Case.tools = os.path.abspath(args.tools_dir or os.path.dirname(Case.exe))
    Case.label = args.label or os.path.basename(os.path.dirname(Case.exe))
    began = time.monotonic()
    suite = unittest.defaultTestLoader.loadTestsFromNames(
        args.cases or ["DefaultDevice", "DeviceChoice", "CommandLine", "Guard", "OpenFailure"],
        sys.modules[__name__])
    root = os.path.join(HERE, "../../build", f"e2e-{Case.label}-{os.getpid()}")
    with Stack(root, args.loader) as stack:
        Case.stack, Case.hold_streams = stack, stack.path("hold_streams")
        subprocess.run(["gcc", "-O2", "-Wall", "-Wextra", "-Werror", "-o", Case.hold_streams,
                        os.path.join(HERE, "hold_streams.c"), "-lpulse"], check=True)
        stack.start(SINKS)
        # The first audio process of the prefix; also shows that Wine sees every sink.
        names = sorted(name for _, name in stack.rows([tool_exe("wavedevs")]) or [])
        expected = sorted(["PulseAudio", *(desc[:31] for _, desc in SINKS)])
        if names != expected:
            sys.exit(f"Wine lists {names}, expected {expected}")
        runner = unittest.TextTestRunner(sys.stdout, verbosity=2, resultclass=Result)
        ok = runner.run(suite).wasSuccessful()
    print(f"[{Case.label}] {'passed' if ok else 'FAILED'} in {time.monotonic() - began:.1f} s"
          + ("" if ok else f"; kept {stack.root}"))
    if ok:
        shutil.rmtree(stack.root)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
