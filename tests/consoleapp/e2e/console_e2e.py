#!/usr/bin/python3
"""End-to-end tests of the console program under an X display (a bare Xvfb is enough; the case of a
window manager that frames windows starts an Xvfb of its own with twm).

Each case gets a private simulator bus, registry, home folder, trace, debug log and instance-lock name,
plugs simulated interfaces with devsim, runs StrellisConsole and watches its windows with xdotool and
python3-xlib. Usage: console_e2e.py <console> <devsim> <case>. Exit status 77 = skipped (no display).
"""

import ctypes
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

try:
    from Xlib import X, display, protocol
except ImportError:  # pragma: no cover - the package list installs python3-xlib
    display = None

SKIP = 77

# The deadline of a wait for a condition: only a hang reaches it. No case measures how long anything
# takes: a busy machine may take seconds for what takes milliseconds alone.
HANG = 60.0


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, timeout=HANG, step=0.05):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def repeat_until(act, done, pause=0.5):
    """Acts again and again, a moment apart, until done() holds: a key, click or close that reaches a
    window while it is still starting or taking the focus is lost, as a user's would be. False only on a
    hang."""
    end = time.time() + HANG
    while time.time() < end:
        act()
        if wait_for(done, timeout=pause):
            return True
    return False


def caps_record(vendor, model, inputs, outputs, dsp=0x04080000, arm=0x04080000, input_groups=None):
    """A 260-byte capability record with one analog output group and the given input groups (type,
    channels), by default one analog group of all inputs."""
    groups = input_groups or [(0, inputs)]
    record = bytearray(260)
    struct.pack_into("<IIIII", record, 0, 0, vendor << 8, 0x1000 + model, model, 1)
    record[52:52 + 11] = b"Test record"
    struct.pack_into("<IIIIII", record, 84, 3, outputs, inputs, outputs, inputs, 1)
    struct.pack_into("<BB", record, 108, 0, outputs)
    struct.pack_into("<I", record, 124, len(groups))
    for i, (kind, channels) in enumerate(groups):
        struct.pack_into("<BB", record, 128 + 2 * i, kind, channels)
    struct.pack_into("<IIIIIII", record, 144, 0, 0, 96000, 44100, dsp, arm, outputs)
    return bytes(record)


def meter_word(db):
    return int(2147483647 * 10 ** (db / 20.0))


class Session:
    """One console run's private world."""

    def __init__(self, console, devsim, name):
        self.console = console
        self.devsim_path = devsim
        self.dir = tempfile.mkdtemp(prefix="strellis-e2e-%s-" % name)
        self.home = os.path.join(self.dir, "home")
        os.makedirs(self.home)
        self.trace = os.path.join(self.dir, "trace.txt")
        self.debug = os.path.join(self.dir, "debug.log")
        self.env = dict(os.environ)
        self.env.update({
            "STRELLIS_SIM_DIR": os.path.join(self.dir, "bus"),
            "STRELLIS_REGISTRY": os.path.join(self.dir, "registry"),
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "STRELLIS_TRACE": self.trace,
            "STRELLIS_DEBUG_LOG": self.debug,
            "STRELLIS_CONSOLE_LOCK": "strellis-e2e-%d-%s" % (os.getpid(), name),
        })
        self.env.pop("STRELLIS_WINDOWS", None)
        self.processes = []

    def devsim(self, *args):
        result = subprocess.run([self.devsim_path] + list(args), env=self.env, capture_output=True, text=True)
        check(result.returncode == 0, "devsim %s: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def plug_caps(self, unit, unique_name, record):
        path = os.path.join(self.dir, unit + ".caps")
        with open(path, "wb") as f:
            f.write(record)
        self.devsim("plug", unit, "--caps", path, "--unique-name", unique_name)

    def start(self, *args):
        process = subprocess.Popen([self.console] + list(args), env=self.env)
        self.processes.append(process)
        return process

    def properties_path(self, unique_name):
        return os.path.join(self.home, ".config", "Varnel Strellis Console", unique_name + ".properties")

    def properties(self, unique_name):
        path = self.properties_path(unique_name)
        if not os.path.exists(path):
            return {}
        import xml.etree.ElementTree as ET
        return {v.get("name"): v.get("val") for v in ET.parse(path).getroot().iter("VALUE")}

    def trace_lines(self):
        if not os.path.exists(self.trace):
            return []
        with open(self.trace) as f:
            return [line.split() for line in f]

    def debug_lines(self):
        if not os.path.exists(self.debug):
            return []
        with open(self.debug) as f:
            return [line.rstrip("\n") for line in f]

    def close(self):
        for p in self.processes:
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def windows(title_regex):
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title_regex],
                            capture_output=True, text=True)
    return [int(w) for w in result.stdout.split()]


