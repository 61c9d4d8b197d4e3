#!/usr/bin/python3
"""End-to-end stories: murmex.exe under Wine on a private PulseAudio with null sinks.

Wine lists device 0 as "PulseAudio", then one device per sink, named by its description cut to
31 characters. murmex-launch starts exact command-line bytes (code page 1252). Standard output
into a file is complete only after a normal end, which WM_QUIT to the hidden window brings.
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

SINKS = [("spk", "Speakers"), ("hdmi", "ATI HDMI Output"), ("ecout", "Écouteurs HDMI"),
         ("wide", "Monitor Speakers With A Very Long Name")]
PCM = "s16le 2ch 48000Hz"
NOT_ENABLED = b"waveOutOpen failed: The driver was not enabled.\r\n"
TRACE = re.compile(rb"^([0-9a-f]+):[0-9a-f]+:trace:winmm:(\w+)", re.M)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def tool(name):
    return os.path.join(Case.tools, f"murmex-{name}.exe")


class Program:
    """One murmex.exe started through murmex-launch; Wine's winmm trace tells its calls."""

    def __init__(self, case, tail, exe):
        self.base = case.path(str(len(case.programs)))
        path = winpath(exe).encode("cp1252")
        with open(self.base + ".line", "wb") as line:
            line.write((b'"%s"' % path if b" " in path else path) + tail)
        self.proc = case.stack.wine([tool("launch"), winpath(self.base + ".line")],
                                    self.base + ".out", self.base + ".err",
                                    env={"WINEDEBUG": "+pid,+winmm"})

    def output(self):
        return read(self.base + ".out")

    def pid(self):
        """The program's Windows PID: the process that counts the devices, not a Wine helper."""
        trace = TRACE.findall(read(self.base + ".err"))
        return next((int(pid, 16) for pid, call in trace if call == b"waveOutGetNumDevs"), None)

    def calls(self, name):
        trace = TRACE.findall(read(self.base + ".err"))
        return sum(1 for pid, call in trace if int(pid, 16) == self.pid() and call == name.encode())

    def describe(self):
        state = "running" if self.proc.poll() is None else f"exit code {self.proc.returncode}"
        tail = read(self.base + ".err").decode("cp1252").splitlines()[-4:]
        return f"program {self.base}: {state}, output {self.output()!r}\n  " + "\n  ".join(tail)


class Case(unittest.TestCase):
    stack = exe = tools = label = hold_streams = None

    def setUp(self):
        self.programs = []
        self.dir = self.stack.path("cases", self.id().split(".", 1)[1])
        os.makedirs(self.dir, exist_ok=True)
        self.addCleanup(lambda: [self.stack.kill(program.proc) for program in self.programs])

    def start(self, tail=b"", exe=None):
        self.programs.append(Program(self, tail, exe or self.exe))
        return self.programs[-1]

    def rows(self, name, *args):
        rows = self.stack.rows([tool(name), *args])
        self.assertIsNotNone(rows, f"murmex-{name} {args} failed\n{self.seen()}")
        return rows

    def ended(self, program):
        """Its exit code, once it has ended (a start or an end under emulation can be slow)."""
        self.wait(lambda: program.proc.poll() is not None, "the program's end", timeout=60)
        return program.proc.returncode

    def path(self, name):
        return os.path.join(self.dir, name)

    def streams(self):
        return self.stack.sink_inputs()

    def seen(self):
        return "\n".join([self.stack.describe()] + [p.describe() for p in self.programs])

    def wait(self, condition, what, timeout=15):
        return wait_for(condition, timeout, what, self.seen)


