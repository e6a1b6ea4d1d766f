"""The application as an operator meets it: a script opens in the window, the
page draws it, OSC GOs reach the run file, the monitor opens from its key, a
second launch hands its script over, and SIGTERM ends the process cleanly."""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

PROGRAM, BUILD = sys.argv[1], sys.argv[2]
FIRST_PAGE = "first page shown"
log = []  # the running program's standard error, line by line
env = dict(os.environ)


def fail(message):
    print("app.smoke: FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def must(value, message):
    """Fails with the program's log unless `value` holds."""
    if not value:
        fail(message + ":\n" + "\n".join(log))
    return value


def read_json(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def wait_for(predicate, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return predicate()


def web_processes(pid):
    """The WebKit web processes below `pid`."""
    listing = subprocess.run(["ps", "-e", "-o", "pid=,ppid=,comm="], capture_output=True, text=True).stdout
    rows = [(int(p), int(parent), name) for p, parent, name in (line.split(None, 2) for line in listing.splitlines())]
    parents = {p: parent for p, parent, _ in rows}

    def below(p):
        return p in parents and (parents[p] == pid or below(parents[p]))
    return [p for p, _, name in rows if name.startswith("WebKitWebProces") and below(p)]


def xdo(*args):
    """xdotool on the test's display; its output as words."""
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True).stdout.split()


def launch(arguments):
    del log[:]
    process = subprocess.Popen([PROGRAM] + arguments, env=env, stderr=subprocess.PIPE, text=True, errors="replace")
    threading.Thread(target=lambda: log.extend(line.rstrip("\n") for line in process.stderr), daemon=True).start()
    return process


def count(text):
    return sum(1 for line in log if text in line)


def terminate(process, what):
    process.send_signal(signal.SIGTERM)
    try:
        status = process.wait(timeout=2)
    except subprocess.TimeoutExpired:
        fail("no exit within 2 s of SIGTERM (%s)" % what)
    must(status == 0, "exit status %d after SIGTERM (%s)" % (status, what))


def hand_over(arguments, what):
    """A second launch, which hands its script to the running one and ends."""
    shown = count(FIRST_PAGE)
    second = subprocess.run([PROGRAM] + arguments, env=env, capture_output=True, text=True, timeout=15)
    must(second.returncode == 0, "the %s ended with %d: %s" % (what, second.returncode, second.stderr))
    must(wait_for(lambda: count(FIRST_PAGE) > shown, 60), "the script of the %s was not shown" % what)


def main(root):
    started = time.monotonic()
    for name, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                      ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "runtime")):
        env[name] = os.path.join(root, sub)
        os.makedirs(env[name], mode=0o700)
    demo = os.path.join(root, "demo")
    subprocess.run([PROGRAM, "--make-demo", demo], env=env, check=True, stdout=subprocess.DEVNULL)
    pdf = os.path.join(demo, must(sorted(f for f in os.listdir(demo) if f.lower().endswith(".pdf")),
                                  "--make-demo wrote no PDF")[0])
    run_file = os.path.splitext(pdf)[0] + ".tallowmark-run"
    cues = sorted(read_json(os.path.splitext(pdf)[0] + ".tallowmark")["cues"],
                  key=lambda c: (c.get("page", 0), c.get("y", 0.5), c.get("x", 0.5)))
    must(len(cues) >= 6, "the demo has fewer than six cues")

    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "TALLOWMARK"))
    with open(os.path.join(env["XDG_CONFIG_HOME"], "TALLOWMARK", "settings.json"), "w") as f:
        # A GO guard longer than the default, so that two quick GOs are surely
        # inside it however slowly this machine starts oscsend.
        json.dump({"oscEnabled": True, "oscPort": port, "oscLocalOnly": True, "goGuardMs": 1000}, f)

    process = launch(["--open", pdf])
    try:
        must(wait_for(lambda: count(FIRST_PAGE) >= 1 or process.poll() is not None, 60),
             "no '%s' line within 60 s" % FIRST_PAGE)
        must(process.poll() is None, "the program ended early (%s)" % process.returncode)
        print("app.smoke: page ready after %.1f s" % (time.monotonic() - started))

        def osc_go():
            subprocess.run(["oscsend", "localhost", str(port), "/go"], check=True)

        for _ in range(3):
            osc_go()
            time.sleep(1.1)

        def run_with(fired):
            return lambda: (run := read_json(run_file)) and len(run.get("fired", [])) == fired and run
        run = must(wait_for(run_with(3), 10), "the run file does not show three fired cues")
        must(set(run["fired"]) == {c["id"] for c in cues[:3]}, "the fired cues are not the first three")
        must(run["standbyID"] == cues[3]["id"], "standby is not on the fourth cue")
        # Two GOs in quick succession: the GO guard lets the first one through only.
        osc_go()
        osc_go()
        must(wait_for(run_with(4), 10), "the first of two quick GOs did not fire")
        time.sleep(1.2)
        must(run_with(4)(), "the second of two quick GOs was not held back by the GO guard")

        # A crashed page process comes back by itself, with the script and its run.
        web = must(web_processes(process.pid), "no web process below the program")
        shown = count(FIRST_PAGE)
        os.kill(web[0], signal.SIGKILL)
        must(wait_for(lambda: count(FIRST_PAGE) > shown, 30), "the page did not come back after its process ended")

        time.sleep(1)
        shot = os.path.join(BUILD, "app-smoke.png")
        subprocess.run(["import", "-window", "root", shot], env=env, check=True)
        # A web view whose renderer cannot start draws one flat colour; the script's pages are not.
        spread = subprocess.run(["convert", shot, "-crop", "1000x500+100+200", "-colorspace", "Gray",
                                 "-format", "%[fx:standard_deviation]", "info:"],
                                capture_output=True, text=True, check=True).stdout
        must(float(spread) >= 0.08, "the window shows no drawn pages (grey spread %s); see %s" % (spread, shot))

        # Return and Backspace reach the page (no menu key takes them): GO, then BACK.
        xdo("mousemove", "600", "400")
        xdo("key", "Return")
        must(wait_for(run_with(5), 10), "Return in the page did not fire the fifth cue")
        xdo("key", "BackSpace")
        must(wait_for(run_with(4), 10), "Backspace in the page did not take the fifth cue back")
        # A held Return is one GO, however long it is held (longer than the guard).
        time.sleep(1.1)
        xdo("keydown", "Return")
        time.sleep(1.6)
        xdo("keyup", "Return")
        must(wait_for(run_with(5), 10), "a held Return did not fire")
        time.sleep(0.5)
        must(run_with(5)(), "a held Return fired more than once")

        # RESET from the keyboard: the chord asks, the same chord again confirms.
        xdo("key", "--clearmodifiers", "ctrl+shift+r")
        time.sleep(0.8)
        must(os.path.exists(run_file), "one Ctrl+Shift+R reset the run without asking")
        xdo("key", "--clearmodifiers", "ctrl+shift+r")
        must(wait_for(lambda: not os.path.exists(run_file), 10), "Ctrl+Shift+R again did not reset the run")

        main_window = must(xdo("search", "--name", "^TALLOWMARK$"), "no main window titled TALLOWMARK")
        # Without a window manager the key goes to the window under the pointer: the main window.
        xdo("windowfocus", main_window[0])
        xdo("key", "--clearmodifiers", "ctrl+shift+m")
        must(wait_for(lambda: xdo("search", "--name", "Console"), 10), "Ctrl+Shift+M opened no Console window")

        # As a file manager starts it: the file as a plain operand.
        other = os.path.join(root, "Second script.pdf")
        shutil.copyfile(pdf, other)
        hand_over([other], "second launch")
        must(process.poll() is None, "the first instance ended when the second started")
        must(not count("navigointi estetty"), "the guard refused the page's own navigation")
        terminate(process, "script open")

        # Without a script the program shows its picker; a script handed over opens in the window.
        process = launch([])
        must(wait_for(lambda: xdo("search", "--name", "^TALLOWMARK$") or process.poll() is not None, 30)
             and process.poll() is None, "no startup picker")
        hand_over(["--open", pdf], "launch that hands over to the picker")
        terminate(process, "after the picker")
        print("app.smoke: passed in %.1f s" % (time.monotonic() - started))
    finally:
        if process.poll() is None:
            process.kill()


scratch = tempfile.mkdtemp(prefix="tallowmark-app-")
try:
    main(scratch)
finally:
    shutil.rmtree(scratch, ignore_errors=True)
