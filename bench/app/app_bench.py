"""GO to the screen in the window the operator uses: the program with
TALLOWMARK_TRACE=1 writes "painted run STANDBY FIRED" once the frame showing
each run change is drawn; this script sends GOs as a desk and a keyboard do and
times them to that line. Started by bench/app/run (Xvfb, session bus)."""

import argparse
import hashlib
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

PAINTED = re.compile(r"painted run (\S+) (\d+)$")
PAINTED_PAGE = re.compile(r"painted page (\d+)$")
PAINTED_REPORT = re.compile(r"painted report (\d+)$")
FIRST_PAGE = "first page shown"


def parse_arguments():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--build", default="build", help="build folder (default build)")
    p.add_argument("--sizes", default="100,1000,5000", help="cue counts, comma-separated")
    p.add_argument("--open-sizes", default="10000", help="extra cue counts timed only to the first page")
    p.add_argument("--pages", type=int, default=500, help="pages of the script (default 500)")
    p.add_argument("--samples", type=int, default=100, help="GOs timed one by one, per input (default 100)")
    p.add_argument("--gos", type=int, default=10000, help="GOs between the two memory readings (default 10000)")
    p.add_argument("--burst", type=int, default=2000, help="GOs in the burst (default 2000)")
    p.add_argument("--burst-gap", type=float, default=0.025, help="seconds between burst GOs (default 0.025)")
    p.add_argument("--turns", type=int, default=0,
                   help="page turns timed per kind: Page Down (next spread drawn ahead) and a desk's /page "
                        "to a page not seen yet (default 0: none)")
    p.add_argument("--turns-only", action="store_true", help="time the page turns and nothing else")
    p.add_argument("--report", type=int, default=0,
                   help="Show Report opened this many times after a six-hour day of 20,000 GOs is on record, "
                        "timed from the menu's Return to the sheet drawn")
    p.add_argument("--json", help="write every sample to this file")
    return p.parse_args()


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def descendants(pid):
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


def rss_mb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        pass
    return 0.0


def percentile(values, p):
    if not values:
        return float("nan")
    ordered = sorted(values)
    k = min(len(ordered) - 1, max(0, int(round(p / 100.0 * (len(ordered) - 1)))))
    return ordered[k]


