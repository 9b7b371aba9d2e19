#!/usr/bin/env python3
"""Runs the cross-built hotfx.exe and unit tests under Wine on a private Xvfb.

    wine_test.py setup   STATE          start Xvfb, create the Wine prefix once
    wine_test.py run     STATE ARCH BUILD_DIR CASE
    wine_test.py cleanup STATE          stop the wineserver and Xvfb

CTest runs setup and cleanup as a fixture around the cases, one at a time
(they share one display and one prefix). A case exits 77, which CTest reports
as skipped, when Wine cannot start on this machine; a missing .exe is a
failure, since the test script builds both Windows presets first.

Python's standard library only; xdotool finds the window and types keys,
ImageMagick's import reads its pixels back, and a WM_DELETE_WINDOW client
message sent through Xlib (ctypes) stands for the close button, which is what
a window manager sends when it is clicked; no window manager runs.
"""

import ctypes
import ctypes.util
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

SKIP = 77
WAIT = 60.0  # seconds to wait for an expected event; Wine is slow to start

# Windows text-mode standard output ends every line with CR LF.
EOL = b"\r\n"
LOADED = [b"Loaded.", b"Obj Initialize."]
GATE = [b"vshader = 00000000", b"gshader   =00000000", b"pshader   =00000000",
        b"pConstant =00000000", b"pRSStage  =00000000"]
NO_COMPILER = (b"ERROR : no HLSL compiler: d3dx11_43.dll and d3dcompiler_47.dll "
               b"are both missing")
CLEAR_COLOUR = (0, 32, 76)  # 0.0, 0.125, 0.3 in UNORM

MINIMAL_FX = """\
float4 vs_main() : SV_Position { return float4(0.0, 0.0, 0.5, 1.0); }
void gs_main() {}
float4 ps_main() : SV_Target { return float4(1.0, 1.0, 1.0, 1.0); }
"""
SYNTAX_ERROR_FX = "float4 vs_main() : SV_Position { return float4(0, 0, 0, 1) }\n"
# The same stages from a header in a folder, found next to main.fx.
INCLUDING_FX = '#include "shaders/minimal.fxh"\n'
NO_GS_FX = """\
float4 vs_main() : SV_Position { return float4(0.0, 0.0, 0.5, 1.0); }
float4 ps_main() : SV_Target { return float4(1.0, 1.0, 1.0, 1.0); }
"""


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def step_line(number, code_pattern, label):
    return re.compile(rb"ERROR : scene : %d 0x%s : %s" % (number, code_pattern, re.escape(label)))


ANY_FAILURE = rb"8[0-9A-F]{7}"  # the runtime compiler's own negative code


# ---------------------------------------------------------------- state

def load_state(state_dir):
    with open(os.path.join(state_dir, "state.json")) as f:
        return json.load(f)


def save_state(state_dir, state):
    with open(os.path.join(state_dir, "state.json"), "w") as f:
        json.dump(state, f)


def find_wine(arch):
    """The loader for one architecture. Debian splits them (wine64 runs 64-bit
    programs, wine the 32-bit ones); a WoW64 Wine has only `wine`."""
    names = ["wine64", "/usr/lib/wine/wine64", "wine"] if arch == "x64" else ["wine"]
    for name in names:
        path = shutil.which(name)
        if path:
            return path
    return None


def find_wineserver():
    for name in ["wineserver", "/usr/lib/wine/wineserver"]:
        path = shutil.which(name)
        if path:
            return path
    return None


def wine_env(state, extra_overrides=""):
    env = dict(os.environ)
    env["WINEPREFIX"] = state["prefix"]
    env["DISPLAY"] = state["display"]
    env["WINEDEBUG"] = "-all"
    # No Mono or Gecko install prompts.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=" + (";" + extra_overrides if extra_overrides else "")
    return env


def kill_recorded(state_dir):
    """Stops the Xvfb a previous setup started, if it still runs."""
    try:
        state = load_state(state_dir)
    except (OSError, ValueError):
        return
    server = find_wineserver()
    if server and os.path.isdir(state.get("prefix", "")):
        subprocess.run([server, "-k"], env=wine_env(state), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=False)
    pid = state.get("xvfb_pid")
    if pid:
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                ours = b"Xvfb" in f.read()
            if ours:
                os.kill(pid, signal.SIGTERM)
        except OSError:
            pass