def window_position(window):
    out = subprocess.run(["xdotool", "getwindowgeometry", str(window)], capture_output=True, text=True).stdout
    for line in out.splitlines():
        line = line.strip()
        if line.startswith("Position:"):
            x, y = line.split()[1].split(",")
            return int(x), int(y)
    return None


def window_size(window):
    out = subprocess.run(["xdotool", "getwindowgeometry", str(window)], capture_output=True, text=True).stdout
    for line in out.splitlines():
        line = line.strip()
        if line.startswith("Geometry:"):
            w, h = line.split()[1].split("x")
            return int(w), int(h)
    return None


def console_windows():
    return windows(" Console$")


def wait_started(s, unit):
    """Waits until the program has finished starting: its polls of the unit begin once its message loop
    runs, after it has begun to listen for plugs and for the end of the session."""
    check(wait_for(lambda: [w for w in s.trace_lines() if w[1:5] == [unit, "VDC", "0", "1"]]),
          "no poll of %s" % unit)


def plug_sentinel(s):
    """Plugs one more interface, of a model without firmware files (so no prompt stands in its way), and
    waits for its window. The program handles the plug after whatever it was doing: once this window is
    open, any window it was going to open before is open too."""
    s.plug_caps("u9", "Sentinel", caps_record(0x3B71, 0x7777, 2, 2))
    check(wait_for(lambda: windows("^Sentinel Console$")), "no window for the interface plugged last")


def send_delete_window(x, window):
    """What a window manager's close button sends: WM_PROTOCOLS with WM_DELETE_WINDOW."""
    w = x.create_resource_object("window", window)
    protocols = x.intern_atom("WM_PROTOCOLS")
    delete = x.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=w, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    w.send_event(event, event_mask=0)
    x.flush()


def vdc_lines(lines, unit=None, category=None, command=None):
    out = []
    for words in lines:
        if len(words) < 5 or words[2] != "VDC":
            continue
        if unit is not None and words[1] != unit:
            continue
        if category is not None and int(words[3]) != category:
            continue
        if command is not None and int(words[4]) != command:
            continue
        out.append(words)
    return out


# --- the cases ---

def case_windows_per_interface(s, x):
    """One window per interface of the vendor, at the cascade positions; none for a foreign vendor."""
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Alpha")
    s.devsim("plug", "u2", "--model", "st4", "--unique-name", "Beta")
    s.devsim("plug", "u3", "--model", "foreign", "--unique-name", "Gamma")
    s.start()
    check(wait_for(lambda: len(console_windows()) == 2), "two console windows expected, got %d" % len(console_windows()))
    screen = x.screen()
    dx, dy = screen.width_in_pixels // 10, screen.height_in_pixels // 10
    # Units enumerate in plug order; the device list keeps the last found first.
    cascade = [(dx, dy), (2 * dx, 2 * dy)]
    positions = lambda: sorted(window_position(w) for w in console_windows())
    check(wait_for(lambda: positions() == cascade), "cascade positions %s, expected %s" % (positions(), cascade))
    plug_sentinel(s)
    check(not windows("^Gamma Console$"), "the foreign interface got a window")
    opened = [l for l in s.debug_lines() if l.startswith("Creating window for ")]
    check(sorted(opened) == ["Creating window for Alpha Console", "Creating window for Beta Console",
                             "Creating window for Sentinel Console"], "windows created: %s" % opened)


