#!/usr/bin/env python3
"""Whole runs of the program on large sample hosts, timed step by step.

For each host size N and busy-day size M: mkhost builds the host and a
matching pushsim scenario (M cases with movements, hearings and notices), the
real program runs on a fresh copy of the host (VuzaZoz -CONSOLE -AUTOSTART
-URL ...), once with the lookups through the tables' maps and once with the
walking lookups (CAU_WALKING_LOOKUPS=1). Step times come from the step
caption that the terminal front end draws on its standard error, read through
a pseudo-terminal as it arrives; peak memory from the child's rusage. A raw
read of PROCESSO.DBF's bytes is timed beside each host, and scan_bench (when
built) times the scans alone on it.
"""

import argparse
import os
import platform
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

STEPS = [
    ("login", None),
    ("scope + scans", "1/5"),
    ("registration", "2/5"),
    ("import", "3/5"),
    ("unregistration", "4/5"),
    ("notices", "5/5"),
]
CAPTION = re.compile(rb"\r\x1b\[K(\S*) ")


def build_host(bindir, work, n, m):
    host = os.path.join(work, f"host-{n}-{m}")
    scenario = os.path.join(work, f"scenario-{n}-{m}.json")
    if not os.path.exists(os.path.join(host, "dados", "PROCESSO.DBF")):
        shutil.rmtree(host, ignore_errors=True)
        t0 = time.monotonic()
        subprocess.run([os.path.join(bindir, "mkhost"), host, "--cases", str(n),
                        "--courts", "40", "--scenario", scenario, "--busy", str(m)],
                       check=True, stdout=subprocess.DEVNULL)
        print(f"  mkhost N={n} M={m}: {time.monotonic() - t0:.1f} s", flush=True)
    return host, scenario


def raw_read(path):
    t0 = time.monotonic()
    with open(path, "rb", buffering=0) as f:
        while f.read(1 << 20):
            pass
    return time.monotonic() - t0


def start_pushsim(bindir, root, scenario, work):
    out = open(os.path.join(work, "pushsim.out"), "w+")
    sim = subprocess.Popen([os.path.join(bindir, "pushsim"), "--port", "0", "--scenario", scenario,
                            "--wsdl", os.path.join(root, "docs", "PushService.wsdl")],
                           stdout=out, stderr=subprocess.STDOUT)
    for _ in range(300):
        out.seek(0)
        found = re.search(r"^port (\d+)", out.read(), re.M)
        if found:
            return sim, int(found.group(1))
        if sim.poll() is not None:
            break
        time.sleep(0.1)
    sim.kill()
    out.seek(0)
    raise RuntimeError("pushsim did not start: " + out.read())


