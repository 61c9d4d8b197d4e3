#!/usr/bin/python3
"""End-to-end stories: murmex.exe under Wine on a private PulseAudio with null sinks.
Wine lists device 0 as "PulseAudio", then one device per sink, named by its description cut to
31 characters; a sink unloaded and loaded again keeps its number. murmex-launch starts exact
command-line bytes (code page 1252), for murmex.exe and its companion murmex-devices.exe alike.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.dont_write_bytecode = True  # no state in the work tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "../../scripts/lib"))
from audio_stack import Stack, wait_for  # noqa: E402

SINKS = [("spk", "Speakers"), ("hdmi", "ATI HDMI Output"), ("ecout", "Écouteurs HDMI"),
         ("wide", "Monitor Speakers With A Very Long Name")]
PCM = "s16le 2ch 48000Hz"
NOT_ENABLED = b"waveOutOpen failed: The driver was not enabled.\r\n"
LOST = b"waveOutGetPosition failed: The device stopped playing.\r\n"
# Ending, a process's PulseAudio client under Wine may trip libpulse's checks (rarely, seen under
# emulation): it ends with a stray code, output unwritten, when no program code runs.
PULSE_ABORT = re.compile(rb"^Assertion '.*' failed at \.\./src/pulse/", re.M)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Program:
    """One program started through murmex-launch, with Wine's trace of its winmm calls."""

    def __init__(self, story, tail, exe):
        self.base = os.path.join(story.dir, str(len(story.programs)))
        path = winpath(exe).encode("cp1252")
        with open(self.base + ".line", "wb") as line:
            line.write((b'"%s"' % path if b" " in path else path) + tail)
        self.proc = story.stack.wine([story.tool("launch"), winpath(self.base + ".line")],
                                     self.base + ".out", self.base + ".err",
                                     env={"WINEDEBUG": "+winmm"})

    def read(self, what):  # ".out": its standard output; ".err": Wine's traces and complaints
        return Path(self.base + what).read_bytes()

    def last_words(self):  # an exception or an emulator's complaint, past Wine's notes
        lines = self.read(".err").splitlines()
        return [line for line in lines if not re.search(rb":(trace|fixme|warn):", line)][-6:]

    def calls(self, name):
        return self.read(".err").count(b":trace:winmm:%s " % name.encode())