def case_second_instance_exits(s, x):
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Alpha")
    first = s.start()
    check(wait_for(lambda: len(console_windows()) == 1), "the first instance opened no window")
    second = s.start()
    try:
        rc = second.wait(timeout=HANG)
    except subprocess.TimeoutExpired:
        raise Failure("the second instance kept running")
    check(rc == 0, "the second instance ended with %d" % rc)
    check(first.poll() is None, "the first instance ended")
    check(len(console_windows()) == 1, "the second instance opened a window")
    check(len(vdc_lines(s.trace_lines(), category=0, command=3)) > 0, "no session read by the first")
    opened = [l for l in s.debug_lines() if l.startswith("Creating window for ")]
    check(len(opened) == 1, "windows created: %s" % opened)


def press_escape(window):
    subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], stderr=subprocess.DEVNULL)
    subprocess.run(["xdotool", "key", "--window", str(window), "Escape"], stderr=subprocess.DEVNULL)


def dismiss_prompt(title):
    prompt = wait_for(lambda: windows("^%s$" % title))
    check(prompt, "no firmware prompt titled %s" % title)
    check(repeat_until(lambda: press_escape(prompt[0]), lambda: not windows("^%s$" % title)),
          "the prompt stayed after Escape")


def case_firmware_prompt_old(s, x):
    """An interface with old firmware is asked about; after the answer it gets no window."""
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Old8", "--firmware", "4.2")
    s.devsim("plug", "u2", "--model", "st4", "--unique-name", "Fresh4")
    process = s.start()
    dismiss_prompt("Old8")
    check(wait_for(lambda: windows("^Fresh4 Console$")), "the up-to-date interface got no window")
    plug_sentinel(s)
    check(not windows("^Old8 Console$"), "the interface with old firmware got a window")
    check(any("Message box [Old8]" in l and "out of date" in l for l in s.debug_lines()), "no prompt line")
    check(process.poll() is None, "the program ended")


def case_firmware_prompt_forced(s, x):
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Forced8")
    process = s.start("-ForceUpdate")
    dismiss_prompt("Forced8")
    plug_sentinel(s)
    check(not windows("^Forced8 Console$"), "a window opened after the forced prompt")
    check(any("Message box [Forced8]" in l for l in s.debug_lines()), "no prompt line")
    check(process.poll() is None, "the program ended without a window (it keeps running in the tray)")


def case_hotplug(s, x):
    """Units plugged and pulled while the program runs: a window each, closed with the unit, and the
    program stays when the last one has gone."""
    s.devsim("plug", "u0", "--model", "st4", "--unique-name", "Early")
    process = s.start()
    wait_started(s, "u0")
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Hot")
    check(wait_for(lambda: windows("^Hot Console$")), "no window after the plug")
    # A window opened at start would be there before the plug's.
    check(len(console_windows()) == 2, "a window without an interface")
    s.devsim("unplug", "u1")
    s.devsim("unplug", "u0")
    check(wait_for(lambda: not console_windows()), "a window stayed after the unplug")
    s.devsim("plug", "u1")
    check(wait_for(lambda: windows("^Hot Console$")), "no window after the plug again")
    check(process.poll() is None, "the program ended when its last interface went away")
    # A removal closes without writing flash.
    check(not vdc_lines(s.trace_lines(), category=1, command=2), "a flash write")


def polls(lines):
    return [i for i, w in enumerate(lines) if w[2:5] == ["VDC", "0", "1"]]


def case_poll_rate_and_identify(s, x):
    """Polls go on while the window is visible (their timer's rate is the application tests' to check),
    each followed by its driver-information request; one Identify per activation."""
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Polled")
    s.start()
    check(wait_for(lambda: windows("^Polled Console$")), "no window")
    # By its tenth poll the window has long been activated.
    check(wait_for(lambda: len(polls(s.trace_lines())) >= 10), "the polls stopped")
    identify = vdc_lines(s.trace_lines(), category=3, command=5)
    check(len(identify) == 1, "%d Identify commands at start, expected 1" % len(identify))
    start = len(s.trace_lines())
    check(wait_for(lambda: len(polls(s.trace_lines()[start:])) >= 20), "the polls stopped")
    lines = s.trace_lines()[start:]
    found = polls(lines)
    infos = [i for i, w in enumerate(lines) if w[2:4] == ["DC", "3"]]
    # Each poll is followed by its driver-information request.
    check(abs(len(found) - len(infos)) <= 1, "%d polls, %d driver-information requests" % (len(found), len(infos)))
    paired = sum(1 for i in found if i + 1 < len(lines) and lines[i + 1][2:4] == ["DC", "3"])
    check(paired >= len(found) - 1, "polls not paired with driver information")