class Stories(Case):
    def test_default_device_in_a_hidden_window_one_copy_per_name(self):
        first = self.start()
        self.wait(lambda: self.streams() == {"hdmi": [PCM]}, f"one {PCM} stream on hdmi")
        self.wait(lambda: self.stack.sinks() == {
            name: "RUNNING" if name == "hdmi" else "SUSPENDED" for name, _ in SINKS},
            "hdmi awake, every other sink suspended")
        windows = [row[1:] for row in self.rows("window") if int(row[0]) == first.pid()]
        self.assertEqual(windows, [["MurmexClass", "MurmexWindow", "hidden"]], self.seen())
        self.assertEqual(self.rows("event", "Murmex-ATI HDMI Output"), [["held"]], "the guard")
        second = self.start()
        self.assertEqual(self.ended(second), 0, self.seen())
        self.assertEqual(second.calls("waveOutGetNumDevs"), 0, f"it looked\n{self.seen()}")
        self.start(b" ati hdmi output")  # the guard's name keeps the letter case
        self.wait(lambda: self.streams() == {"hdmi": [PCM, PCM]}, "a second stream on hdmi")
        self.assertIsNone(first.proc.poll(), self.seen())

    def test_the_command_line_bytes_name_the_device(self):
        spaced = os.path.join(self.dir, "Program Files", "murmex.exe")
        os.makedirs(os.path.dirname(spaced))
        shutil.copy(self.exe, spaced)
        self.start(" \t \xC9cout".encode("cp1252"), exe=spaced)  # dropped by careless start-up code
        overlong = self.start(b" Monitor Speakers With A Very Long Name")  # cut to 31 by Wine
        self.wait(lambda: self.streams() == {"ecout": [PCM]}, "a stream on ecout")
        self.wait(lambda: overlong.calls("waveOutGetNumDevs") >= 2, "two lookups of a long name")
        self.assertEqual(overlong.calls("waveOutOpen"), 0, self.seen())

    def test_a_refused_open_is_reported_and_retried_until_it_plays(self):
        holder = self.stack.spawn([self.hold_streams, "hdmi", "256"], self.path("hold.out"))
        self.wait(lambda: b"holding" in read(self.path("hold.out")), "256 streams held on hdmi")
        program = self.start()
        self.wait(lambda: program.calls("waveOutOpen") >= 2, "two refused opens")
        self.stack.kill(holder)
        failed = program.calls("waveOutOpen")
        self.wait(lambda: self.streams() == {"hdmi": [PCM]}, "the stream once released")
        self.assertEqual(program.calls("waveOutOpen"), failed + 1, self.seen())
        self.rows("window", "quit", str(program.pid()))
        self.assertEqual(self.ended(program), 0, self.seen())
        self.assertEqual(program.output(), NOT_ENABLED * failed, self.seen())


class Result(unittest.TextTestResult):
    def getDescription(self, test):  # the build on every case line and every failure
        return f"[{Case.label}] {test.id().split('.', 1)[1]}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--loader", required=True)
    parser.add_argument("--label", help="build name shown with each case")
    parser.add_argument("cases", nargs="*", help="Stories.test_name (default: all)")
    args = parser.parse_args()
    Case.exe = os.path.abspath(args.exe)
    Case.tools = os.path.dirname(Case.exe)
    Case.label = args.label or os.path.basename(Case.tools)
    began = time.monotonic()
    suite = unittest.defaultTestLoader.loadTestsFromNames(args.cases or ["Stories"],
                                                          sys.modules[__name__])
    with Stack(os.path.join(HERE, "../../build", f"e2e-{Case.label}-{os.getpid()}"),
               args.loader) as stack:
        # A native client holding as many streams on a sink as PulseAudio allows (256).
        Case.stack, Case.hold_streams = stack, stack.path("hold_streams")
        subprocess.run(["gcc", "-O2", "-Wall", "-Wextra", "-Werror", "-o", Case.hold_streams,
                        os.path.join(HERE, "hold_streams.c"), "-lpulse"], check=True)
        stack.start(SINKS)
        # The first audio process of the prefix; also shows that Wine sees every sink.
        names = sorted(name for _, name in stack.rows([tool("wavedevs")]) or [])
        if names != sorted(["PulseAudio", *(desc[:31] for _, desc in SINKS)]):
            sys.exit(f"Wine lists {names}, not every sink")
        runner = unittest.TextTestRunner(sys.stdout, verbosity=2, resultclass=Result)
        ok = runner.run(suite).wasSuccessful()
    print(f"[{Case.label}] {'passed' if ok else 'FAILED'} in {time.monotonic() - began:.1f} s"
          + ("" if ok else f"; kept {stack.root}"))
    if ok:
        shutil.rmtree(stack.root)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
