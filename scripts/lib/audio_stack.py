"""A private audio stack for running Windows programs against real PulseAudio sinks.

One Stack owns one folder (for example build/run-<pid>/) and everything started in it: a
PulseAudio server on its own socket with module-suspend-on-idle and null sinks, an Xvfb display
on a free number, and a wineserver on a private copy of a Wine prefix. The prefix is booted once
per loader into a template beside that folder (build/wineprefix-<loader>/) and hard-linked into
each run, so only the first run pays for `wineboot -i`. Every process is stopped by PID in
stop(), also when the caller fails; Wine's helper processes (services, explorer, ...) are found
by the marker MURMEX_STACK=<folder> that every process of the run inherits.
"""
import contextlib
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import time


def wait_for(condition, timeout, what, describe=None):
    """Polls condition() until it returns a true value, which it returns; fails naming `what`
    (and the describe() text) once `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    while not (value := condition()):
        if time.monotonic() > deadline:
            seen = f"\n{describe()}" if describe else ""
            raise AssertionError(f"timed out after {timeout:g} s waiting for {what}{seen}")
        time.sleep(0.05)
    return value


def _state(pid):
    """The process's state letter (R, S, T stopped, Z zombie, ...); Z once it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return "Z"


class Stack:
    def __init__(self, root, loader="/usr/lib/wine/wine64"):
        """root: the folder this run owns. loader: the Wine loader that starts programs; its
        wineserver is the `wineserver` beside it."""
        self.root = os.path.abspath(root)
        self.loader = loader
        self.server = os.path.join(os.path.dirname(loader), "wineserver")
        self.template = os.path.join(os.path.dirname(self.root),
                                     f"wineprefix-{os.path.basename(loader)}")
        self.prefix = self.path("prefix")
        self.procs = []  # stopped newest first
        self.descriptions = {}
        self.modules = {}  # sink name: the index of the module that made it
        os.makedirs(self.root, exist_ok=True)
        home = self.path("home")
        self.env = dict(
            os.environ, HOME=home, XDG_CONFIG_HOME=home, XDG_RUNTIME_DIR=self.path("pulse"),
            PULSE_RUNTIME_PATH=self.path("pulse"), PULSE_SERVER=f"unix:{self.path('pulse/native')}",
            TMPDIR=self.path("tmp"), WINEPREFIX=self.prefix, WINEDEBUG="-all", LANG="C.UTF-8",
            MURMEX_STACK=self.root, WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        for var in ("PULSE_COOKIE", "DBUS_SESSION_BUS_ADDRESS", "WINESERVER", "WINEARCH"):
            self.env.pop(var, None)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # Processes ---------------------------------------------------------------------------

    def spawn(self, argv, out, err=None, env=None, stdin=subprocess.DEVNULL, **popen):
        """Starts a process with the stack's environment in a session of its own (a Ctrl-C
        meant for the caller does not reach it). Output goes to files or a terminal given by
        descriptor, never to pipes: Wine's background processes inherit descriptors and would
        hold a pipe open. Input is empty unless given (subprocess.PIPE: the caller's to write)."""
        err = err or out
        with open(out, "ab", closefd=not isinstance(out, int)) as stdout, \
                open(err, "ab", closefd=not isinstance(err, int)) as stderr:
            proc = subprocess.Popen(argv, stdin=stdin, stdout=stdout, stderr=stderr,
                                    env=dict(self.env, **(env or {})), cwd=self.root,
                                    start_new_session=True, **popen)
        self.procs.append(proc)
        return proc

    def wine(self, args, out, err=None, env=None, stdin=subprocess.DEVNULL):
        """Runs a Windows program through the loader; the Popen's PID is the Wine process."""
        return self.spawn([self.loader, *args], out, err, env, stdin)

    def rows(self, args):
        """Runs a Windows program to its end: its output lines split at tabs. A failed run is
        tried once more (a helper tool's rare crash under emulation is not the program's);
        a second failure returns None and keeps its output in failed-tool.N for the reader."""
        for attempt in range(2):
            out = self.path(f"rows.{time.monotonic_ns()}")
            code = self.wine(args, out).wait(timeout=60)
            if code != 0:
                os.replace(out, self.path(f"failed-tool.{attempt}"))
                continue
            with open(out, "rb") as file:
                text = file.read().decode("cp1252")
            os.unlink(out)
            return [line.split("\t") for line in text.splitlines()]
        return None

    @staticmethod
    def kill(proc, grace=3.0):
        """SIGTERM, then SIGKILL after `grace` seconds."""
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(grace)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(10)

    def start(self, sinks=()):
        for sub in ("home", "pulse", "tmp"):
            os.makedirs(self.path(sub), exist_ok=True)
        try:
            self._start_pulse(sinks)
            self._start_display()
            self._start_wine()
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self):
        """Stops everything this run started, newest first, then Wine's own helpers."""
        if os.path.isdir(self.prefix):
            subprocess.run([self.server, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30, check=False)
        while self.procs:
            self.kill(self.procs.pop())
        for pid in self.owned_pids():  # started by Wine, not by us: nobody else waits on them
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        try:
            wait_for(lambda: not self.owned_pids(), 5, "Wine's helpers to end")
        except AssertionError as error:
            print(f"audio_stack: {error}: {self.owned_pids()}", file=sys.stderr)
        shutil.rmtree(self.path("tmp"), ignore_errors=True)

    def owned_pids(self):
        """PIDs of every live process that inherited this run's marker."""
        mark = f"\0MURMEX_STACK={self.root}\0".encode()
        pids = []
        for entry in filter(str.isdigit, os.listdir("/proc")):
            with contextlib.suppress(OSError), open(f"/proc/{entry}/environ", "rb") as environ:
                if mark in b"\0" + environ.read() and _state(entry) != "Z":
                    pids.append(int(entry))
        return pids

    # PulseAudio ----------------------------------------------------------------------------

    def _start_pulse(self, sinks):
        conf = self.path("pulse.pa")
        with open(conf, "w") as script:
            script.write(f"load-module module-native-protocol-unix "
                         f"socket={self.path('pulse/native')} auth-anonymous=1\n"
                         "load-module module-suspend-on-idle timeout=1\n")
        # Not real-time: a sink filled with a few hundred streams keeps the server's I/O thread
        # busy past the kernel's real-time budget, which kills the server without a word.
        self.pulse = self.spawn(
            ["pulseaudio", "-n", "-F", conf, "--daemonize=no", "--exit-idle-time=-1",
             "--use-pid-file=no", "--disable-shm=yes", "--realtime=no"], self.path("pulse.log"))
        wait_for(lambda: self.pactl("info", check=False).returncode == 0, 20, "PulseAudio")
        for name, description in sinks:
            self.descriptions[name] = description
            self.switch_on(name)

    @contextlib.contextmanager
    def pulse_stopped(self):
        """Stops the PulseAudio server (SIGSTOP) for the body of a with statement and lets it go on
        after it: every client's call into the server waits that long."""
        os.kill(self.pulse.pid, signal.SIGSTOP)
        try:
            yield
        finally:
            os.kill(self.pulse.pid, signal.SIGCONT)

    def switch_on(self, name):
        """Loads the sink under its name and description, as a receiver switched on brings its
        output back."""
        prop = 'device.description="%s"' % self.descriptions[name].replace('"', '\\"')
        self.modules[name] = self.pactl("load-module", "module-null-sink", f"sink_name={name}",
                                        f"sink_properties='{prop}'").stdout.decode().strip()

    def switch_off(self, name):
        """Unloads the sink, as a receiver switched off takes its output away."""
        self.pactl("unload-module", self.modules.pop(name))

    def pactl(self, *args, check=True):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, check=check,
                              timeout=20)

    def _list(self, what):
        return json.loads(self.pactl("-f", "json", "list", what).stdout)

    def sinks(self):
        """{sink name: state}, state being RUNNING, IDLE or SUSPENDED."""
        # pactl's JSON writer drops non-ASCII descriptions, so sinks are known by name.
        return {s["name"]: s["state"] for s in self._list("sinks")}

    def sink_inputs(self, field="sample_specification"):
        """{sink name: [that field of each stream on it]}: by default its sample format, such as
        's16le 2ch 48000Hz'; "index" tells one stream from the next."""
        names = {s["index"]: s["name"] for s in self._list("sinks")}
        found = {}
        for stream in self._list("sink-inputs"):
            found.setdefault(names.get(stream["sink"]), []).append(stream[field])
        return found

    def describe(self):
        """What the audio side looks like now, for failure messages."""
        if _state(self.pulse.pid) == "T":
            return "PulseAudio is stopped"
        try:
            sinks = ", ".join(f"{n} ({self.descriptions.get(n, '?')}): {state}"
                              for n, state in self.sinks().items())
            return f"sinks: {sinks}\nsink inputs: {self.sink_inputs() or 'none'}"
        except (subprocess.SubprocessError, ValueError) as error:
            return f"PulseAudio cannot be queried: {error}"

    # Display and Wine ----------------------------------------------------------------------

    def _start_display(self):
        # Xvfb picks the first free display number itself and reports it on the descriptor.
        read, write = os.pipe()
        with os.fdopen(read, "rb") as report:
            try:
                self.spawn(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                            "640x480x24"], self.path("xvfb.log"), pass_fds=(write,))
            finally:
                os.close(write)
            number = report.readline()
        if not number.strip():
            raise RuntimeError(f"Xvfb did not start, see {self.path('xvfb.log')}")
        self.env["DISPLAY"] = f":{int(number)}"

    def _start_wine(self):
        self._ensure_template()
        shutil.rmtree(self.prefix, ignore_errors=True)
        # Hard links keep the copy cheap; the registry files are real copies because they are
        # the only files Wine rewrites.
        shutil.copytree(self.template, self.prefix, symlinks=True, copy_function=os.link)
        for name in os.listdir(self.prefix):
            if name.endswith(".reg"):
                os.unlink(os.path.join(self.prefix, name))
                shutil.copy2(os.path.join(self.template, name), self.prefix)
        self.spawn([self.server, "-f", "-p"], self.path("wineserver.log"))
        wait_for(self._server_socket, 20, "the wineserver socket")

    def _server_socket(self):
        # Debian's wineserver keeps its socket under $TMPDIR/wine-XXXXXX/server-*/.
        tmp = self.path("tmp")
        return any(os.path.exists(os.path.join(tmp, d, s, "socket"))
                   for d in os.listdir(tmp) if d.startswith("wine-")
                   for s in os.listdir(os.path.join(tmp, d)) if s.startswith("server-"))

    def _ensure_template(self):
        os.makedirs(os.path.dirname(self.template), exist_ok=True)
        with open(self.template + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)  # concurrent first runs boot it once
            if os.path.exists(os.path.join(self.template, "system.reg")):
                return
            booting = self.template + ".boot"
            shutil.rmtree(booting, ignore_errors=True)
            env = dict(self.env, WINEPREFIX=booting)
            with open(self.path("wineboot.log"), "wb") as log:
                subprocess.run([self.loader, "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                               stdout=log, stderr=log, timeout=600, check=True)
                subprocess.run([self.server, "-w"], env=env, stdout=log, stderr=log, timeout=60,
                               check=True)
            # Debian's wineserver names its private folder there; each run makes its own.
            with contextlib.suppress(FileNotFoundError):
                os.unlink(os.path.join(booting, "wineserver"))
            os.rename(booting, self.template)