class Stories(unittest.TestCase):
    stack = exe = None

    def setUp(self):
        self.programs = []
        self.dir = self.stack.path(self._testMethodName)
        os.makedirs(self.dir)
        self.addCleanup(lambda: [self.stack.kill(program.proc) for program in self.programs])

    def tool(self, name):
        return os.path.join(os.path.dirname(self.exe), f"murmex-{name}.exe")

    def start(self, tail=b"", exe=None):
        self.programs.append(Program(self, tail, exe or self.exe))
        return self.programs[-1]

    def rows(self, name, *args):
        rows = self.stack.rows([self.tool(name), *args])
        self.assertIsNotNone(rows, f"murmex-{name} {args} failed\n{self.seen()}")
        return rows

    def quit_all(self, program):
        """WM_QUIT to every program's window, a normal end, from a tool already running when
        PulseAudio stops (which stalls every stream a second on); `program`'s exit code."""
        out = os.path.join(self.dir, f"quit.{len(self.programs)}")  # a retry has more
        tool = self.stack.wine([self.tool("window"), "quit-on-enter"], out, stdin=subprocess.PIPE)
        self.wait(lambda: os.path.getsize(out), "the quit tool", timeout=60)
        with self.stack.pulse_stopped():
            time.sleep(0.2)  # for Wine's audio thread of each stream to wait on the server
            tool.communicate(b"\n", timeout=60)
            self.assertEqual(tool.returncode, 0, "no window took the quit")
            return self.ended(program)

    def ended(self, program):
        """Its exit code, once it has ended (a start or an end under emulation can be slow)."""
        self.wait(lambda: program.proc.poll() is not None, "the program's end", timeout=60)
        return program.proc.returncode

    def seen(self):
        return "\n".join([self.stack.describe(), *(
            f"{p.base}: exit code {p.proc.poll()}, output {p.read('.out')!r}, last words "
            f"{p.last_words()}" for p in self.programs)])

    def wait(self, condition, what, timeout=15):
        return wait_for(condition, timeout, what, self.seen)

    def test_1_default_device_in_a_hidden_window_one_copy_per_name(self):
        first = self.start()
        self.wait(lambda: self.stack.sink_inputs() == {"hdmi": [PCM]}, f"a {PCM} stream on hdmi")
        windows = [row[1:] for row in self.rows("window")]
        self.assertEqual(windows, [["MurmexClass", "MurmexWindow", "hidden"]], self.seen())
        self.assertEqual(self.rows("event", "Murmex-ATI HDMI Output"), [["held"]], "the guard")
        second = self.start()
        self.assertEqual(self.ended(second), 0, self.seen())
        self.assertEqual(second.calls("waveOutGetNumDevs"), 0, f"it looked\n{self.seen()}")
        self.start(b" ati hdmi output")  # the guard's name keeps the letter case
        self.wait(lambda: self.stack.sink_inputs() == {"hdmi": [PCM, PCM]}, "a second stream")
        self.assertIsNone(first.proc.poll(), self.seen())

    def test_2_the_companion_names_the_sink_the_program_plays_on_with_the_same_bytes(self):
        sink_of = {description[:31].encode("cp1252"): name for name, description in SINKS}
        cases = [  # tail, the sink both choose, the companion's advice
            (b"", "hdmi", []), (b" speakers", "spk", []), (b" Realtek", None, []),
            (" \t \xC9cout".encode("cp1252"), "ecout", []),  # dropped by careless start-up code
            (b" Monitor Speakers With A Very Lo", "wide", []),
            (b" Monitor Speakers With A Very Long Name", None, [b"longer"]),
            (b' "Speakers" ', None, [b"blank", b"quotes"])]
        played = {}
        for tail, sink, advice in cases:
            companion = self.start(tail, self.tool("devices"))
            code, said = self.ended(companion), companion.read(".out")
            chosen = re.findall(rb"^ +\d+  (.*)  <- chosen\r$", said, re.M)
            advised = [word for line in re.findall(rb"^- .*", said, re.M)
                       for word in (b"blank", b"quotes", b"longer") if word in line]
            self.assertEqual((code, [sink_of.get(name, name) for name in chosen], advised),
                             (0 if sink else 1, [sink] if sink else [], advice), said)
            program = self.start(tail)
            if sink:
                played[sink] = [PCM]
                self.wait(lambda: self.stack.sink_inputs() == played, f"a stream on {sink}")
            else:
                self.wait(lambda: program.calls("waveOutGetNumDevs") >= 2, "two lookups")
                self.assertEqual((program.calls("waveOutOpen"), self.stack.sink_inputs()),
                                 (0, played), self.seen())
        refused = self.start(b" " + b"x" * 300)  # its guard's name would not fit
        self.assertEqual(self.ended(refused), 0, self.seen())
        self.assertEqual((refused.calls("waveOutGetNumDevs"), refused.read(".out")), (0, b""))

    def test_3_a_receiver_switched_off_and_on_is_played_again(self):
        try:
            self.switched_off_and_on()
        except AssertionError:  # a story spoilt by Wine alone runs once more, any other fails
            if not any(PULSE_ABORT.search(p.read(".err")) for p in self.programs):
                raise  # the abort comes only at an end: every program has been told to quit
            print("Wine's PulseAudio client aborted at an end: once more", file=sys.stderr)
            self.switched_off_and_on()

    def switched_off_and_on(self):
        program, other = self.start(), self.start(b" Speakers")
        self.wait(lambda: self.stack.sink_inputs() == {"hdmi": [PCM], "spk": [PCM]}, "two streams")
        kept = self.stack.sink_inputs("index")["spk"]
        for _ in range(2):
            self.stack.switch_off("hdmi")
            opens = program.calls("waveOutOpen")
            self.wait(lambda: program.calls("waveOutOpen") >= opens + 2, "two refused opens")
            self.stack.switch_on("hdmi")
            back = time.monotonic()
            self.wait(lambda: self.stack.sinks().get("hdmi") == "RUNNING", "hdmi played", timeout=8)
            print(f"hdmi RUNNING {time.monotonic() - back:.1f} s after its return", file=sys.stderr)
            self.assertEqual(self.stack.sink_inputs("index").get("spk"), kept, self.seen())
        # Its server stopped, Wine's audio thread dies inside a call at the end and takes the
        # process with it before Wine's C runtime writes out: the lines are the program's to write.
        self.assertEqual(self.quit_all(program), 0, self.seen())
        # A line a loss, and one a refused open while the sink was gone: every open but three.
        lines = program.read(".out").splitlines(keepends=True)
        refused = [NOT_ENABLED] * (program.calls("waveOutOpen") - 3)
        self.assertEqual((lines[:1], sorted(lines)), ([LOST], sorted([LOST] * 2 + refused)),
                         self.seen())
        self.assertEqual(other.calls("waveOutOpen"), 1, self.seen())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--loader", required=True)
    parser.add_argument("--label", default="e2e", help="build name, for the run's folder")
    parser.add_argument("stories", nargs="*", help="Stories.test_name (default: all, in order)")
    args = parser.parse_args()
    Stories.exe = os.path.abspath(args.exe)
    root = os.path.join(HERE, "../../build", f"e2e-{args.label}")  # kept until the next run
    shutil.rmtree(root, ignore_errors=True)
    with Stack(root, args.loader) as stack:
        Stories.stack = stack.start(SINKS)
        suite = unittest.defaultTestLoader.loadTestsFromNames(args.stories or ["Stories"],
                                                              sys.modules[__name__])
        result = unittest.TextTestRunner(sys.stdout, verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
