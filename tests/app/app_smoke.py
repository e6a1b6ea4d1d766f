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


def fail(message):
    print("app.smoke: FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, seconds, step=0.1):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def descendants(pid):
    """(pid, name) of every process below `pid`, from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        parent = int(stat[stat.rindex(")") + 2:].split()[1])
        children.setdefault(parent, []).append((int(entry), name))
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child[0])
    return found


def in_script_order(cue):
    return (cue.get("page", 0), cue.get("y", 0.5), cue.get("x", 0.5))


def main():
    started = time.monotonic()
    root = tempfile.mkdtemp(prefix="tallowmark-app-")
    env = dict(os.environ)
    for name, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                      ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "runtime")):
        env[name] = os.path.join(root, sub)
        os.makedirs(env[name], mode=0o700)
    process = None
    try:
        demo = os.path.join(root, "demo")
        subprocess.run([PROGRAM, "--make-demo", demo], env=env, check=True, stdout=subprocess.DEVNULL)
        pdfs = sorted(f for f in os.listdir(demo) if f.lower().endswith(".pdf"))
        if not pdfs:
            fail("--make-demo wrote no PDF")
        pdf = os.path.join(demo, pdfs[0])
        sidecar = os.path.splitext(pdf)[0] + ".tallowmark"
        run_file = os.path.splitext(pdf)[0] + ".tallowmark-run"
        with open(sidecar, encoding="utf-8") as f:
            cues = sorted(json.load(f)["cues"], key=in_script_order)
        if len(cues) < 6:
            fail("the demo has fewer than six cues")

        port = free_udp_port()
        os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "TALLOWMARK"))
        with open(os.path.join(env["XDG_CONFIG_HOME"], "TALLOWMARK", "settings.json"), "w") as f:
            # A GO guard longer than the default, so that two quick GOs are
            # surely inside it however slowly this machine starts oscsend.
            json.dump({"oscEnabled": True, "oscPort": port, "oscLocalOnly": True, "goGuardMs": 1000}, f)

        log = []

        def xdo(*args, check=True):
            """xdotool on the test's display; its output as words."""
            return subprocess.run(["xdotool", *args], env=env, check=check, capture_output=True,
                                  text=True).stdout.split()

        def launch(arguments):
            del log[:]
            started_process = subprocess.Popen([PROGRAM] + arguments, env=env, stderr=subprocess.PIPE, text=True,
                                               errors="replace")

            def read():
                for line in started_process.stderr:
                    log.append(line.rstrip("\n"))
            threading.Thread(target=read, daemon=True).start()
            return started_process

        def count(text):
            return sum(1 for line in log if text in line)

        def terminate(what):
            process.send_signal(signal.SIGTERM)
            try:
                status = process.wait(timeout=2)
            except subprocess.TimeoutExpired:
                fail("no exit within 2 s of SIGTERM (%s)" % what)
            if status != 0:
                fail("exit status %d after SIGTERM (%s):\n%s" % (status, what, "\n".join(log)))

        process = launch(["--open", pdf])

        if not wait_for(lambda: count(FIRST_PAGE) >= 1 or process.poll() is not None, 60):
            fail("no '%s' line within 60 s:\n%s" % (FIRST_PAGE, "\n".join(log)))
        if process.poll() is not None:
            fail("the program ended early (%s):\n%s" % (process.returncode, "\n".join(log)))
        print("app.smoke: page ready after %.1f s" % (time.monotonic() - started))

        def osc_go():
            subprocess.run(["oscsend", "localhost", str(port), "/go"], check=True)

        for _ in range(3):
            osc_go()
            time.sleep(1.1)

        def run_with(fired):
            def check():
                try:
                    with open(run_file, encoding="utf-8") as f:
                        run = json.load(f)
                except (OSError, ValueError):
                    return None
                return run if len(run.get("fired", [])) == fired else None
            return check
        run = wait_for(run_with(3), 10)
        if not run:
            fail("the run file does not show three fired cues:\n" + "\n".join(log))
        if set(run["fired"]) != {c["id"] for c in cues[:3]}:
            fail("the fired cues are not the first three")
        if run["standbyID"] != cues[3]["id"]:
            fail("standby is not on the fourth cue")

        # Two GOs in quick succession: the guard lets the first one through only.
        osc_go()
        osc_go()
        if not wait_for(run_with(4), 10):
            fail("the first of two quick GOs did not fire")
        time.sleep(1.2)
        if not run_with(4)():
            fail("the second of two quick GOs was not held back by the GO guard")

        # The page shows the GOs once their state event has been drawn.
        # A crashed page process comes back by itself, with the script and its run.
        web = [pid for pid, name in descendants(process.pid) if name.startswith("WebKitWebProces")]
        if not web:
            fail("no web process below the program")
        shown = count(FIRST_PAGE)
        os.kill(web[0], signal.SIGKILL)
        if not wait_for(lambda: count(FIRST_PAGE) > shown, 30):
            fail("the page did not come back after its process ended:\n" + "\n".join(log))

        time.sleep(1)
        shot = os.path.join(BUILD, "app-smoke.png")
        subprocess.run(["import", "-window", "root", shot], env=env, check=True)
        print("app.smoke: screenshot " + shot)
        # A web view that runs the page but draws nothing (a renderer that
        # cannot start) is one flat colour; the script's pages are not.
        spread = subprocess.run(["convert", shot, "-crop", "1000x500+100+200", "-colorspace", "Gray",
                                 "-format", "%[fx:standard_deviation]", "info:"],
                                capture_output=True, text=True, check=True).stdout
        if float(spread) < 0.08:
            fail("the window shows no drawn pages (grey spread %s); see %s" % (spread, shot))

        # Return and Backspace reach the page (no menu key takes them): GO, then BACK.
        xdo("mousemove", "600", "400")
        xdo("key", "Return")
        if not wait_for(run_with(5), 10):
            fail("Return in the page did not fire the fifth cue")
        xdo("key", "BackSpace")
        if not wait_for(run_with(4), 10):
            fail("Backspace in the page did not take the fifth cue back")
        # A held Return is one GO, however long it is held (longer than the guard).
        time.sleep(1.1)
        xdo("keydown", "Return")
        time.sleep(1.6)
        xdo("keyup", "Return")
        if not wait_for(run_with(5), 10):
            fail("a held Return did not fire")
        time.sleep(0.5)
        if not run_with(5)():
            fail("a held Return fired more than once")

        # RESET from the keyboard: the chord asks, the same chord again confirms.
        xdo("key", "--clearmodifiers", "ctrl+shift+r")
        time.sleep(0.8)
        if not os.path.exists(run_file):
            fail("one Ctrl+Shift+R reset the run without asking")
        xdo("key", "--clearmodifiers", "ctrl+shift+r")
        if not wait_for(lambda: not os.path.exists(run_file), 10):
            fail("Ctrl+Shift+R again did not reset the run")

        main_window = xdo("search", "--name", "^TALLOWMARK$", check=False)
        if not main_window:
            fail("no main window titled TALLOWMARK")
        # Without a window manager the focus request may be refused; the key then
        # goes to the window under the pointer, which is the main window.
        xdo("windowfocus", main_window[0], check=False)
        xdo("key", "--clearmodifiers", "ctrl+shift+m")
        if not wait_for(lambda: xdo("search", "--name", "Console", check=False), 10):
            fail("Ctrl+Shift+M opened no Console window")

        other = os.path.join(root, "Second script.pdf")
        shutil.copyfile(pdf, other)
        shown = count(FIRST_PAGE)
        # As a file manager starts it: the file as a plain operand.
        second = subprocess.run([PROGRAM, other], env=env, capture_output=True, text=True, timeout=15)
        if second.returncode != 0:
            fail("the second launch ended with %d:\n%s" % (second.returncode, second.stderr))
        if process.poll() is not None:
            fail("the first instance ended when the second started")
        if not wait_for(lambda: count(FIRST_PAGE) > shown, 30):
            fail("the first instance did not show the handed-over script:\n" + "\n".join(log))

        blocked = [line for line in log if "navigointi estetty" in line]
        if blocked:
            fail("the guard refused the page's own navigation:\n" + "\n".join(blocked))
        terminate("script open")

        # Started without a script the program shows its picker; a script
        # handed over meanwhile ends the picker and opens in the window.
        process = launch([])
        if not wait_for(lambda: xdo("search", "--name", "^TALLOWMARK$", check=False) or process.poll() is not None,
                        30) or process.poll() is not None:
            fail("no startup picker:\n" + "\n".join(log))
        handed = subprocess.run([PROGRAM, "--open", pdf], env=env, capture_output=True, text=True, timeout=15)
        if handed.returncode != 0:
            fail("the launch that hands over to the picker ended with %d" % handed.returncode)
        if not wait_for(lambda: count(FIRST_PAGE) >= 1, 60):
            fail("the script handed to the picker was not shown:\n" + "\n".join(log))
        terminate("after the picker")
        print("app.smoke: passed in %.1f s" % (time.monotonic() - started))
    finally:
        if process and process.poll() is None:
            process.kill()
        shutil.rmtree(root, ignore_errors=True)


main()
