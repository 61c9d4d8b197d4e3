#!/usr/bin/python3
"""End-to-end stories: murmex.exe under Wine on a private PulseAudio with null sinks.
Wine lists device 0 as "PulseAudio", then one device per sink, named by its description cut to
31 characters; a sink unloaded and loaded again keeps its number. murmex-launch starts exact
command-line bytes (code page 1252), for murmex.exe and its companion murmex-devices.exe alike.
"""
import argparse
import contextlib
import fcntl
import functools
import os
import re
import select
import shutil
import struct
import subprocess
import sys
import termios
import time
import tty
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
RUN = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
MACHINE_RUN = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
SWITCHES = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
VALUE = re.compile(r"^    (.*?)    REG_SZ    (.*)$", re.M)  # a line of Wine's reg query
ESCAPES = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\r")  # Wine's console draws with these
PROMPTS = (b"Device:", b"(y/n)", b"keeps them all):")
DENIED = r"Access (is )?denied\."  # Windows' text, and Wine's


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Program:
    """One program started through murmex-launch, with Wine's trace of its winmm calls."""

    def __init__(self, story, tail, exe, line=None):
        """line: the whole command line instead of the exe's path and the tail."""
        self.base = os.path.join(story.dir, str(len(story.programs)))
        path = winpath(exe).encode("cp1252")
        with open(self.base + ".line", "wb") as file:
            file.write(line or (b'"%s"' % path if b" " in path else path) + tail)
        self.proc = story.stack.wine([story.tool("launch"), winpath(self.base + ".line")],
                                     self.base + ".out", self.base + ".err",
                                     env={"WINEDEBUG": "+winmm"})

    def read(self, what):  # ".out": its standard output; ".err": Wine's traces and complaints
        return Path(self.base + what).read_bytes()

    def calls(self, name):
        return self.read(".err").count(b":trace:winmm:%s " % name.encode())


class Window:
    """murmex-devices as a double-click starts it: alone on a console of its own, which Wine's
    loader makes of the pseudo-terminal it is given (wide enough that no line wraps)."""

    def __init__(self, story, *args, stdin=None):
        self.master, slave = os.openpty()
        story.addCleanup(os.close, self.master)
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 400, 0, 0))
        tty.setraw(slave)  # Enter stays a carriage return before Wine's console takes the terminal
        # The 32-bit build's loader starts a program from a 64-bit process that shares its console:
        # the emulated 32-bit loader beside it starts the companion alone, as Explorer does.
        loader = os.path.join(os.path.dirname(story.stack.loader), "qemu-wine")
        loader = loader if os.path.exists(loader) else story.stack.loader
        self.proc = subprocess.Popen([loader, *(args or [story.tool("devices")])], stdout=slave,
                                     stdin=stdin or slave, stderr=slave, env=story.stack.env,
                                     cwd=story.stack.root, start_new_session=True)
        story.stack.procs.append(self.proc)
        os.close(slave)
        self.screen, self.shown = b"", 0

    def text(self):
        return ESCAPES.sub(b"", self.screen)

    def type(self, line=None):
        """Types the line and Enter (none: only looks); returns what the window then shows, up
        to its next question or its end."""
        if line is not None:
            os.write(self.master, line + b"\r")

        def answered():
            ended = self.proc.poll() is not None  # then what it wrote is all there to read
            with contextlib.suppress(OSError):  # the terminal's end, once the companion ends
                while select.select([self.master], [], [], 0.1)[0]:
                    self.screen += os.read(self.master, 65536)
            said = self.text()[self.shown:]
            return ended or (b"\n" in said or line is None) and said.rstrip().endswith(PROMPTS)
        wait_for(answered, 90, f"an answer to {line!r}", lambda: self.text().decode())
        said, self.shown = self.text()[self.shown:], len(self.text())
        return said.decode()


