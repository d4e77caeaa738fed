#!/usr/bin/env python3
"""Prints the table of bench/run.sh from its rows file, then the targets.

  report.py ROWS_TSV

Each row: workload, tool, median seconds (or "timeout:N" / "failed..."),
peak resident set in KiB, input bytes, output verdict, mean CPU seconds
(user + system; a check on the wall times when the machine is busy).  The first rplc row of
a workload is the base of that workload's "peer / rplc" ratios.
"""
import sys


def load(path):
    rows = []
    for line in open(path):
        if line.strip():
            wl, tool, med, rss, size, verdict, cpu = line.rstrip("\n").split("\t")
            try:
                m = float(med)
            except ValueError:
                m = None
            rows.append(dict(wl=wl, tool=tool, med=med, m=m, rss=int(rss or 0),
                             size=int(size or 0), verdict=verdict,
                             cpu=float(cpu) if cpu else None))
    return rows


def table(rows):
    base = {}
    print("| workload | tool | median | peer ÷ rplc | cpu | peak memory | × input | output |")
    print("|---|---|---:|---:|---:|---:|---:|---|")
    for r in rows:
        if r["m"] is not None:
            shown = "%.3f s" % r["m"]
        elif r["med"].startswith("timeout:"):
            shown = "> %s s" % r["med"].split(":")[1]
        else:
            shown = r["med"]
        if r["tool"].startswith("rplc") and r["wl"] not in base:
            base[r["wl"]] = r["m"]
            ratio = ""
        else:
            b = base.get(r["wl"])
            ratio = "%.2f" % (r["m"] / b) if r["m"] is not None and b else ""
        # A run that was given up says nothing about the peak.
        timed_out = r["med"].startswith("timeout:")
        mult = r["rss"] * 1024 / r["size"] if r["size"] else 0
        memory = ("%.0f MB" % (r["rss"] / 1024), "%.2f" % mult) if not timed_out else ("", "")
        cpu = "%.3f s" % r["cpu"] if r["cpu"] is not None else ""
        print("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
            r["wl"], r["tool"].replace("|", "\\|"), shown, ratio, cpu,
            memory[0], memory[1], r["verdict"]))


def targets(rows):
    """The speed and memory to reach, each as measured / needed."""
    def find(wl, prefix):
        for r in rows:
            if r["wl"] == wl and r["tool"].startswith(prefix):
                return r
        return None

    def ratio(wl, peer, need, what, me_tool="rplc"):
        me, other = find(wl, me_tool), find(wl, peer)
        if not me or not other:
            return
        if me["m"] is None or other["m"] is None:
            ok, got = False, "n/a"
        else:
            got = other["m"] / me["m"]
            ok, got = need is None or got >= need, "%.2f" % got
            if me["cpu"] and other["cpu"]:
                got += " (by CPU time %.2f)" % (other["cpu"] / me["cpu"])
        if need is None:
            out.append((True, "%s: %s ÷ %s = %s (for comparison)" % (wl, peer, me_tool, got)))
        else:
            out.append((ok, "%s: %s ÷ %s = %s (need ≥ %.3g)" % (wl, peer, me_tool, got, need)))

    def memory(wl, limit, what):
        me = find(wl, "rplc")
        if not me or not me["size"]:
            return
        if me["m"] is None:
            out.append((False, "%s: rplc peak memory unknown, the run did not finish (need ≤ %s, %s)"
                        % (wl, limit, what)))
            return
        got = me["rss"] * 1024 / me["size"]
        out.append((got <= limit, "%s: rplc peak memory %.2f × input (need ≤ %s, %s)"
                    % (wl, got, limit, what)))

    def native(r):  # the build host's rplc, not the Windows build under wine
        return r["tool"].startswith("rplc") and not r["tool"].startswith("rplc.exe")

    def peak(wl, limit_mb, what):
        me = find(wl, "rplc")
        if not me or me["m"] is None:
            return
        got = me["rss"] / 1024
        out.append((got <= limit_mb, "%s: rplc peak memory %.1f MB (need ≤ %s MB, %s)"
                    % (wl, got, limit_mb, what)))

    out = []
    ratio("W1", "cat", 1 / 1.3, "within 1.3x of cat")
    for peer in ("sed", "perl", "sd", "rg"):
        ratio("W1", peer, 3, "3x ahead")
    ratio("W1b", "rg", 1.5, "")
    for r in rows:
        if r["wl"].startswith("W2") and not r["wl"].endswith("-noexp") and native(r):
            if find(r["wl"], "rplc.exe"):
                ratio(r["wl"], "sd", None, "", "rplc.exe")
            # The fallback row runs on the Tcl engine: it has no peer target.
            if r["wl"] == "W2 fallback (Tcl)":
                continue
            skip = r["wl"] in ("W2 literal start", "W2 line anchor")
            ratio(r["wl"], "sd", 2 if skip else 1, "")
            ratio(r["wl"], "sed -E", 1.5, "")
    # W3 at every tree size the run measured ("W3", or "W3 N files").
    for wl in dict.fromkeys(r["wl"] for r in rows):
        if wl == "W3" or (wl.startswith("W3 ") and wl.endswith(" files")):
            ratio(wl, "rg -l0", 1.5, "")
            ratio(wl, "find -exec sed", 10, "")
            ratio(wl, "rg -l0", None, "", "rplc -s, one processor")
            ratio(wl, "find -exec sed", None, "", "rplc -s, one processor")
            ratio(wl, "read floor", None, "")
            # How far the pipeline is above the floor: below 1.5, the target
            # over the pipeline asks for less than reading the files costs.
            ratio(wl, "rg -l0", None, "", "read floor (list, 4 calls a file)")
            ratio(wl, "rg -l0", None, "", "read floor, no status call")
            ratio(wl, "rg -l0", None, "", "read floor, io_uring")
    ratio("W3 names", "rplc '*.txt'", 1 / 1.5, "names within 1.5x of the wildcard")
    ratio("W4", "sd", 2.5, "")
    for wl in ("W1", "W1b", "W1 -noexp", "W4"):
        peak(wl, 16, "streamed literal, any input size")
    for r in rows:
        if r["wl"].startswith("W2") and native(r):
            memory(r["wl"], 4.5, "regular expression")
    if out:
        print()
        print("Targets:")
        for ok, text in out:
            print("  %s %s" % ("ok  " if ok else "MISS", text))


def main(argv):
    rows = load(argv[1])
    table(rows)
    targets(rows)


if __name__ == "__main__":
    main(sys.argv)