def case_close_writes_flash_then_quits(s, x):
    """The close button: properties saved, window hidden (no polls), changed state written to flash,
    then the program ends with its last window."""
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Closer")
    s.devsim("set", "u1", "flash.busy", "8")
    # A name kept in the properties differs from the stored session: the state has changed.
    folder = os.path.dirname(s.properties_path("Closer"))
    os.makedirs(folder)
    with open(s.properties_path("Closer"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<PROPERTIES>\n'
                '  <VALUE name="input alias 0" val="Vocal"/>\n  <VALUE name="tab" val="2"/>\n</PROPERTIES>\n')
    process = s.start()
    found = wait_for(lambda: windows("^Closer Console$"))
    check(found, "no window")
    # Sent again while the program runs: a close that reaches it while it is still starting is lost, and
    # one that reaches a closing window changes nothing.
    check(repeat_until(lambda: send_delete_window(x, found[0]), lambda: process.poll() is not None),
          "the program kept running after its last window closed")
    rc = process.wait()
    check(rc == 0, "exit status %d" % rc)
    lines = s.trace_lines()
    flash = [i for i, w in enumerate(lines) if w[2:4] == ["VDC", "1"]]
    erases = vdc_lines(lines, category=1, command=0)
    writes = vdc_lines(lines, category=1, command=2)
    check(erases and len(writes) == 54, "%d erases, %d writes (54 expected)" % (len(erases), len(writes)))
    first_flash = min(i for i in flash if lines[i][4] in ("0", "2", "5"))
    later_polls = [w for w in lines[first_flash:] if w[2:5] == ["VDC", "0", "1"]]
    check(not later_polls, "%d polls while the window was hidden" % len(later_polls))
    props = s.properties("Closer")
    check(props.get("tab") == "2" and "x" in props and "y" in props, "properties after close: %s" % props)
    check(props.get("input alias 0") == "Vocal", "the name was not kept")
    check(lines[-1][2] == "CLOSE", "the device was not closed last")


def case_sigterm_saves_properties(s, x):
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Ended")
    process = s.start()
    found = wait_for(lambda: windows("^Ended Console$"))
    check(found, "no window")
    wait_started(s, "u1")
    # The window's place once the program has placed it: the first of the cascade.
    screen = x.screen()
    expected = (screen.width_in_pixels // 10, screen.height_in_pixels // 10)
    check(wait_for(lambda: window_position(found[0]) == expected), "window at %s" % (window_position(found[0]),))
    process.send_signal(signal.SIGTERM)
    try:
        rc = process.wait(timeout=HANG)
    except subprocess.TimeoutExpired:
        raise Failure("SIGTERM did not end the program")
    check(rc == 0, "exit status %d" % rc)
    props = s.properties("Ended")
    check(props.get("x") == str(expected[0]) and props.get("y") == str(expected[1]) and props.get("tab") == "0",
          "properties after SIGTERM: %s (window at %s)" % ({k: props.get(k) for k in ("x", "y", "tab")}, expected))
    check(not vdc_lines(s.trace_lines(), category=1, command=2), "the end of the session wrote flash")


def case_position_restored(s, x):
    """A saved position wins over the cascade, in the same coordinates."""
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Placed")
    folder = os.path.dirname(s.properties_path("Placed"))
    os.makedirs(folder)
    with open(s.properties_path("Placed"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<PROPERTIES>\n'
                '  <VALUE name="x" val="300"/>\n  <VALUE name="y" val="250"/>\n</PROPERTIES>\n')
    process = s.start()
    found = wait_for(lambda: windows("^Placed Console$"))
    check(found, "no window")
    wait_started(s, "u1")
    check(wait_for(lambda: window_position(found[0]) == (300, 250)), "window at %s" % (window_position(found[0]),))
    process.send_signal(signal.SIGTERM)
    process.wait(timeout=HANG)
    props = s.properties("Placed")
    check((props.get("x"), props.get("y")) == ("300", "250"), "saved %s" % props)


def end_with_parent():
    """In a child before it starts its program: it ends with this script, also when a hang ends that."""
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class PrivateDisplay:
    """An X server of the case's own (Xvfb on a free display number) with a window manager that frames
    windows and tells no frame size (twm): it takes the place a window asks for as its frame's."""

    def __init__(self, folder):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1920x1200x24",
                                        "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL,
                                       preexec_fn=end_with_parent)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as f:
            number = f.readline().strip().decode()
        check(number, "the X server did not start")
        self.name = ":" + number
        self.x = display.Display(self.name)
        # The display has the core "fixed" font only; twm's own default fonts would end it. A window that
        # asks for no place is put somewhere at once, not placed by hand while twm holds the server.
        settings = os.path.join(folder, "twmrc")
        with open(settings, "w") as f:
            for font in ("TitleFont", "ResizeFont", "MenuFont", "IconFont", "IconManagerFont"):
                f.write('%s "fixed"\n' % font)
            f.write("RandomPlacement\n")
        self.wm = subprocess.Popen(["twm", "-f", settings], env=dict(os.environ, DISPLAY=self.name, LC_ALL="C"),
                                   stderr=subprocess.DEVNULL, preexec_fn=end_with_parent)
        root = self.x.screen().root
        # Running once it redirects the placement of the root window's children.
        check(wait_for(lambda: root.get_attributes().all_event_masks & X.SubstructureRedirectMask),
              "the window manager did not start")

    def close(self):
        for p in (self.wm, self.server):
            p.terminate()
            p.wait()


def case_position_kept_under_a_framing_window_manager(s, x):
    """Under a window manager that frames windows and tells no frame size, the window reopens where it was
    closed, and a click after a pause (when the framework paints it anew and asks once more for its place)
    leaves it where it is."""
    d = PrivateDisplay(s.dir)
    try:
        os.environ["DISPLAY"] = s.env["DISPLAY"] = d.name
        s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Framed")
        os.makedirs(os.path.dirname(s.properties_path("Framed")))
        with open(s.properties_path("Framed"), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n<PROPERTIES>\n'
                    '  <VALUE name="x" val="300"/>\n  <VALUE name="y" val="250"/>\n</PROPERTIES>\n')
        saved = []
        for round in range(3):
            process = s.start()
            found = wait_for(lambda: windows("^Framed Console$"))
            check(found, "no window")
            wait_started(s, "u1")
            if round == 1:
                time.sleep(4)
                # The second output tab.
                subprocess.run(["xdotool", "mousemove", "--window", str(found[0]), "163", "15", "click", "1"])
            send = lambda: send_delete_window(d.x, found[0])
            check(repeat_until(send, lambda: process.poll() is not None), "the window did not close")
            props = s.properties("Framed")
            saved.append((props.get("x"), props.get("y")))
            if round == 1:
                check(props.get("tab") == "1", "the tab was not clicked: %s" % props)
                check(saved[1] == saved[0], "a click after a pause moved the window from %s to %s" % (saved[0], saved[1]))
        check(saved[0][0] == "300", "saved %s" % saved)
        check(saved[2] == saved[0], "reopened windows saved %s" % saved)
    finally:
        d.close()


def open_chooser(window, key, title):
    """Types the key into the window until its chooser opens (a key typed before the window has the
    focus is lost); returns the chooser's window."""
    def press():
        subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], stderr=subprocess.DEVNULL)
        subprocess.run(["xdotool", "key", "--clearmodifiers", key], stderr=subprocess.DEVNULL)
    check(repeat_until(press, lambda: windows("^%s$" % title), pause=2.0),
          "%s opened no chooser titled %s" % (key, title))
    return windows("^%s$" % title)[0]


