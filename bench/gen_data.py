#!/usr/bin/env python3
"""Deterministic benchmark data for bench/run.sh.

  gen_data.py log SIZE_BYTES OUT_FILE [--mixed]
      A log-like text of about SIZE_BYTES bytes: one event per line with a
      time stamp, host, process and a message.  Every line carries digits;
      the word "session" occurs about once per line; "alpha"/"beta" followed
      by a lower-case word and "user=<name>" occur in a part of the lines.
      With --mixed, one message in four also ends in a clause with filler
      words ("lorem", "dolor", in any case) or a price ("total 12.50"); the
      other messages and the choice of lines stay the same.

  gen_data.py tree FILE_COUNT OUT_DIR LITERAL
      FILE_COUNT small source-like files (0.2-4 KB) in nested folders
      OUT_DIR/pNN/mNN/... of which about 1 % contain LITERAL one to three
      times.  Prints the relative paths of those files, one a line.

The same arguments always give the same bytes (fixed seeds, no clock).
"""
import os
import random
import sys

WORDS = ("cache disk queue route token index batch frame shard table "
         "stream buffer socket kernel parser schema record ledger "
         "worker signal bucket filter cursor vector").split()
NAMES = ("alice bob carol dave erin frank grace heidi ivan judy mallory "
         "niaj olivia peggy rupert sybil trent victor walter").split()
HOSTS = ["web-%02d" % i for i in range(12)]
SERVICES = ["api", "auth", "billing", "search", "worker", "gateway"]
LEVELS = ["INFO"] * 8 + ["DEBUG"] * 4 + ["WARN"] * 2 + ["ERROR"]


def message(rng):
    """One random message body; "session" occurs about once on average."""
    w = lambda: rng.choice(WORDS)
    n = lambda: rng.randrange(1, 100000)
    d = lambda: rng.randrange(0, 10)
    h = lambda: "%08x" % rng.getrandbits(32)
    u = lambda: rng.choice(NAMES)
    k = rng.randrange(8)
    if k == 0:
        return (f"GET /api/v{d()}/items/{n()} session={h()} user={u()} "
                f"status=200 bytes={n()} took={d()}{d()}ms")
    if k == 1:
        return f"job {n()} of alpha {w()} finished in {n()} ms, session {h()} closed"
    if k == 2:
        return f"cache miss for key {w()}:{n()} on beta {w()} shard {d()}"
    if k == 3:
        return (f"session {h()} renewed for user={u()} after {n()} s; "
                f"previous session {h()} expired")
    if k == 4:
        return f"retrying {w()} request {n()}/{d()} (beta {w()}), backoff {n()} ms"
    if k == 5:
        return f"user={u()} opened session {h()} from 10.{d()}.{n() % 256}.{n() % 256}"
    if k == 6:
        return f"flushed {n()} records to alpha {w()} in {n()} ms, session pool {d()}"
    return f"POST /v{d()}/{w()}/{w()} session={h()} status=201 took={n()}us"


FILLER = ["lorem", "Lorem", "dolor", "DOLOR", "ipsum", "amet"]
PRICED = ["total", "price", "fee", "net", "tax"]


def clause(rng):
    """A trailing clause of filler words or with a price."""
    if rng.randrange(2):
        return " (%s %s %s)" % (rng.choice(FILLER), rng.choice(WORDS), rng.choice(FILLER))
    return " %s %d.%02d" % (rng.choice(PRICED), rng.randrange(1, 1000), rng.randrange(100))


def gen_log(size, out, mixed=False):
    rng = random.Random(20261208)
    # A pool of message bodies keeps generation fast; the time stamp and the
    # prefix make every line different.
    pool = [message(rng) for _ in range(65536)]
    if mixed:
        # A separate generator, so that everything else stays as without it.
        extra = random.Random(1208)
        pool = [m + clause(extra) if extra.randrange(4) == 0 else m for m in pool]
    prefixes = ["%s %s[%d]: %s " % (rng.choice(HOSTS), rng.choice(SERVICES),
                                    rng.randrange(100, 30000), rng.choice(LEVELS))
                for _ in range(4096)]
    written = 0
    ms = 0
    with open(out, "w", encoding="ascii", newline="\n") as f:
        while written < size:
            idx = [rng.getrandbits(16) for _ in range(8192)]
            lines = []
            for i in idx:
                ms += 1 + (i & 63)
                s, milli = divmod(ms, 1000)
                m, s = divmod(s, 60)
                hh, m = divmod(m, 60)
                lines.append("2026-12-%02dT%02d:%02d:%02d.%03dZ %s%s\n" % (
                    8 + hh // 24, hh % 24, m, s, milli,
                    prefixes[i & 4095], pool[i]))
            chunk = "".join(lines)
            f.write(chunk)
            written += len(chunk)


SOURCE_LINES = [
    "#include \"{w}/{w}_{w}.h\"",
    "static int {w}_{w}(struct {w} *p, int n)",
    "{{",
    "    for (int i = 0; i < n; ++i) p->{w}[i] = {n};",
    "    return {w}_flush(p, {n});",
    "}}",
    "/* {w} the {w} before the {w} is ready */",
    "    if (p->{w} == NULL) goto fail_{w};",
    "    {w}_{w}(&p->{w}, \"{w}-{n}\");",
    "",
]


def source_line(rng):
    line = rng.choice(SOURCE_LINES)
    while "{w}" in line or "{n}" in line:
        line = line.replace("{w}", rng.choice(WORDS), 1)
        line = line.replace("{n}", str(rng.randrange(0, 5000)), 1)
    return line.replace("{{", "{").replace("}}", "}")


def gen_tree(count, root, literal):
    rng = random.Random(7)
    pool = [source_line(rng) for _ in range(4096)]
    per_leaf = 50
    leaves = max(1, (count + per_leaf - 1) // per_leaf)
    tops = max(1, int(leaves ** 0.5))
    with_literal = []
    made = 0
    for leaf in range(leaves):
        # Files sit in the two upper levels as well as in the leaves.
        parts = ["p%02d" % (leaf % tops), "m%03d" % (leaf // tops)]
        depth = leaf % 3
        folder = os.path.join(root, *parts[:depth]) if depth else root
        folder = os.path.join(folder, "leaf%04d" % leaf)
        os.makedirs(folder, exist_ok=True)
        for i in range(per_leaf):
            if made == count:
                break
            made += 1
            lines = [rng.choice(pool) for _ in range(rng.randrange(5, 100))]
            if rng.randrange(100) == 0:
                for _ in range(rng.randrange(1, 4)):
                    at = rng.randrange(len(lines))
                    lines[at] = "    %s(p, %d);" % (literal, rng.randrange(99))
            name = os.path.join(folder, "%s_%d.c" % (rng.choice(WORDS), i))
            text = "\n".join(lines) + "\n"
            with open(name, "w", encoding="ascii", newline="\n") as f:
                f.write(text)
            if literal in text:
                with_literal.append(os.path.relpath(name, root))
    sys.stdout.write("".join(p + "\n" for p in with_literal))


def main(argv):
    if len(argv) in (4, 5) and argv[1] == "log" and argv[4:] in ([], ["--mixed"]):
        gen_log(int(argv[2]), argv[3], len(argv) == 5)
    elif len(argv) == 5 and argv[1] == "tree":
        gen_tree(int(argv[2]), argv[3], argv[4])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
