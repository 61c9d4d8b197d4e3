"""A private audio stack for running Windows programs against real PulseAudio sinks.

One Stack owns one folder (for example build/stack-<unique>/) and everything started in it:
a PulseAudio server on its own socket with module-suspend-on-idle and null sinks, an Xvfb
display on a free number, and a wineserver on a private copy of a Wine prefix. The prefix itself
is booted once per loader into a template beside that folder (build/wineprefix-<loader>/) and
hard-linked into each run, so a run pays for `wineboot -i` only the first time, while its
wineserver, socket and display are its own. Every process is stopped by PID in stop(), also when
the caller fails; Wine's helper processes (services, explorer, ...) are found by the marker
MURMEX_STACK=<folder> that every process of the run inherits.

    with Stack("build/stack-1", "/usr/lib/wine/wine64") as stack:
        stack.start([("hdmi", "ATI HDMI Output"), ("spk", "Speakers")])
        prog = stack.wine(["murmex.exe"], "build/stack-1/out.txt")
        wait_for(lambda: stack.sink_inputs(), 10, "a stream", stack.describe)
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

WINE64 = "/usr/lib/wine/wine64"


class Timeout(AssertionError):
    pass


def wait_for(condition, timeout, what, describe=None, interval=0.05):
    """Polls condition() until it returns a true value, which it returns; raises Timeout
    naming `what` (and the describe() text) once `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            seen = f"\n{describe()}" if describe else ""
            raise Timeout(f"timed out after {timeout:g} s waiting for {what}{seen}")
        time.sleep(interval)


def stop_process(proc, grace=3.0):
    """Stops a process started here: SIGTERM, then SIGKILL after `grace` seconds."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(10)


def _zombie(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


class Stack:
    def __init__(self, root, loader=WINE64, loader_env=None, template=None):
        """root: the folder this run owns. loader: the Wine loader that starts programs;
        its wineserver is the `wineserver` beside it. loader_env: extra variables for every
        Wine process (e.g. WINELOADER for a wrapped loader)."""
        self.root = os.path.abspath(root)
        self.loader = loader
        self.server = os.path.join(os.path.dirname(loader), "wineserver")
        name = os.path.basename(loader)
        self.template = template or os.path.join(os.path.dirname(self.root), f"wineprefix-{name}")
        self.prefix = os.path.join(self.root, "prefix")
        self.procs = []  # Popen objects, stopped in reverse order
        self.descriptions = {}
        os.makedirs(self.root, exist_ok=True)
        home = self.path("home")
        self.env = dict(
            os.environ, HOME=home, XDG_CONFIG_HOME=home, XDG_RUNTIME_DIR=self.path("pulse"),
            PULSE_RUNTIME_PATH=self.path("pulse"), PULSE_SERVER=f"unix:{self.path('pulse/native')}",
            TMPDIR=self.path("tmp"), WINEPREFIX=self.prefix, WINEDEBUG="-all", LANG="C.UTF-8",
            MURMEX_STACK=self.root,
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", **(loader_env or {}))
        for var in ("PULSE_COOKIE", "DBUS_SESSION_BUS_ADDRESS", "WINESERVER", "WINEARCH"):
            self.env.pop(var, None)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # Processes ---------------------------------------------------------------------------

    def spawn(self, argv, out, err=None, env=None, **popen):
        """Starts a process with the stack's environment in a session of its own (a Ctrl-C
        meant for the caller does not reach it). Output goes to files or a terminal given by
        descriptor, never to pipes: Wine's background processes inherit descriptors and would
        hold a pipe open."""
        err = err or out
        with open(out, "ab", closefd=not isinstance(out, int)) as stdout, \
                open(err, "ab", closefd=not isinstance(err, int)) as stderr:
            proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                    env=dict(self.env, **(env or {})), cwd=self.root,
                                    start_new_session=True, **popen)
        self.procs.append(proc)
        return proc

    def wine(self, args, out, err=None, env=None):
        """Runs a Windows program through the loader; the Popen's PID is the Wine process."""
        return self.spawn([self.loader, *args], out, err, env)

    def kill(self, proc):
        stop_process(proc)

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
        for proc in reversed(self.procs):
            stop_process(proc)
        self.procs.clear()
        for pid in self.owned_pids():  # started by Wine, not by us: nobody else waits on them
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        try:
            wait_for(lambda: not self.owned_pids(), 5, "Wine's helpers to end")
        except Timeout as error:
            print(f"audio_stack: {error}: {self.owned_pids()}", file=sys.stderr)
        shutil.rmtree(self.path("tmp"), ignore_errors=True)

    def owned_pids(self):
        """PIDs of every live process that inherited this run's marker."""
        mark = f"\0MURMEX_STACK={self.root}\0".encode()
        pids = []
        for entry in os.listdir("/proc"):
            try:
                with open(f"/proc/{entry}/environ", "rb") as environ:
                    if entry.isdigit() and mark in b"\0" + environ.read() and not _zombie(entry):
                        pids.append(int(entry))
            except OSError:
                pass
        return pids

    # PulseAudio ----------------------------------------------------------------------------

    def _start_pulse(self, sinks):
        conf = self.path("pulse.pa")
        with open(conf, "w") as script:
            script.write(f"load-module module-native-protocol-unix "
                         f"socket={self.path('pulse/native')} auth-anonymous=1\n"
                         "load-module module-suspend-on-idle timeout=1\n")
        self.spawn(["pulseaudio", "-n", "-F", conf, "--daemonize=no", "--exit-idle-time=-1",
                    "--use-pid-file=no", "--disable-shm=yes"], self.path("pulse.log"))
        wait_for(lambda: self._pactl("info", check=False).returncode == 0, 20, "PulseAudio")
        for name, description in sinks:
            self.add_sink(name, description)

    def _pactl(self, *args, check=True):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, check=check,
                              timeout=20)

    def add_sink(self, name, description):
        prop = 'device.description="%s"' % description.replace('"', '\\"')
        self._pactl("load-module", "module-null-sink", f"sink_name={name}",
                    f"sink_properties='{prop}'")
        self.descriptions[name] = description

    def remove_sink(self, name):
        self._pactl("unload-module", str(self._sinks_json()[name]["owner_module"]))
        del self.descriptions[name]

    def _sinks_json(self):
        # pactl's JSON writer drops non-ASCII descriptions, so sinks are known by name.
        return {s["name"]: s for s in json.loads(self._pactl("-f", "json", "list", "sinks").stdout)}

    def sinks(self):
        """{sink name: state}, state being RUNNING, IDLE or SUSPENDED."""
        return {name: s["state"] for name, s in self._sinks_json().items()}

    def sink_inputs(self):
        """[{'sink': sink name, 'format': 's16le 2ch 48000Hz', 'pid': Unix PID or None}]"""
        names = {s["index"]: name for name, s in self._sinks_json().items()}
        inputs = json.loads(self._pactl("-f", "json", "list", "sink-inputs").stdout)
        return [{"sink": names.get(i["sink"]), "format": i["sample_specification"],
                 "pid": i["properties"].get("application.process.id")} for i in inputs]

    def describe(self):
        """What the audio side looks like now, for failure messages and live display."""
        try:
            sinks = ", ".join(f"{n} ({self.descriptions.get(n, '?')}): {state}"
                              for n, state in self.sinks().items())
            inputs = "; ".join(f"{i['format']} on {i['sink']} (pid {i['pid']})"
                               for i in self.sink_inputs()) or "none"
            return f"sinks: {sinks}\nsink inputs: {inputs}"
        except (subprocess.SubprocessError, ValueError) as error:
            return f"PulseAudio cannot be queried: {error}"

    # Display and Wine ----------------------------------------------------------------------

    def _start_display(self):
        # Xvfb picks the first free display number itself and reports it on the descriptor.
        read, write = os.pipe()
        try:
            self.spawn(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                        "640x480x24"], self.path("xvfb.log"), pass_fds=(write,))
            os.close(write)
            write = None
            number = b""
            while not number.endswith(b"\n"):
                chunk = os.read(read, 16)
                if not chunk:
                    raise RuntimeError(f"Xvfb did not start, see {self.path('xvfb.log')}")
                number += chunk
        finally:
            os.close(read)
            if write is not None:
                os.close(write)
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
            if os.path.exists(os.path.join(booting, "wineserver")):
                os.unlink(os.path.join(booting, "wineserver"))
            os.rename(booting, self.template)