def type_into(window, *keys):
    subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], stderr=subprocess.DEVNULL)
    for k in keys:
        if k.startswith("text:"):
            subprocess.run(["xdotool", "type", "--delay", "20", k[5:]], stderr=subprocess.DEVNULL)
        else:
            subprocess.run(["xdotool", "key", "--clearmodifiers", k], stderr=subprocess.DEVNULL)


def case_session_keys(s, x):
    """Ctrl+S and Ctrl+O typed into a console window run its Save and Load: the first save asks for a
    name, later ones write the same file without asking."""
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Keys")
    s.start()
    found = wait_for(lambda: windows("^Keys Console$"))
    check(found, "no window")
    target = os.path.join(s.home, "Documents", "Strellis 8 sessions", "Studio A.Strellis 8 session")

    chooser = open_chooser(found[0], "ctrl+s", "Save settings")

    def enter_name():
        # Keys typed before the chooser is laid out and has the focus are lost: while it is open, the
        # name is typed again over whatever the box holds.
        if not windows("^Save settings$"):
            return
        # The file name box lies across the chooser's foot.
        width, height = window_size(chooser)
        subprocess.run(["xdotool", "mousemove", "--window", str(chooser), str(width // 2), str(height - 62),
                        "click", "1"], stderr=subprocess.DEVNULL)
        type_into(chooser, "ctrl+a", "text:Studio A", "Return")
    check(repeat_until(enter_name, lambda: os.path.exists(target) and os.path.getsize(target) == 13456,
                       pause=3.0),
          "no session file after the first save")
    with open(target, "rb") as f:
        check(f.read(4) == b"omaK", "the file does not start with the magic")

    os.remove(target)
    # The window takes the focus back from the closed chooser in its own time on a busy machine: the key
    # is sent again until a save happens (each later save writes the same file).
    check(repeat_until(lambda: type_into(found[0], "ctrl+s"), lambda: os.path.exists(target), pause=3.0),
          "the second save wrote nothing")
    check(not windows("^Save settings$"), "the second save asked for a name")

    chooser = open_chooser(found[0], "ctrl+o", "Load settings")
    # A busy machine may map the chooser before it takes the keyboard focus; Escape is sent again
    # until it closes.
    check(repeat_until(lambda: type_into(chooser, "Escape"), lambda: not windows("^Load settings$"), pause=3.0),
          "the load chooser stayed")
    check(not [l for l in s.debug_lines() if "Console settings" in l], "an alert: %s" % s.debug_lines()[-5:])


def case_screenshot(s, x):
    """Runs a window for an interface with its meters showing levels and saves a picture of it (docs);
    also checks that it draws. 16 inputs are 8 analog and 8 ADAT."""
    inputs = int(os.environ.get("SHOT_INPUTS", "8"))
    groups = [(0, 8), (2, inputs - 8)] if inputs > 8 else [(0, inputs)]
    s.plug_caps("u1", "Strellis %d" % inputs, caps_record(0x3B71, 0x7777, inputs, 8, input_groups=groups))
    process = s.start()
    found = wait_for(lambda: windows("^Strellis %d Console$" % inputs))
    check(found, "no window")
    # Levels as a live mix would show them; each poll shows them, and the window repaints between polls.
    for i in range(inputs):
        s.devsim("set", "u1", "meter.in.%d" % i, str(meter_word(-4 - (i * 7) % 30)))
    for o in range(8):
        s.devsim("set", "u1", "meter.out.%d" % o, str(meter_word(-2 - (o * 5) % 20)))
    start = len(s.trace_lines())
    check(wait_for(lambda: len(polls(s.trace_lines()[start:])) >= 5), "the polls stopped")
    out = os.environ.get("SHOT_FILE", os.path.join(s.dir, "shot.png"))
    subprocess.run(["import", "-window", str(found[0]), out], check=True)
    check(os.path.getsize(out) > 1000, "empty screenshot")
    process.send_signal(signal.SIGTERM)
    process.wait(timeout=HANG)


def click(window, x, y):
    subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y), "click", "1"], check=True)