def write_marks(path, cues, pages):
    """Cues on the producer's text lines (40 a page, 17 pt apart from 72 pt on an
    842 pt page), spread evenly through the script, in script order."""
    records, on_page, per_page = [], {}, {}
    for i in range(cues):
        per_page[i * pages // cues] = per_page.get(i * pages // cues, 0) + 1
    for i in range(cues):
        page = i * pages // cues
        k = on_page.get(page, 0)
        on_page[page] = k + 1
        line = min(39, 2 + k * max(1, 37 // per_page[page]))
        records.append({"id": "C%05d" % (i + 1), "number": str(i + 1), "label": "Cue %d: lights shift" % (i + 1),
                        "kind": ["LX", "SFX", "FLY"][i % 3], "page": page, "x": 0.12,
                        "y": (72 + line * 17) / 842.0, "w": 0.3, "h": 0.016})
    records.sort(key=lambda c: (c["page"], c["y"], c["x"]))
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"version": 1, "documentName": os.path.basename(os.path.splitext(path)[0]) + ".pdf",
                   "cues": records}, f)
    return [c["id"] for c in records]


class Program:
    def __init__(self, binary, env, pdf):
        self.lines = []
        self.painted = []  # (arrival time, standby, fired)
        self.pages = []  # (arrival time, page index) of "painted page" lines
        self.reports = []  # arrival times of "painted report" lines
        self.cond = threading.Condition()
        self.process = subprocess.Popen([binary, "--open", pdf], env=env, stderr=subprocess.PIPE, text=True,
                                        errors="replace")
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stderr:
            now = time.monotonic()
            line = line.rstrip("\n")
            with self.cond:
                self.lines.append(line)
                m = PAINTED.search(line) if "monitor painted" not in line else None
                if m:
                    self.painted.append((now, m.group(1), int(m.group(2))))
                if PAINTED_REPORT.search(line):
                    self.reports.append(now)
                p = PAINTED_PAGE.search(line)
                if p and "monitor" not in line:
                    self.pages.append((now, int(p.group(1))))
                self.cond.notify_all()

    def wait(self, predicate, seconds):
        end = time.monotonic() + seconds
        with self.cond:
            while True:
                value = predicate()
                if value or self.process.poll() is not None:
                    return value
                left = end - time.monotonic()
                if left <= 0:
                    return value
                self.cond.wait(left)

    def painted_after(self, start, standby, fired):
        """Arrival time of the first painted line at or after index `start` showing this run."""
        for at, s, n in self.painted[start:]:
            if s == standby and n == fired:
                return at
        return None

    def rss(self):
        web = [pid for pid, name in descendants(self.process.pid) if name.startswith("WebKitWebProces")]
        return rss_mb(self.process.pid), sum(rss_mb(pid) for pid in web)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()


class Show:
    """The engine's run as the benchmark drives it: GO through the cues, RESET at the end."""

    def __init__(self, ids):
        self.ids = ids
        self.fired = 0

    def after_go(self):
        self.fired += 1
        standby = self.ids[self.fired] if self.fired < len(self.ids) else "-"
        return standby, self.fired

    def needs_reset(self):
        return self.fired >= len(self.ids)

    def after_reset(self):
        self.fired = 0
        return self.ids[0], 0


def main():
    args = parse_arguments()
    build = os.path.abspath(args.build)
    binary = os.path.join(build, "tallowmark")
    producer = os.path.join(build, "tests", "page_host", "tallowmark_page_script")
    for tool in (binary, producer):
        if not os.access(tool, os.X_OK):
            sys.exit("app bench: %s is missing; build the targets tallowmark, tallowmark_page and "
                     "tallowmark_page_script first" % tool)
    root = tempfile.mkdtemp(prefix="tallowmark-appbench-")
    results = {"load": os.getloadavg(), "sizes": {}}
    try:
        script = os.path.join(root, "script.pdf")
        subprocess.run([producer, str(args.pages), script], check=True)
        sizes = [int(s) for s in args.sizes.split(",") if s]
        open_sizes = [int(s) for s in args.open_sizes.split(",") if s]
        for cues in sizes + [n for n in open_sizes if n not in sizes]:
            results["sizes"][cues] = run_size(args, binary, root, script, cues, timed=cues in sizes)
        report(results)
        if args.json:
            with open(args.json, "w") as f:
                json.dump(results, f, indent=1)
    finally:
        shutil.rmtree(root, ignore_errors=True)


def run_size(args, binary, root, script, cues, timed):
    folder = os.path.join(root, "show-%d" % cues)
    home = os.path.join(folder, "home")
    env = dict(os.environ)
    for name, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                      ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "runtime")):
        env[name] = os.path.join(folder, sub)
        os.makedirs(env[name], mode=0o700)
    env["TALLOWMARK_TRACE"] = "1"
    pdf = os.path.join(folder, "Show.pdf")
    shutil.copyfile(script, pdf)
    ids = write_marks(os.path.join(folder, "Show.tallowmark"), cues, args.pages)
    port = free_udp_port()
    os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "TALLOWMARK"))
    with open(os.path.join(env["XDG_CONFIG_HOME"], "TALLOWMARK", "settings.json"), "w") as f:
        json.dump({"oscEnabled": True, "oscPort": port, "oscLocalOnly": True}, f)
    del home
    if args.report > 0:
        write_report_day(pdf, env["XDG_DATA_HOME"], ids)

    out = {}
    started = time.monotonic()
    program = Program(binary, env, pdf)
    try:
        if not program.wait(lambda: any(FIRST_PAGE in l for l in program.lines), 120):
            raise SystemExit("app bench: no first page with %d cues:\n%s" % (cues, "\n".join(program.lines[-30:])))
        out["firstPageS"] = time.monotonic() - started
        print("%d cues: first page after %.2f s" % (cues, out["firstPageS"]), flush=True)
        if not timed:
            return out
        time.sleep(1.5)
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        if args.turns > 0:
            out["turns"] = timed_turns(args, program, env, sock, port)
            out["xdotoolMs"] = out["turns"]["xdotoolMs"]
        if args.report > 0:
            out["report"] = timed_report(args, program, env)
            out["xdotoolMs"] = out["report"]["xdotoolMs"]
        if args.turns_only or args.report > 0:
            return out
        go = b"/go\x00,\x00\x00\x00"
        reset = b"/reset\x00\x00,\x00\x00\x00"
        show = Show(ids)

        def send(datagram):
            sock.sendto(datagram, ("127.0.0.1", port))

        def timed_go(fire):
            if show.needs_reset():
                mark = len(program.painted)
                send(reset)
                standby, fired = show.after_reset()
                program.wait(lambda: program.painted_after(mark, standby, fired), 5)
                time.sleep(0.2)
            mark = len(program.painted)
            t0 = time.monotonic()
            fire()
            standby, fired = show.after_go()
            at = program.wait(lambda: program.painted_after(mark, standby, fired), 5)
            return (at - t0) * 1000 if at else None

        # One GO at a time, from a desk and from the keyboard.
        osc = [timed_go(lambda: send(go)) for _ in range(args.samples) if not time.sleep(0.05)]
        window = subprocess.run(["xdotool", "search", "--name", "^TALLOWMARK$"], env=env, capture_output=True,
                                text=True).stdout.split()
        subprocess.run(["xdotool", "mousemove", "700", "450"], env=env, check=False)
        if window:
            subprocess.run(["xdotool", "windowfocus", window[0]], env=env, check=False, stderr=subprocess.DEVNULL)
        spawn = []
        for _ in range(5):
            t = time.monotonic()
            subprocess.run(["xdotool", "sleep", "0"], env=env, check=False)
            spawn.append((time.monotonic() - t) * 1000)
        keys = [timed_go(lambda: subprocess.run(["xdotool", "key", "Return"], env=env, check=False))
                for _ in range(args.samples) if not time.sleep(0.05)]
        out["osc"] = osc
        out["key"] = keys
        out["xdotoolMs"] = statistics.median(spawn)

        # Memory over a long run: GOs as fast as a desk may send them, RESET at the end of the cues.
        time.sleep(2)
        out["rssBefore"] = program.rss()
        sent = 0
        while sent < args.gos:
            if show.needs_reset():
                send(reset)
                show.after_reset()
            send(go)
            show.after_go()
            sent += 1
            if sent == args.gos // 2:
                # The first half warms what is bounded (page images of the pages the show
                # passes); growth in the second half is what a longer show would add.
                out["rssHalf"] = program.rss()
            time.sleep(0.022)  # under the hub's 50 a second from one host
        standby = show.ids[show.fired] if show.fired < len(ids) else "-"
        program.wait(lambda: program.painted_after(0, standby, show.fired), 10)
        time.sleep(3)
        out["rssAfter"] = program.rss()

        # A burst: how long after the last GO the screen shows where the show is.
        send(reset)
        show.after_reset()
        time.sleep(1)
        first = len(program.painted)
        for _ in range(args.burst):
            if show.needs_reset():
                send(reset)
                show.after_reset()
            # The same standby and count recur once the burst wraps round the cues:
            # only a line painted after the last GO counts.
            mark = len(program.painted)
            send(go)
            last = time.monotonic()
            show.after_go()
            time.sleep(args.burst_gap)
        standby = show.ids[show.fired] if show.fired < len(ids) else "-"
        at = program.wait(lambda: program.painted_after(mark, standby, show.fired), 30)
        out["burstCurrentMs"] = (at - last) * 1000 if at else None
        out["burstPainted"] = len(program.painted) - first
        lost = [line for line in program.lines if "yli " in line and "komentoa/s" in line]
        out["rateRefusals"] = len(lost)
        return out
    finally:
        program.stop()