class Stories(unittest.TestCase):
    stack = exe = msi = None

    def setUp(self):
        self.programs = []
        self.dir = self.stack.path(self._testMethodName)
        os.makedirs(self.dir)
        self.addCleanup(lambda: [self.stack.kill(program.proc) for program in self.programs])

    def tool(self, name):
        return os.path.join(os.path.dirname(self.exe), f"murmex-{name}.exe")

    def start(self, tail=b"", exe=None, line=None):
        self.programs.append(Program(self, tail, exe or self.exe, line))
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
        return "\n".join([self.stack.describe(), *(  # Wine's complaints are in each .err
            f"{p.base}: exit code {p.proc.poll()}, output {p.read('.out')!r}"
            for p in self.programs)])

    def wait(self, condition, what, timeout=15):
        return wait_for(condition, timeout, what, self.seen)

    def test_1_each_copy_plays_the_sink_the_companion_names_hidden_and_alone_on_its_name(self):
        sink_of = {description[:31].encode("cp1252"): name for name, description in SINKS}
        cases = [(b"", "hdmi"), (" \t \xC9cout".encode("cp1252"), "ecout"),  # bytes as typed
                 (b" Monitor Speakers With A Very Long Name", None)]  # advised: it is too long
        played = {}
        for tail, sink in cases:
            companion = self.start(tail, self.tool("devices"))
            code, said = self.ended(companion), companion.read(".out")
            chosen = re.findall(rb"^ +\d+  (.*)  <- chosen\r$", said, re.M)
            longer = re.search(rb"^- .*longer", said, re.M) is not None
            self.assertEqual((code, [sink_of.get(name, name) for name in chosen], longer),
                             (0 if sink else 1, [sink] if sink else [], not sink), said)
            program = self.start(tail)
            if sink:
                played[sink] = [PCM]
                self.wait(lambda: self.stack.sink_inputs() == played, f"a stream on {sink}")
            else:
                self.wait(lambda: program.calls("waveOutGetNumDevs") >= 2, "two lookups")
                self.assertEqual((program.calls("waveOutOpen"), self.stack.sink_inputs()),
                                 (0, played), self.seen())
        self.assertEqual([row[1:] for row in self.rows("window")],
                         [["MurmexClass", "MurmexWindow", "hidden"]] * 3, self.seen())
        self.assertEqual(self.rows("event", "Murmex-ATI HDMI Output"), [["held"]], "the guard")
        for tail in (b"", b" " + b"x" * 300):  # a copy on the name; a guard's name too long
            other = self.start(tail)
            self.assertEqual((self.ended(other), other.calls("waveOutGetNumDevs"), other.read(
                ".out")), (0, 0, b""), f"it read the device list\n{self.seen()}")
        self.start(b" ati hdmi output")  # the guard's name keeps the letter case
        played["hdmi"] = [PCM, PCM]
        self.wait(lambda: self.stack.sink_inputs() == played, "a second stream on hdmi")

    def test_2_a_receiver_switched_off_and_on_is_played_again(self):
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

    def reg(self, *args):
        """Wine's own reg.exe run to its end: its output. A value it adds goes after the story."""
        out = os.path.join(self.dir, f"reg.{time.monotonic_ns()}")
        self.stack.wine(["reg", *args], out).wait(timeout=60)
        if args[0] == "add":
            self.addCleanup(self.reg, "delete", *args[1:4], "/f")
        return Path(out).read_text()

    def values(self, *key):  # the REG_SZ values under a key ("/reg:32": in the 32-bit view)
        return sorted(VALUE.findall(self.reg("query", *key)))

    def quit_windows(self):  # the copies a companion started are no story's programs
        return [self.rows("window", "quit", pid) for pid, *_ in self.rows("window")]

    def test_3_double_clicked_the_companion_starts_the_program_at_sign_in_and_takes_that_away(self):
        # What the dialogue says, row by row, is the unit tests': here a real window, Run key and
        # download marks (plain files under Wine), on copies of both programs.
        exe, companion = (shutil.copy(path, self.dir) for path in (self.exe, self.tool("devices")))
        mark = exe + ":Zone.Identifier"
        Path(mark).write_bytes(b"[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/\r\n")
        wide, program = "Monitor Speakers With A Very Lo", winpath(exe)
        name, data = f"Murmex: {wide}", f'"{program}" {wide}'
        before, window = self.values(RUN), Window(self, companion)
        self.addCleanup(self.quit_windows)
        self.addCleanup(self.reg, "delete", RUN, "/v", name, "/f")  # whatever stops the story
        number = re.search(rf"^ +(\d+)  {wide}$", window.type(), re.M)[1]  # Wine's numbers vary
        window.type(number.encode())
        self.assertIn(f"Download mark: {program} came from the internet (zone 3). At every sign-in"
                      ' Windows shows "Open File - Security Warning"', window.type(b"y"))
        self.assertIn(f"Removed the mark from {program} alone: Windows starts it at sign-in without"
                      f' a word.\nStarts at sign-in: yes, written "{name}" = {data}\nRunning now:'
                      f" yes, murmex.exe started and holds the guard of [{wide}].",
                      window.type(b"y"))
        self.assertEqual((self.values(RUN), os.path.exists(mark)),
                         (sorted(before + [(name, data)]), False))
        self.wait(lambda: self.stack.sinks().get("wide") == "RUNNING", "wide played")

        # Its copy quit, the entry is offered a start with its own command line.
        self.quit_windows()
        self.wait(lambda: self.rows("event", f"Murmex-{wide}") == [["free"]], "the copy's end")
        self.assertIn(f'Starts at sign-in: yes, "{name}" = {data}', window.type(b"monitor"))
        self.assertIn("Running now: yes, murmex.exe started", window.type(b"y"))

        # From a prompt it only tells: an entry switched off, a mark that cannot be read (CreateFile
        # refuses a directory).
        self.reg("add", SWITCHES, "/v", name, "/t", "REG_BINARY", "/d", "03" + "00" * 11, "/f")
        os.mkdir(mark)
        self.assertRegex(Window(self, "cmd", "/c", companion, "MONITOR").type(), re.escape(
            f"Running now: yes, murmex.exe holds the guard of [{wide}].\nStarts at sign-in: no, "
            f"\"{name}\" = {data} is switched off in Task Manager's Startup apps: Enable there "
            f"switches it on.\nDownload mark: that of {program} cannot be read: ") + DENIED +
            r"\nIf Windows asks before it starts at sign-in, Properties > Unblock removes the "
            r"mark\.\n$")
        ours = re.search(rf'^ +(\d+)  "{name}"', window.type(b"-"), re.M)[1]
        self.assertIn(f'Removed "{name}"', window.type(ours.encode()))
        self.assertEqual((self.values(RUN), window.type(b""), window.proc.wait(30)),
                         (before, "\n", 0))
        redirected = Window(self, stdin=subprocess.DEVNULL).type()  # alone, input not the window
        self.assertTrue(redirected.endswith("keyboard: it asks nothing and changes nothing.\n"))

    def msiexec(self, name, *args):
        """msiexec started with CreateProcessW from UTF-8, so that a name outside the code page
        reaches it whole; its exit code, which Wine cuts to 8 bits (1603 is 67), and its log."""
        log = os.path.join(self.dir, f"{name}.log")
        words = [f'{a.split("=")[0]}="{a.split("=", 1)[1]}"' if "=" in a else
                 f'"{a}"' if " " in a else a for a in [*args, "/l*v", winpath(log)]]
        line = os.path.join(self.dir, f"{name}.line")
        Path(line).write_bytes(b"\xef\xbb\xbf" + " ".join(["msiexec", *words]).encode())
        code = self.stack.wine([self.tool("launch"), winpath(line)],
                               os.path.join(self.dir, f"{name}.out")).wait(timeout=600)
        text = Path(log).read_bytes()
        print(f"msiexec {name}: exit code {code}", file=sys.stderr)
        return code, text.decode("utf-16" if text[:2] == b"\xff\xfe" else "cp1252", "replace")

    def exported(self, key):
        """A key's REG_SZ values in the 32-bit view, exactly, from the UTF-16 file reg exports."""
        out = os.path.join(self.dir, f"export.{time.monotonic_ns()}.reg")
        self.stack.wine(["reg", "export", key, winpath(out), "/reg:32", "/y"], out + ".out").wait(
            timeout=60)
        text = Path(out).read_bytes().decode("utf-16") if os.path.exists(out) else ""
        unescape = functools.partial(re.sub, r"\\(.)", r"\1")
        return sorted((unescape(n), unescape(d)) for n, d in
                      re.findall(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"\r?$', text, re.M))

    def machine(self, folder):
        """The machine's Run values, the folder's files (None: no folder), whether the
        companion's shortcut is there, the package's own values, and the version and publisher
        of each Apps & features key named Murmex; the registry in its 32-bit view."""
        keys = [dict(VALUE.findall(key)) for key in
                self.reg("query", UNINSTALL, "/s", "/reg:32").split("\n\n")]
        return (self.exported(MACHINE_RUN),
                sorted(os.listdir(folder)) if os.path.exists(folder) else None,
                any(Path(self.stack.prefix, "drive_c").rglob("Murmex devices.lnk")),
                [(k.get("DisplayVersion"), k.get("Publisher")) for k in keys
                 if k.get("DisplayName") == "Murmex"])

    def refused(self, reason, *args):
        code, log = self.msiexec("refused", *args)
        self.assertEqual((code, reason in log), (1603 & 0xFF, True), log[-3000:])
        print(f"  refused: {reason}", file=sys.stderr)

    def test_4_the_installer_starts_it_for_every_user_upgrades_and_leaves_nothing(self):
        if not self.msi:
            self.skipTest("no --msi: the released package is the 32-bit build's")
        wide = "Monitor Speakers With A Very Lo"
        folder = os.path.join(self.stack.prefix, "drive_c/Program Files (x86)/Murmex")
        installed = r"C:\Program Files (x86)\Murmex"
        entry = [(f"Murmex: {wide}", f'"{installed}\\murmex.exe" {wide}')]
        files = ["LICENSE.txt", "README.txt", "murmex-devices.exe", "murmex.exe"]
        nothing, authors = ([], None, False, []), "The Murmex authors"
        later = self.later_version()
        self.assertEqual(self.machine(folder), nothing)
        for given, reason in [  # each refused with nothing written
                ([f"DEVICE={wide} "], "DEVICE ends in a blank"),
                (["DEVICE=LG TV (NVIDIA High Definition Audio)"], "DEVICE is 36 characters long; "
                 "Windows keeps 31 characters of a device's product name"),
                (["DEVICE=" + "x" * 5000], "DEVICE is 5000 characters long"),
                ([r"INSTALLDIR=C:\Murmex", f"DEVICE={wide}"],
                 r"the folder [C:\Murmex\] is not used")]:
            self.refused(reason, "/i", self.msi, "/qn", *given)
        self.assertEqual(self.machine(folder), nothing)

        # A name outside the code page is written, and removed, whole.
        polish = "G\u0142o\u015bniki"
        self.assertEqual(self.msiexec("install", "/i", self.msi, "/qn", f"DEVICE={polish}")[0], 0)
        self.assertEqual(self.machine(folder)[0],
                         [(f"Murmex: {polish}", f'"{installed}\\murmex.exe" {polish}')])
        self.assertEqual(self.msiexec("uninstall", "/x", self.msi, "/qn")[0], 0)
        self.assertEqual(self.machine(folder), nothing)

        self.assertEqual(self.msiexec("install", "/i", self.msi, "/qn", f"DEVICE={wide}")[0], 0)
        self.assertEqual(self.machine(folder), (entry, files, True, [("1.0.0.1", authors)]))
        released = os.path.join(os.path.dirname(self.msi), "murmex.exe")
        self.assertEqual(Path(folder, "murmex.exe").read_bytes(), Path(released).read_bytes())
        self.refused(f"installed with DEVICE [{wide}] and keeps it", "/i", self.msi, "/qn",
                     "DEVICE=Speakers")
        copy = self.start_entry(entry, wide)
        window = Window(self, f"{installed}\\murmex-devices.exe")  # from the Start menu
        window.type()
        self.assertIn('Starts at sign-in: yes, for every user, from the installer: "%s" = %s\nIt '
                      "has a sign-in entry already" % entry[0], window.type(b"monitor"))
        number = re.search(r"^ +(\d+)  .*  \(every user's, from the installer\)$",
                           window.type(b"-"), re.M)[1]
        self.assertIn("the installer's: uninstalling Murmex", window.type(number.encode()))
        self.assertEqual((window.type(b""), window.proc.wait(30)), ("\n", 0))
        self.assertEqual(self.msiexec("upgrade", "/i", later, "/qn")[0], 0)
        self.assertEqual(self.ended(copy), 0, "the upgrade ends the running copy")
        upgraded = (entry, files, True, [("1.0.1.0", authors)])
        self.assertEqual(self.machine(folder), upgraded, "the upgrade keeps DEVICE")
        self.assertEqual(self.msiexec("downgrade", "/i", self.msi, "/qn")[0], 1603 & 0xFF)
        self.assertEqual(self.machine(folder), upgraded, "the refused downgrade changes nothing")

        # A copy whose window was closed, started by another spelling of its path, and the
        # companion waiting at its prompt cannot be asked to quit; a copy with its window can.
        copy = self.start_entry([(None, f'"{winpath(folder)}\\murmex.exe" {wide}')], wide)
        [(pid, *_)] = self.rows("window")
        self.assertEqual(self.rows("window", "close", pid), [])
        asked = self.start(line=f'"{installed}\\murmex.exe" Speakers'.encode())
        self.wait(lambda: len(self.rows("window")) == 1, "the window of the Speakers copy")
        window = Window(self, f"{installed}\\murmex-devices.exe")
        window.type()
        self.assertEqual(self.rows("event", f"Murmex-{wide}"), [["held"]], "the closed one runs")
        code, log = self.msiexec("uninstall", "/x", later, "/qn")
        print("  " + "\n  ".join(re.findall(r"^Murmex: .*", log, re.M)), file=sys.stderr)
        self.assertEqual((code, self.ended(copy), self.ended(asked), window.proc.wait(30)),
                         (0, 1, 0, 1), log[-3000:])
        for program, how in [("murmex.exe", "it quit when asked"), ("murmex.exe", "outright"),
                             ("murmex-devices.exe", "outright")]:
            self.assertRegex(log, rf"process \d+ \(.*\\{program}\) ended:? {how}")
        self.assertEqual(self.rows("event", f"Murmex-{wide}"), [["free"]])
        self.assertEqual((self.machine(folder), self.exported(r"HKLM\Software\Murmex")),
                         (nothing, []))

    def start_entry(self, entry, name):
        """The entry's very command line, started as sign-in starts it; it plays and holds its
        guard."""
        [(_, data)] = entry
        copy = self.start(line=data.encode("cp1252"))
        self.wait(lambda: self.stack.sinks().get("wide") == "RUNNING", "wide played", timeout=60)
        self.assertEqual(self.rows("event", f"Murmex-{name}"), [["held"]], self.seen())
        return copy

    def later_version(self):
        """The released package's own files, built again as version 1.0.1.0."""
        files, later = os.path.join(self.dir, "files"), os.path.join(self.dir, "later.msi")
        subprocess.run(["msiextract", "-C", files, self.msi], check=True, capture_output=True)
        stage = os.path.join(files, "Program Files", "Murmex")
        with open(os.path.join(stage, "murmex-setup.dll"), "wb") as dll:
            subprocess.run(["msiinfo", "extract", self.msi, "Binary.SetupDll"], stdout=dll,
                           check=True)
        subprocess.run([os.path.join(HERE, "../../scripts/lib/build-msi.sh"), "1.0.1.0", stage,
                        later], check=True, capture_output=True)
        return later


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--loader", required=True)
    parser.add_argument("--label", default="e2e", help="build name, for the run's folder")
    parser.add_argument("--msi", help="the released package, for the installer's story")
    parser.add_argument("stories", nargs="*", help="Stories.test_name (default: all, in order)")
    args = parser.parse_args()
    Stories.exe = os.path.abspath(args.exe)
    Stories.msi = args.msi and os.path.abspath(args.msi)
    root = os.path.join(HERE, "../../build", f"e2e-{args.label}")  # kept until the next run
    shutil.rmtree(root, ignore_errors=True)
    with Stack(root, args.loader) as stack:
        Stories.stack = stack.start(SINKS)
        suite = unittest.defaultTestLoader.loadTestsFromNames(args.stories or ["Stories"],
                                                              sys.modules[__name__])
        result = unittest.TextTestRunner(sys.stdout, verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