def case_solo_click(s, x):
    """Real mouse clicks on the window: the tab of outputs 5-6, then the solo of input 3 (counted from
    0), which reaches the device as MonitorMix SetSolo with input 3, mix 4, value 2."""
    s.devsim("plug", "u1", "--model", "d8", "--unique-name", "Clicked")
    process = s.start()
    found = wait_for(lambda: windows("^Clicked Console$"))
    check(found, "no window")

    def tab_then_solo():
        # 16 inputs of 54 pixels and the two 108- and 113-pixel sections: 1085 wide; 8 output tabs of
        # (1085 - 86) / 8 = 124 pixels from x 3, in a bar 30 high.
        click(found[0], 3 + 2 * 124 + 62, 15)
        # Input 3's strip starts at x 3 x 54 below the 30-pixel bar and the 41-pixel header; its solo
        # button is at (7, 140), 46 x 19, in the strip.
        click(found[0], 3 * 54 + 7 + 23, 30 + 41 + 140 + 9)

    # Clicked again should the first clicks reach the window while it is still starting (the tab click
    # changes nothing the second time; the solo's first send is what counts).
    solo = lambda: [w for w in vdc_lines(s.trace_lines(), category=8, command=4) if w[6:9] == ["3", "4", "2"]]
    check(repeat_until(tab_then_solo, solo, pause=2.0),
          "no MonitorMix SetSolo (3, 4, 2) in the trace: %s" % vdc_lines(s.trace_lines(), category=8))
    # The tab switch went before the solo: whatever it sent would be in the trace before the solos.
    mixer = vdc_lines(s.trace_lines(), category=8)
    check(mixer[0][4] == "4", "the tab switch talked to the device: %s" % mixer)