def page_datagram(page):
    """/page with one int32 argument (1-based page), as a desk sends it."""
    return b"/page\x00\x00\x00,i\x00\x00" + page.to_bytes(4, "big", signed=True)


def timed_turns(args, program, env, sock, port):
    """Key (or datagram) to the "painted page" line: Page Down after the reader has
    rested (the next spread drawn ahead), and jumps by /page to pages not seen yet."""
    window = subprocess.run(["xdotool", "search", "--name", "^TALLOWMARK$"], env=env, capture_output=True,
                            text=True).stdout.split()
    subprocess.run(["xdotool", "mousemove", "700", "450"], env=env, check=False)
    if window:
        subprocess.run(["xdotool", "windowfocus", window[0]], env=env, check=False, stderr=subprocess.DEVNULL)

    def painted_after(mark, page=None):
        for at, p in program.pages[mark:]:
            if page is None or p == page:
                return at
        return None

    spawn = []
    for _ in range(5):
        t = time.monotonic()
        subprocess.run(["xdotool", "sleep", "0"], env=env, check=False)
        spawn.append((time.monotonic() - t) * 1000)
    keys, jumps = [], []
    for _ in range(args.turns):
        time.sleep(1.0)  # reading time: what is drawn ahead is drawn now
        mark = len(program.pages)
        t0 = time.monotonic()
        subprocess.run(["xdotool", "key", "Next"], env=env, check=False)
        at = program.wait(lambda: painted_after(mark), 5)
        keys.append((at - t0) * 1000 if at else None)
    # Far apart and forwards, so no jump lands on a page drawn before.
    for i in range(args.turns):
        page = 60 + (i * 37) % max(args.pages - 80, 1)
        time.sleep(0.5)
        mark = len(program.pages)
        t0 = time.monotonic()
        sock.sendto(page_datagram(page + 1), ("127.0.0.1", port))
        at = program.wait(lambda: painted_after(mark, page), 5)
        jumps.append((at - t0) * 1000 if at else None)
    return {"key": keys, "jump": jumps, "xdotoolMs": statistics.median(spawn)}