def setup(state_dir):
    os.makedirs(state_dir, exist_ok=True)
    kill_recorded(state_dir)
    state = {"prefix": os.path.join(state_dir, "prefix"), "display": "", "skip": ""}

    xvfb = shutil.which("Xvfb")
    wine64 = find_wine("x64")
    if not xvfb or not wine64:
        state["skip"] = "Wine tests skipped: Xvfb or wine64 is not installed"
        save_state(state_dir, state)
        print(state["skip"])
        return 0

    # -displayfd picks a free display and writes its number once listening.
    read_end, write_end = os.pipe()
    log = open(os.path.join(state_dir, "xvfb.log"), "wb")
    proc = subprocess.Popen([xvfb, "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], stdin=subprocess.DEVNULL, stdout=log,
                            stderr=log, pass_fds=(write_end,), start_new_session=True)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip().isdigit():
        proc.kill()
        state["skip"] = "Wine tests skipped: Xvfb did not start (see xvfb.log)"
        save_state(state_dir, state)
        print(state["skip"])
        return 0
    state["display"] = ":" + number.strip().decode()
    state["xvfb_pid"] = proc.pid
    save_state(state_dir, state)

    # The prefix is created once (wineboot takes a while) and kept for later runs.
    env = wine_env(state)
    started = time.monotonic()
    boot = subprocess.run([wine64, "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=500)
    if boot.returncode != 0:
        state["skip"] = ("Wine tests skipped: Wine cannot start here (wineboot: %s)"
                         % boot.stdout.decode(errors="replace").strip())
        save_state(state_dir, state)
        print(state["skip"])
        return 0
    # Keep the wineserver and its helper processes between the cases.
    server = find_wineserver()
    if server:
        subprocess.run([server, "-p60"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    print("Xvfb on %s, Wine prefix ready in %.1f s" % (state["display"], time.monotonic() - started))
    return 0


def cleanup(state_dir):
    kill_recorded(state_dir)
    return 0


# ---------------------------------------------------------------- X11

class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


class Display:
    """The private display: xdotool finds the window and types keys through
    XTest, ImageMagick reads the screen, and Xlib sends the close request."""

    def __init__(self, name):
        self.name = name
        self.env = dict(os.environ, DISPLAY=name)

    def tool(self, *args):
        try:
            return subprocess.run(args, env=self.env, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=WAIT, check=True).stdout
        except subprocess.TimeoutExpired:
            raise Failure("%s timed out" % " ".join(args))
        except subprocess.CalledProcessError as error:
            raise Failure("%s failed: %s" % (" ".join(args), error.stderr.decode(errors="replace")))

    def find_window(self):
        """The program's visible top-level window, titled "test"."""
        return int(self.tool("xdotool", "search", "--sync", "--onlyvisible", "--name",
                             "^test$").split()[0])

    def key(self, window, key):
        self.tool("xdotool", "windowfocus", "--sync", str(window), "key", key)

    def pixels(self, window):
        """The window's on-screen pixels, packed RGB bytes."""
        geometry = dict(line.split("=", 1) for line in self.tool(
            "xdotool", "getwindowgeometry", "--shell", str(window)).decode().split())
        crop = "%sx%s+%s+%s" % (geometry["WIDTH"], geometry["HEIGHT"], geometry["X"],
                                geometry["Y"])
        return self.tool("import", "-display", self.name, "-window", "root", "-crop", crop,
                         "-depth", "8", "rgb:-")

    def close_window(self, window):
        """What a window manager sends when the close button is clicked."""
        x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                 ctypes.POINTER(XEvent)]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        dpy = x.XOpenDisplay(self.name.encode())
        check(dpy, "cannot open X display %s" % self.name)
        event = XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = x.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.l[0] = x.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        x.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
        x.XCloseDisplay(dpy)  # flushes the request


# ---------------------------------------------------------------- the program

class Program:
    """hotfx.exe under Wine, its standard output collected line by line."""

    def __init__(self, state, build_dir, cwd, overrides=""):
        self.lines = []  # complete lines, each with its line end
        self.cond = threading.Condition()
        self.cwd = cwd
        self.stderr = open(os.path.join(cwd, "stderr.txt"), "wb")
        exe = os.path.join(build_dir, "hotfx.exe")
        self.proc = subprocess.Popen([state["wine"], exe], cwd=cwd,
                                     env=wine_env(state, overrides), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=self.stderr)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            with self.cond:
                self.lines.append(line)
                self.cond.notify_all()
        with self.cond:
            self.cond.notify_all()

    def wait_for(self, what, predicate, start=0):
        """Waits until a line from index start on satisfies predicate; returns its index."""
        deadline = time.monotonic() + WAIT
        with self.cond:
            while True:
                for i in range(start, len(self.lines)):
                    if predicate(self.lines[i]):
                        return i
                start = max(start, len(self.lines))
                remaining = deadline - time.monotonic()
                if remaining <= 0 or (self.proc.poll() is not None and not self.reader.is_alive()):
                    raise Failure("no %s in the output:\n%s" % (what, self.tail()))
                self.cond.wait(min(remaining, 0.5))

    def wait_line(self, text, start=0):
        return self.wait_for(repr(text), lambda line: line == text + EOL, start)

    def wait_gate(self, start):
        """Waits for two whole groups of gate lines after start; returns the end."""
        first = self.wait_line(GATE[0], start)
        second = self.wait_line(GATE[0], first + 1)
        end = self.wait_line(GATE[-1], second)
        return end + 1

    def snapshot(self):
        with self.cond:
            return list(self.lines)

    def tail(self):
        return b"".join(self.lines[-40:]).decode(errors="replace")

    def wait_exit(self, timeout=WAIT):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not exit:\n%s" % self.tail())
        finally:
            self.reader.join(10)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.stderr.close()
        with open(os.path.join(self.cwd, "stdout.txt"), "ab") as f:  # kept for diagnosis
            f.write(b"".join(self.snapshot()))


def text_of(line):
    return line[:-len(EOL)] if line.endswith(EOL) else line


def without_gate(lines):
    """The lines that are not gate lines, after checking the gate lines come
    as whole groups in their order (a group cut at either end is allowed)."""
    rest, position = [], None
    for line in lines:
        text = text_of(line)
        if text in GATE:
            index = GATE.index(text)
            check(position is None or index == (position + 1) % len(GATE),
                  "gate line out of order: %r" % text)
            position = index
        else:
            check(position is None or position == len(GATE) - 1,
                  "a gate group was cut short before %r" % line)
            position = None
            rest.append(line)
    return rest


def assert_messages(lines, expected, what):
    """lines, gate groups removed, must be exactly the expected lines (bytes
    with their line end, or compiled patterns matched against the text)."""
    rest = without_gate(lines)
    ok = len(rest) == len(expected)
    for line, want in zip(rest, expected):
        if isinstance(want, bytes):
            ok = ok and line == want + EOL
        else:
            ok = ok and line.endswith(EOL) and want.fullmatch(line[:-len(EOL)]) is not None
    check(ok, "%s: expected %r\ngot %r" % (what, expected, rest))


def compiler_text(lines, must_mention):
    """The compiler's message ahead of a step line: "ERROR : " then the
    runtime's text, which names the file and the problem."""
    text = b"".join(lines)
    check(text.startswith(b"ERROR : ") and len(text) > len(b"ERROR : ") + len(EOL),
          "no compiler message before the step line: %r" % text)
    for word in must_mention:
        check(word in text, "the compiler message does not mention %r: %r" % (word, text))
    check(not any(text_of(line) in GATE for line in lines),
          "gate lines before the step line: %r" % text)


def wait_compile_failure(program, number, label, must_mention, mark):
    """Waits, from line mark on, for a compile step's line; the compiler's
    text ("ERROR : ...", naming each of must_mention) comes just before it.
    Returns the indices of the compiler's first line and of the step line."""
    step = step_line(number, ANY_FAILURE, label)
    at = program.wait_for("the %d step line" % number,
                          lambda l: step.fullmatch(text_of(l)), mark)
    lines = program.snapshot()
    message_start = program.wait_for("the compiler message",
                                     lambda l: l.startswith(b"ERROR : "), mark)
    compiler_text(lines[message_start:at], must_mention)
    return message_start, at


def wait_clear_colour(display, window):
    """The whole window shows the clear colour: the frame cleared and
    presented and nothing else (the empty geometry stage emits nothing)."""
    deadline = time.monotonic() + WAIT
    while True:
        raw = display.pixels(window)
        channels = [raw[c::3] for c in range(3)]
        # One step of tolerance: 0.3 x 255 = 76.5 may round either way.
        if raw and all(abs(min(ch) - want) <= 1 and abs(max(ch) - want) <= 1
                       for ch, want in zip(channels, CLEAR_COLOUR)):
            return
        if time.monotonic() > deadline:
            wrong = [p for p in zip(*channels)
                     if any(abs(a - b) > 1 for a, b in zip(p, CLEAR_COLOUR))]
            raise Failure("%d of %d pixels are not %r, e.g. %r"
                          % (len(wrong), len(raw) // 3, CLEAR_COLOUR, wrong[:3]))
        time.sleep(0.2)


def write_fx(cwd, text, name="main.fx"):
    path = os.path.join(cwd, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\n") as f:
        f.write(text)


def write_including_fx(cwd):
    write_fx(cwd, MINIMAL_FX, os.path.join("shaders", "minimal.fxh"))
    write_fx(cwd, INCLUDING_FX)


# ---------------------------------------------------------------- cases

def case_load(state, build_dir, cwd, display):
    """A good file loads, the frame clears the window, F5 reloads, Esc quits."""
    write_fx(cwd, MINIMAL_FX)
    program = Program(state, build_dir, cwd)
    try:
        program.wait_line(LOADED[1])
        window = display.find_window()
        wait_clear_colour(display, window)
        before = len(program.snapshot())
        assert_messages(program.snapshot(), LOADED, "first load")

        display.key(window, "F5")
        program.wait_line(LOADED[1], before)
        display.key(window, "Escape")
        check(program.wait_exit() == 0, "Esc: exit code %r" % program.proc.returncode)
        # One key press may be seen by more than one frame; each reload
        # prints the same pair and nothing else does.
        reloads = program.snapshot()[before:]
        check(reloads and len(reloads) % 2 == 0, "F5 output: %r" % reloads)
        assert_messages(reloads, LOADED * (len(reloads) // 2), "F5 reload")
    finally:
        program.stop()


def case_errors(state, build_dir, cwd, display):
    """Each failing load reports its step and stops the frame at the gate;
    F5 after each fix goes on to the next; the close button quits."""
    program = Program(state, build_dir, cwd)
    try:
        # No main.fx at all: the runtime's file-not-found code, no message.
        first = program.wait_line(GATE[0])
        assert_messages(program.snapshot()[:first],
                        [b"ERROR : scene : 112 0x80070002 : CompileShaderFromFile VS"], "no file")
        mark = program.wait_gate(first)
        window = display.find_window()

        write_fx(cwd, SYNTAX_ERROR_FX)
        display.key(window, "F5")
        message_start, at = wait_compile_failure(
            program, 112, b"CompileShaderFromFile VS", [b"main.fx"], mark)
        assert_messages(program.snapshot()[mark:message_start], [], "before the syntax error")
        mark = program.wait_gate(at + 1)

        write_fx(cwd, NO_GS_FX)
        display.key(window, "F5")
        message_start, at = wait_compile_failure(
            program, 113, b"CompileShaderFromFile GS", [b"gs_main"], mark)
        assert_messages(program.snapshot()[mark:message_start], [],
                        "before the missing entry point")
        mark = program.wait_gate(at + 1)

        write_fx(cwd, MINIMAL_FX)
        display.key(window, "F5")
        done = program.wait_line(LOADED[1], mark)
        wait_clear_colour(display, window)
        display.close_window(window)
        check(program.wait_exit() == 0, "close button: exit code %r" % program.proc.returncode)
        # Once loaded the gate passes: no gate line after the load.
        check(not any(text_of(line) in GATE for line in program.snapshot()[done:]),
              "gate lines after a good load:\n%s" % program.tail())
        reloads = without_gate(program.snapshot()[mark:])
        check(reloads and len(reloads) % 2 == 0, "F5 output: %r" % reloads)
        assert_messages(reloads, LOADED * (len(reloads) // 2), "fixed file")
    finally:
        program.stop()


def case_compiler_fallback(state, build_dir, cwd, display):
    """Without d3dx11_43.dll, d3dcompiler_47.dll compiles with the same
    arguments, include lookup and message blob; without both, one clear line
    and the 112 step with ERROR_MOD_NOT_FOUND, on every load."""
    write_including_fx(cwd)
    program = Program(state, build_dir, cwd, "d3dx11_43=d")
    try:
        program.wait_line(LOADED[1])
        assert_messages(program.snapshot(), LOADED, "load through d3dcompiler_47")
        window = display.find_window()
        mark = len(program.snapshot())
        write_fx(cwd, NO_GS_FX)
        display.key(window, "F5")
        wait_compile_failure(program, 113, b"CompileShaderFromFile GS", [b"gs_main"], mark)
        display.key(window, "Escape")
        check(program.wait_exit() == 0, "exit code %r" % program.proc.returncode)
    finally:
        program.stop()

    write_fx(cwd, MINIMAL_FX)
    program = Program(state, build_dir, cwd, "d3dx11_43,d3dcompiler_47=d")
    no_dll = b"ERROR : scene : 112 0x8007007E : CompileShaderFromFile VS"
    try:
        first = program.wait_line(GATE[0])
        assert_messages(program.snapshot()[:first], [NO_COMPILER, no_dll], "no compiler")
        mark = program.wait_gate(first)
        window = display.find_window()
        display.key(window, "F5")
        at = program.wait_line(no_dll, mark)
        mark = program.wait_gate(at + 1)
        display.key(window, "Escape")
        check(program.wait_exit() == 0, "exit code %r" % program.proc.returncode)
        # The missing compiler is reported once, not on every load.
        reloads = program.snapshot()[first:]
        check(len(without_gate(reloads)) >= 1, "no reload seen")
        assert_messages(reloads, [no_dll] * len(without_gate(reloads)), "reload without compiler")
    finally:
        program.stop()


def case_unit_tests(state, build_dir, cwd, display):
    """The simulation's unit tests, built for Windows, pass under Wine: the
    same bits as on Linux (x87 double rounding would show here)."""
    for name in UNIT_TESTS:
        exe = os.path.join(build_dir, "tests", "unit", name)
        run = subprocess.run([state["wine"], exe], cwd=cwd, env=wine_env(state),
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=300)
        output = run.stdout.decode(errors="replace")
        print(output[-3000:])
        check(run.returncode == 0, "%s under Wine: exit code %d" % (name, run.returncode))
        check("[  PASSED  ]" in output, "%s reported no passing test" % name)


UNIT_TESTS = ["hotfx_unit_tests.exe", "hotfx_unit_tests_scalar.exe"]
CASES = {
    "load": case_load,
    "errors": case_errors,
    "compiler_fallback": case_compiler_fallback,
    "unit_tests": case_unit_tests,
}


def cannot_start(state, wine, arch, build_dir):
    """Why Wine cannot start this architecture's programs here, or None.

    `wine --version` succeeds without 32-bit Wine: Debian's `wine` falls back
    to the 64-bit loader, and WINEDEBUG=-all hides its "wine32 is missing"
    hint. So the 32-bit check starts a 32-bit program of this build (the unit
    tests, listing their names), and only a start that fails skips; a start
    that works and a hotfx.exe that then prints nothing still fail."""
    if not wine:
        return "Wine is not installed: wine" + ("64" if arch == "x64" else "32:i386")
    if arch == "x64":
        probe = [wine, "--version"]
    else:
        exe = os.path.join(build_dir, "tests", "unit", UNIT_TESTS[0])
        if not os.path.isfile(exe):
            return None  # the case reports the missing build
        probe = [wine, exe, "--gtest_list_tests"]
    env = wine_env(state)
    env.pop("WINEDEBUG")  # keep the loader's own hint for the reason
    try:
        started = subprocess.run(probe, env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    except (OSError, subprocess.TimeoutExpired) as error:
        printed, said, code = "", str(error), None
    else:
        printed = started.stdout.decode(errors="replace")
        said = started.stderr.decode(errors="replace")
        code = started.returncode
    # A 64-bit Wine given a 32-bit program can exit 0 having printed nothing
    # but its complaints: only what the program itself prints counts.
    if code == 0 and printed.strip():
        return None
    hint = next((line.strip() for line in (said + printed).splitlines() if line.strip()),
                "exit code %s, no output" % code)
    if arch == "x64":
        return "64-bit Wine cannot start here (%s)" % hint
    return "32-bit Wine is not installed: wine32:i386 (%s)" % hint


def run(state_dir, arch, build_dir, case):
    state = load_state(state_dir)
    if state["skip"]:
        print(state["skip"])
        return SKIP
    wine = find_wine(arch)
    reason = cannot_start(state, wine, arch, os.path.abspath(build_dir))
    if reason:
        print("Wine tests for %s skipped: %s" % (arch, reason))
        return SKIP
    state["wine"] = wine

    function = CASES[case]
    build_dir = os.path.abspath(build_dir)
    needed = ([os.path.join(build_dir, "tests", "unit", name) for name in UNIT_TESTS]
              if case == "unit_tests" else [os.path.join(build_dir, "hotfx.exe")])
    for exe in needed:
        if not os.path.isfile(exe):
            print("FAIL: %s is missing; build it first: cmake --preset mingw-%s && "
                  "cmake --build --preset mingw-%s" % (exe, arch, arch))
            return 1

    cwd = os.path.join(state_dir, "scratch", "%s-%s" % (arch, case))
    shutil.rmtree(cwd, ignore_errors=True)
    os.makedirs(cwd)
    started = time.monotonic()
    try:
        function(state, build_dir, cwd, Display(state["display"]))
    except Failure as failure:
        print("FAIL (%s %s): %s" % (arch, case, failure))
        return 1
    print("%s %s passed in %.1f s" % (arch, case, time.monotonic() - started))
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "setup":
        return setup(argv[2])
    if len(argv) == 3 and argv[1] == "cleanup":
        return cleanup(argv[2])
    if len(argv) == 6 and argv[1] == "run" and argv[5] in CASES:
        return run(argv[2], argv[3], argv[4], argv[5])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