def case_about_dialog(s, x):
    """The settings page's About button opens the About window over the console window; Escape closes it
    and the console polls on. With SHOT_FILE set, a picture of the dialog is saved there (docs)."""
    s.devsim("plug", "u1", "--model", "st8", "--unique-name", "Strellis 8")
    folder = os.path.dirname(s.properties_path("Strellis 8"))
    os.makedirs(folder)
    with open(s.properties_path("Strellis 8"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<PROPERTIES>\n  <VALUE name="tab" val="-1"/>\n</PROPERTIES>\n')
    process = s.start()
    found = wait_for(lambda: windows("^Strellis 8 Console$"))
    check(found, "no window")
    # The About button lies centred at the foot of the settings page, which starts below the tab bar.
    about_button = lambda: subprocess.run(["xdotool", "mousemove", "--window", str(found[0]), "380", "505",
                                           "click", "1"], stderr=subprocess.DEVNULL)
    check(repeat_until(about_button, lambda: windows("^Varnel$"), pause=2.0), "no About window after clicking About")
    about = windows("^Varnel$")
    check(window_size(about[0]) == (530, 260), "About window of %s" % (window_size(about[0]),))
    out = os.environ.get("SHOT_FILE")
    if out:
        time.sleep(0.5)  # for the picture only: the dialog's first paint
        subprocess.run(["import", "-window", str(about[0]), out], check=True)
    check(repeat_until(lambda: press_escape(about[0]), lambda: not windows("^Varnel$")),
          "the About window stayed after Escape")
    start = len(s.trace_lines())
    check(wait_for(lambda: len(polls(s.trace_lines()[start:])) >= 5), "no polls after the About window closed")
    check(process.poll() is None, "the program ended")


CASES = {name[5:]: f for name, f in globals().items() if name.startswith("case_")}


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in CASES:
        print("usage: console_e2e.py <console> <devsim> <case>; cases: %s" % " ".join(sorted(CASES)))
        return 2
    if not os.environ.get("DISPLAY") or display is None:
        print("skipped: needs a display (run under xvfb-run) and python3-xlib")
        return SKIP
    x = display.Display()
    # A bare virtual display has no window manager: make the atoms one would have made, and keep this
    # connection open so the server does not forget them.
    for name in ("WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE", "WM_STATE",
                 "_NET_WM_PING", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_WM_WINDOW_TYPE"):
        x.intern_atom(name)
    x.flush()
    session = Session(sys.argv[1], sys.argv[2], sys.argv[3])
    try:
        CASES[sys.argv[3]](session, x)
    except Failure as failure:
        print("FAILED: %s" % failure)
        print("debug log:\n  " + "\n  ".join(session.debug_lines()[-30:]))
        return 1
    finally:
        session.close()
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