def write_report_day(pdf, data_home, ids):
    """The show report of a six-hour day: four performances of 5,000 GOs each, as
    the program writes it (its file name: the script's stem and a digest of its path)."""
    real = os.path.realpath(pdf)
    stem = os.path.splitext(os.path.basename(real))[0][:60]
    folder = os.path.join(data_home, "TALLOWMARK", "reports")
    os.makedirs(folder, exist_ok=True)
    name = "%s-%s.report" % (stem, hashlib.sha256(real.encode()).hexdigest()[:16])
    start_ms = int(time.time() * 1000) - 6 * 3600 * 1000
    step_ms = 6 * 3600 * 1000 // 20000
    with open(os.path.join(folder, name), "w") as f:
        for i in range(20000):
            t = start_ms + i * step_ms
            if i % 5000 == 0:
                f.write(json.dumps({"k": "reset", "t": t, "m": t * 1000, "p": "day", "s": "key"}) + "\n")
            f.write(json.dumps({"k": "go", "t": t, "m": t * 1000, "p": "day", "s": "osc 127.0.0.1",
                                "n": str(i % len(ids) + 1), "l": "Cue %d: lights shift" % (i % len(ids) + 1),
                                "y": "LX"}) + "\n")


def timed_report(args, program, env):
    """Show > Show Report... from the keyboard, to the "painted report" line; Escape between."""
    spawn = []
    for _ in range(5):
        t = time.monotonic()
        subprocess.run(["xdotool", "sleep", "0"], env=env, check=False)
        spawn.append((time.monotonic() - t) * 1000)
    times = []
    for _ in range(args.report):
        # The menu bar, its fifth menu, and that menu's last item.
        for key in ["F10", "Right", "Right", "Right", "Right", "Up"]:
            subprocess.run(["xdotool", "key", key], env=env, check=False)
            time.sleep(0.2)
        mark = len(program.reports)
        t0 = time.monotonic()
        subprocess.run(["xdotool", "key", "Return"], env=env, check=False)
        at = program.wait(lambda: program.reports[mark] if len(program.reports) > mark else None, 10)
        times.append((at - t0) * 1000 if at else None)
        time.sleep(0.5)
        subprocess.run(["xdotool", "key", "Escape"], env=env, check=False)
        time.sleep(0.5)
    return {"times": times, "xdotoolMs": statistics.median(spawn)}


def report(results):
    print("\nload average at start: %.2f %.2f %.2f" % tuple(results["load"]))
    print("%8s %10s %18s %18s %18s %27s %10s" % ("cues", "first page", "OSC p50/p95 ms", "key p50/p95 ms",
                                                "program RSS MB", "web RSS MB (mid-run)", "burst ms"))
    for cues, r in sorted(results["sizes"].items()):
        if "report" in r:
            got = [v for v in r["report"]["times"] if v is not None]
            print("%8d Show Report after 20,000 GOs, Return to painted: median %6.1f ms, max %6.1f ms, "
                  "%d of %d shown" % (cues, statistics.median(got) if got else float("nan"),
                                      max(got) if got else float("nan"), len(got), len(r["report"]["times"])))
        if "turns" in r:
            for kind, label in (("key", "Page Down, drawn ahead"), ("jump", "/page to an unseen page")):
                got = [v for v in r["turns"][kind] if v is not None]
                print("%8d page turn %-24s to painted: median %6.1f ms, p95 %6.1f ms, %d of %d painted" % (
                    cues, label, statistics.median(got) if got else float("nan"), percentile(got, 95), len(got),
                    len(r["turns"][kind])))
        if "osc" not in r:
            print("%8d %9.2fs" % (cues, r["firstPageS"]))
            continue
        osc = [v for v in r["osc"] if v is not None]
        key = [v for v in r["key"] if v is not None]
        print("%8d %9.2fs %8.1f / %6.1f %8.1f / %6.1f %7.0f -> %7.0f %7.0f -> (%5.0f) %7.0f %10s" % (
            cues, r["firstPageS"], statistics.median(osc) if osc else float("nan"), percentile(osc, 95),
            statistics.median(key) if key else float("nan"), percentile(key, 95),
            r["rssBefore"][0], r["rssAfter"][0], r["rssBefore"][1], r["rssHalf"][1], r["rssAfter"][1],
            "%.0f" % r["burstCurrentMs"] if r["burstCurrentMs"] is not None else "never"))
        missing = len(r["osc"]) - len(osc) + len(r["key"]) - len(key)
        if missing:
            print("         %d GOs never painted within 5 s" % missing)
        if r["rateRefusals"]:
            print("         the hub refused GOs over its rate %d times" % r["rateRefusals"])
    print("key times include starting xdotool (median %.1f ms)" %
          statistics.median([r["xdotoolMs"] for r in results["sizes"].values() if "xdotoolMs" in r] or [0]))


main()