def run_program(bindir, root, host, scenario, work, walking, limit, register=True):
    copy = os.path.join(work, "run")
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(host, copy)
    shutil.copy(os.path.join(bindir, "VuzaZoz"), copy)
    sim, port = start_pushsim(bindir, root, scenario, work)
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env["CAU_WALKING_LOOKUPS"] = "1" if walking else "0"
    master, slave = pty.openpty()
    log = open(os.path.join(work, "run.out"), "wb")
    t0 = time.monotonic()
    # Without -AUTOSTART the terminal run still starts, and its question
    # before the registration is answered No (standard input is no terminal).
    child = subprocess.Popen(
        ["./VuzaZoz", "-CONSOLE"] + (["-AUTOSTART"] if register else []) +
        ["-URL", f"http://127.0.0.1:{port}/PushServer/services/PushService"],
        cwd=copy, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    marks = {}  # caption -> first time seen
    pending = b""
    streams = [child.stdout.fileno(), master]
    timed_out = False
    while streams:
        if time.monotonic() - t0 > limit:
            timed_out = True
            child.send_signal(signal.SIGINT)
            limit += 60
        ready, _, _ = select.select(streams, [], [], 1.0)
        for fd in ready:
            try:
                data = os.read(fd, 65536)
            except OSError:
                data = b""
            if not data:
                streams.remove(fd)
                continue
            now = time.monotonic() - t0
            if fd == master:
                pending += data
                for caption in CAPTION.findall(pending):
                    marks.setdefault(caption.decode(errors="replace"), now)
                pending = pending[-64:]
            else:
                log.write(data)
    _, status, usage = os.wait4(child.pid, 0)
    end = time.monotonic() - t0
    child.returncode = os.waitstatus_to_exitcode(status)
    os.close(master)
    log.close()
    sim.terminate()
    sim.wait()
    times = {}
    starts = [(name, 0.0 if cap is None else marks.get(cap)) for name, cap in STEPS]
    for i, (name, start) in enumerate(starts):
        if start is None:
            continue
        later = [s for _, s in starts[i + 1:] if s is not None]
        times[name] = (later[0] if later else end) - start
    return {
        "times": times,
        "total": end,
        "rss_mib": usage.ru_maxrss / 1024.0,
        "status": child.returncode,
        "timed_out": timed_out,
    }


def fmt(seconds):
    return "-" if seconds is None else f"{seconds:.2f}"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.abspath(os.path.join(here, "..", ".."))
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build", default=os.path.join(root, "build"), help="build folder")
    p.add_argument("--work", default=None, help="where hosts are kept (reused between runs)")
    p.add_argument("--sizes", default="10000,100000", help="host sizes N")
    p.add_argument("--busy", default="1000,10000", help="cases with movements M")
    p.add_argument("--large", action="store_true", help="also N = 1 000 000")
    p.add_argument("--walk", default="100000",
                   help="largest N that also runs with the walking lookups (0: never)")
    p.add_argument("--limit", type=float, default=1800, help="seconds before a run is stopped")
    p.add_argument("--decline-registration", action="store_true",
                   help="run without -AUTOSTART, so the registration step is declined")
    args = p.parse_args()

    bindir = os.path.join(args.build, "bin")
    for tool in ("mkhost", "pushsim", "VuzaZoz"):
        if not os.access(os.path.join(bindir, tool), os.X_OK):
            sys.exit(f"bench: {tool} not built in {bindir}")
    sizes = [int(x) for x in args.sizes.split(",") if x]
    if args.large and 1000000 not in sizes:
        sizes.append(1000000)
    busy = [int(x) for x in args.busy.split(",") if x]
    work = args.work or os.path.join(args.build, "bench-run")
    os.makedirs(work, exist_ok=True)

    print(f"# {platform.node()} {platform.machine()}, {os.cpu_count()} cores, "
          f"{time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, load "
          f"{' '.join(f'{x:.1f}' for x in os.getloadavg())}"
          f"{', registration declined' if args.decline_registration else ''}", flush=True)
    rows = []
    for n in sizes:
        for m in busy:
            host, scenario = build_host(bindir, work, n, m)
            dbf = os.path.join(host, "dados", "PROCESSO.DBF")
            raw = min(raw_read(dbf) for _ in range(3))
            size_mib = os.path.getsize(dbf) / (1 << 20)
            scan_bench = os.path.join(bindir, "scan_bench")
            if os.access(scan_bench, os.X_OK):
                out = subprocess.run([scan_bench, host], capture_output=True, text=True)
                for line in (out.stdout + out.stderr).splitlines():
                    print(f"  N={n} M={m} scans: {line}", flush=True)
            modes = [False] + ([True] if n <= int(args.walk) else [])
            for walking in modes:
                r = run_program(bindir, root, host, scenario, work, walking, args.limit,
                                not args.decline_registration)
                r.update(n=n, m=m, walking=walking, raw=raw, dbf_mib=size_mib)
                rows.append(r)
                t = r["times"]
                print(f"  N={n} M={m} {'walk' if walking else 'map '} total {r['total']:.2f} s, "
                      f"exit {r['status']}{' (stopped)' if r['timed_out'] else ''}, "
                      f"load {os.getloadavg()[0]:.1f}", flush=True)

    head = ["N", "M", "lookups"] + [name for name, _ in STEPS] + [
        "total s", "scan rec/s", "import cases/s", "peak MiB", "DBF MiB", "raw read s"]
    print()
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for r in rows:
        t = r["times"]
        scan = t.get("scope + scans")
        imp = t.get("import")
        cells = [str(r["n"]), str(r["m"]), "walk" if r["walking"] else "map"]
        cells += [fmt(t.get(name)) for name, _ in STEPS]
        cells += [fmt(r["total"]) + ("*" if r["timed_out"] or r["status"] else ""),
                  f"{r['n'] / scan:,.0f}" if scan else "-",
                  f"{r['m'] / imp:,.0f}" if imp else "-",
                  f"{r['rss_mib']:.0f}", f"{r['dbf_mib']:.0f}", f"{r['raw']:.3f}"]
        print("| " + " | ".join(cells) + " |")
    print("\nTimes in seconds; * = the run ended with a non-zero status or was stopped.")

    # The ratios, where the runs needed for them were made.
    def pick(n, m, walking):
        for r in rows:
            if r["n"] == n and r["m"] == m and r["walking"] == walking:
                return r
        return None

    print("\nRatios:")
    small, big = pick(10000, 10000, False), pick(max(sizes), 10000, False)
    if small and big and big is not small:
        a, b = small["times"].get("import"), big["times"].get("import")
        if a and b:
            print(f"  import M=10000: N={max(sizes)} / N=10000 = {b / a:.2f}  (goal <= 1.5)")
    fast, slow = pick(100000, 10000, False), pick(100000, 10000, True)
    if fast and slow:
        print(f"  whole run N=100000 M=10000: walk / map = {slow['total'] / fast['total']:.1f}"
              "  (goal >= 50)")
    for r in rows:
        if r["walking"]:
            continue
        scan = r["times"].get("scope + scans")
        if scan and r["raw"] > 0:
            print(f"  scans N={r['n']} M={r['m']}: scope step / raw read = "
                  f"{scan / r['raw']:.1f}  (goal <= 3 at N=1000000)")
        limit = 1.5 * r["dbf_mib"] + 100
        print(f"  peak memory N={r['n']} M={r['m']}: {r['rss_mib']:.0f} MiB, "
              f"1.5 x DBF + 100 MiB = {limit:.0f} MiB")


if __name__ == "__main__":
    main()
