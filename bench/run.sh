#!/usr/bin/env bash
# Benchmarks rplc against the tools people use instead (sed, perl, sd,
# ripgrep, rpl) on generated data, and prints one table.
#
#   bench/run.sh [--small] [--tree-files N[,N...]] [W1|W2|W3|W4 ...]
#
#   --small   a tenth of the default sizes (quick check)
#   --tree-files N[,N...]
#             W3's tree sizes in files (default 20000, 2000 with --small);
#             every size is measured in the same run, the peers that take
#             minutes (sd, rpl, perl, find -exec sed) at the first only
#   W1..W4    run only these workloads (default: all; W1 and W2 include
#             their -noexp rows)
#
# Environment:
#   TMPDIR        where the data is generated (default /dev/shm, a RAM disk);
#                 TMPDIR=/var/tmp bench/run.sh measures on the ordinary disk
#   RPLC          an rplc binary to measure instead of building build-bench/rplc
#   RPLC_EXE      the Windows rplc.exe (./build.sh windows) to measure under
#                 wine beside it in W2, with wine's start-up as a row of its own
#   NOEXP_LIMIT   seconds after which one -noexp run is given up (default 30,
#                 15 with --small)
#
# Installs missing tools from Debian with apt-get (as root, or with sudo).
# The data is generated fresh into a temporary folder and removed at exit.
# Exit status 0 when every compared output agrees with rplc's, 1 otherwise.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

small=0
only=()
tree_sizes=""
next_is_sizes=0
for a in "$@"; do
  if ((next_is_sizes)); then
    tree_sizes=$a next_is_sizes=0
    continue
  fi
  case "$a" in
    --small) small=1 ;;
    --tree-files) next_is_sizes=1 ;;
    --tree-files=*) tree_sizes=${a#--tree-files=} ;;
    W1|W2|W3|W4) only+=("$a") ;;
    -h|--help) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown argument: $a (try --help)" >&2; exit 2 ;;
  esac
done
if ((next_is_sizes)) || ! [[ "${tree_sizes:-1}" =~ ^[0-9]+(,[0-9]+)*$ ]]; then
  echo "--tree-files needs a file count or a comma-separated list of them" >&2
  exit 2
fi
wanted() {
  ((${#only[@]} == 0)) && return 0
  local w
  for w in "${only[@]}"; do [ "$w" = "$1" ] && return 0; done
  return 1
}

if ((small)); then
  log_size=20000000; regex_size=2000000; tree_files=2000; noexp_limit=${NOEXP_LIMIT:-15}
else
  log_size=200000000; regex_size=20000000; tree_files=20000; noexp_limit=${NOEXP_LIMIT:-30}
fi
IFS=, read -r -a tree_sizes <<<"${tree_sizes:-$tree_files}"

# --- tools -------------------------------------------------------------------
need=()
want_cmd() { command -v "$1" >/dev/null 2>&1 || need+=("$2"); }
want_cmd hyperfine hyperfine
want_cmd sed sed
want_cmd perl perl
want_cmd sd sd
want_cmd rg ripgrep
want_cmd rpl rpl
want_cmd python3 python3
want_cmd find findutils
want_cmd grep grep
want_cmd cmp diffutils
[ -x /usr/bin/time ] || need+=(time)
if [ -z "${RPLC:-}" ]; then
  want_cmd cmake cmake
  want_cmd g++ g++
  want_cmd make make
  for p in tcl8.6-dev libpcre2-dev pkg-config; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
  done
fi
if ((${#need[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${need[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

# --- rplc --------------------------------------------------------------------
if [ -z "${RPLC:-}" ]; then
  build="$root/build-bench"
  echo "building rplc (Release) in $build" >&2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRPLC_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target rplc >/dev/null
  RPLC="$build/rplc"
fi
RPLC=$(cd "$(dirname "$RPLC")" && pwd)/$(basename "$RPLC")
if [ "$(printf 'teh\n' | "$RPLC" -f:teh -t:the 2>/dev/null)" != "the" ]; then
  echo "$RPLC does not filter standard input yet; nothing to measure" >&2
  exit 2
fi

# The Windows build under wine: one wine server kept for the whole run, so
# that only the process start-up is paid per run (the "wine start-up" row).
if [ -n "${RPLC_EXE:-}" ]; then
  RPLC_EXE=$(cd "$(dirname "$RPLC_EXE")" && pwd)/$(basename "$RPLC_EXE")
  export WINEPREFIX="${WINEPREFIX:-$(dirname "$RPLC_EXE")/wine}" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  wineserver -p 600 </dev/null >/dev/null 2>&1 || true
fi

# --- data --------------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/dev/shm}/rplc-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
rows="$work/rows.tsv"
floor="$work/read_floor"
g++ -O2 -pthread -o "$floor" "$here/read_floor.cpp" 2>/dev/null || floor=""
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
: >"$rows"
failed=0

gen() { python3 "$here/gen_data.py" "$@"; }
size_of() { stat -c %s "$1"; }
tree_digest() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum | md5sum | cut -d' ' -f1); }

# run_one WORKLOAD TOOL INPUT_BYTES CHECK LIMIT CMD [PREPARE]
#   Runs CMD once under /usr/bin/time for its peak memory and its result, then
#   times it with hyperfine (PREPARE before every run, output to /dev/null).
#   CHECK: "stdout" compares the standard output, "file:PATH" the file PATH,
#   "tree:DIR" every file under DIR, "none" compares nothing.  The first row of
#   a workload is rplc's and sets the expected result of the others.
run_one() {
  local wl=$1 tool=$2 bytes=$3 check=$4 limit=$5 cmd=$6 prep=${7:-}
  local out="$work/out" tf="$work/time.txt" json="$work/$(date +%s%N).json"
  local digest="" verdict="-" median="" cpu="" status=0
  [ -n "$prep" ] && sh -c "$prep"
  /usr/bin/time -v -o "$tf" timeout "$limit" sh -c "$cmd" >"$out" 2>"$work/err" || status=$?
  local rss_kb
  rss_kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$tf")
  if ((status == 124)); then
    median="timeout:$limit"
  elif ((status != 0)) && ! grep -q '^rg ' <<<"$tool"; then
    median="failed:$status"
    echo "  $tool exited with $status: $(head -c 300 "$work/err")" >&2
  fi
  case "$check" in
    stdout) digest=$(md5sum <"$out" | cut -d' ' -f1) ;;
    file:*) digest=$(md5sum <"${check#file:}" | cut -d' ' -f1) ;;
    tree:*) digest=$(tree_digest "${check#tree:}") ;;
  esac
  rm -f "$out"
  if [ "$check" != none ] && [ -z "$median" ]; then
    if [ -z "${expected[$wl]:-}" ]; then
      expected[$wl]=$digest
      verdict="reference"
    elif [ "${expected[$wl]}" = "$digest" ]; then
      verdict="same"
    else
      verdict="DIFFERENT"
      failed=1
    fi
  fi
  if [ -z "$median" ]; then
    local hf=(hyperfine --style basic --warmup 1 --min-runs 3 --max-runs 10
              --output null --export-json "$json")
    [ -n "$prep" ] && hf+=(--prepare "$prep")
    if "${hf[@]}" "$cmd" >"$work/hyperfine.log" 2>&1; then
      read -r median cpu < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]; print(r["median"], r["user"] + r["system"])' "$json")
    else
      median="failed"
      echo "  hyperfine failed for $tool: $(tail -n 3 "$work/hyperfine.log")" >&2
    fi
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$wl" "$tool" "$median" "${rss_kb:-0}" "$bytes" "$verdict" "$cpu" >>"$rows"
  printf '  %-8s %-34s %-12s %s\n' "$wl" "$tool" "$median" "$verdict" >&2
}
declare -A expected

limit=600
log="$work/log.txt"
if wanted W1 || wanted W4; then
  echo "generating a ${log_size}-byte log" >&2
  gen log "$log_size" "$log"
fi
X=session Y=connection

if wanted W1; then
  echo "W1: literal filter, standard input to standard output" >&2
  b=$(size_of "$log")
  cd "$work"
  run_one W1 "rplc" "$b" stdout $limit "'$RPLC' -f:$X -t:$Y < '$log'"
  run_one W1 "cat (floor)" "$b" none $limit "cat < '$log'"
  run_one W1 "sed" "$b" stdout $limit "sed 's/$X/$Y/g' < '$log'"
  run_one W1 "perl -pe" "$b" stdout $limit "perl -pe 's/\\Q$X\\E/$Y/g' < '$log'"
  run_one W1 "sd -s" "$b" stdout $limit "sd -s '$X' '$Y' < '$log'"
  run_one W1 "rg --passthru -F -r" "$b" stdout $limit "rg --passthru -F -r '$Y' '$X' < '$log'"
  echo "W1b: rare literal filter" >&2
  R1='ledger shard 7' R2='LEDGER-SHARD-7'
  run_one W1b "rplc" "$b" stdout $limit "'$RPLC' '-f:$R1' '-t:$R2' < '$log'"
  run_one W1b "cat (floor)" "$b" none $limit "cat < '$log'"
  run_one W1b "sd -s" "$b" stdout $limit "sd -s '$R1' '$R2' < '$log'"
  run_one W1b "rg --passthru -F -r" "$b" stdout $limit "rg --passthru -F -r '$R2' '$R1' < '$log'"
  echo "W1 -noexp" >&2
  expected["W1 -noexp"]=${expected[W1]:-}
  run_one "W1 -noexp" "rplc -noexp" "$b" stdout "$noexp_limit" "'$RPLC' -noexp -f:$X -t:$Y < '$log'"
fi

# Regular-expression jobs, fields separated by "#": name, rplc's find and
# replacement, the peers' find, the replacement for perl, sd and rg, the
# replacement for sed, and optionally rplc's find switch (default -r) and
# sed's flags (default g).  The issue's two patterns come first; the next two
# show the cases that can skip ahead (a literal start, a line anchor); then
# an ignore-case alternation and three groups with counted repetitions; the
# last row's pattern (a repeated group) is one the PCRE2 fast path leaves to
# the Tcl engine.
patterns=(
  'W2 [0-9]+#[0-9]+#N#[0-9]+#N#N'
  'W2 alt swap#(alpha|beta) ([a-z]+)#\2 \1#(alpha|beta) ([a-z]+)#$2 $1#\2 \1'
  'W2 literal start#user=([a-z]+)#login=\1#user=([a-z]+)#login=$1#login=\1'
  'W2 line anchor#^([0-9]+)-([0-9]+)#\2-\1#^([0-9]+)-([0-9]+)#$2-$1#\2-\1'
  'W2 ignore case#(error|warn|lorem|dolor)#<\1>#(?i)(error|warn|lorem|dolor)#<$1>#<\1>#-ric#gI'
  'W2 counted groups#([a-z]+) ([0-9]{1,3})\.([0-9]{2})#\3.\2 \1#([a-z]+) ([0-9]{1,3})\.([0-9]{2})#$3.$2 $1#\3.\2 \1'
  'W2 fallback (Tcl)#(alpha|beta)+ ([a-z]+)#\2 \1#(alpha|beta)+ ([a-z]+)#$2 $1#\2 \1'
)
if wanted W2; then
  rx="$work/regex.txt"
  echo "generating a ${regex_size}-byte log" >&2
  gen log "$regex_size" "$rx" --mixed
  b=$(size_of "$rx")
  cd "$work"
  if [ -n "${RPLC_EXE:-}" ]; then
    run_one "wine start-up" "rplc.exe on empty input (wine)" 1 none $limit "wine '$RPLC_EXE' -f:a -t:b < /dev/null"
  fi
  for p in "${patterns[@]}"; do
    IFS='#' read -r name rfind rrepl pfind prepl srepl rswitch sflags <<<"$p"
    rswitch=${rswitch:--r} sflags=${sflags:-g}
    # sed has no inline ignore-case option: it gets the I flag instead.
    sfind=${pfind#"(?i)"}
    echo "$name: ${rswitch} ${rfind} -> ${rrepl}" >&2
    run_one "$name" "rplc $rswitch" "$b" stdout $limit "'$RPLC' '$rswitch:$rfind' '-t:$rrepl' < '$rx'"
    # Standard output is in text mode on Windows: CR LF back to LF.
    if [ -n "${RPLC_EXE:-}" ]; then
      run_one "$name" "rplc.exe $rswitch (wine)" "$b" stdout $limit "wine '$RPLC_EXE' '$rswitch:$rfind' '-t:$rrepl' < '$rx' | tr -d '\\r'"
    fi
    run_one "$name" "sed -E" "$b" stdout $limit "sed -E 's/$sfind/$srepl/$sflags' < '$rx'"
    run_one "$name" "perl -pe" "$b" stdout $limit "perl -pe 's/$pfind/$prepl/g' < '$rx'"
    run_one "$name" "sd" "$b" stdout $limit "sd '$pfind' '$prepl' < '$rx'"
    run_one "$name" "rg --passthru -r" "$b" stdout $limit "rg --passthru -r '$prepl' '$pfind' < '$rx'"
    expected["$name -noexp"]=${expected[$name]:-}
    run_one "$name -noexp" "rplc $rswitch -noexp" "$b" stdout "$noexp_limit" "'$RPLC' -noexp '$rswitch:$rfind' '-t:$rrepl' < '$rx'"
  done
fi

if wanted W3; then
  TX=legacy_connect TY=pool_connect
  first_size=1
  for tree_files in "${tree_sizes[@]}"; do
    wl="W3"
    ((${#tree_sizes[@]} == 1)) || wl="W3 $tree_files files"
    T="$work/tree" B="$work/tree-backup"
    rm -rf "$T" "$B"
    echo "generating a tree of $tree_files files" >&2
    gen tree "$tree_files" "$T" "$TX" >"$work/tree-literal.txt"
    mkdir -p "$B"
    (cd "$T" && xargs -d '\n' cp --parents -t "$B" <"$work/tree-literal.txt")
    b=$(cd "$T" && find . -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
    echo "$wl: in-place literal over $tree_files files, $(wc -l <"$work/tree-literal.txt") with the literal" >&2
    restore="cp -r '$B/.' '$T/'"
    cd "$T"
    # rplc must rewrite exactly the files that hold the literal.
    sleep 0.1; touch "$work/stamp"; sleep 0.1
    "$RPLC" -s '*' -f:$TX -t:$TY >/dev/null 2>&1 || true
    rewritten=$(find "$T" -type f -newer "$work/stamp" | wc -l)
    if [ "$rewritten" -ne "$(wc -l <"$work/tree-literal.txt")" ]; then
      echo "  rplc rewrote $rewritten files, expected only the $(wc -l <"$work/tree-literal.txt") holding the literal" >&2
      failed=1
    fi
    sh -c "$restore"
    run_one "$wl" "rplc -s" "$b" "tree:$T" $limit "'$RPLC' -s '*' -f:$TX -t:$TY" "$restore"
    # rplc works on one thread when it may run on one processor only.
    one_cpu=$(python3 -c 'import os; print(min(os.sched_getaffinity(0)))')
    run_one "$wl" "rplc -s, one processor" "$b" "tree:$T" $limit "taskset -c $one_cpu '$RPLC' -s '*' -f:$TX -t:$TY" "$restore"
    if ((first_size)); then
      run_one "$wl" "find -exec sed -i" "$b" "tree:$T" $limit "find . -type f -exec sed -i 's/$TX/$TY/g' {} +" "$restore"
      run_one "$wl" "find | xargs sd -s" "$b" "tree:$T" $limit "find . -type f -print0 | xargs -0 sd -s $TX $TY" "$restore"
      run_one "$wl" "rpl -R" "$b" "tree:$T" $limit "rpl -R -q -F --encoding utf-8 $TX $TY . 2>/dev/null" "$restore"
      run_one "$wl" "find -exec perl -pi" "$b" "tree:$T" $limit "find . -type f -exec perl -pi -e 's/$TX/$TY/g' {} +" "$restore"
    fi
    run_one "$wl" "grep -rlZ | xargs sed -i" "$b" "tree:$T" $limit "grep -rlZF $TX . | xargs -0 -r sed -i 's/$TX/$TY/g'" "$restore"
    run_one "$wl" "rg -l0 | xargs sed -i" "$b" "tree:$T" $limit "rg -l0F $TX | xargs -0 -r sed -i 's/$TX/$TY/g'" "$restore"
    # What reading every file costs, for scale: about the least a tool that
    # reads each file can take (it lists the tree before it reads); then the
    # same reads without the status call, and through io_uring, to show
    # that no other way of asking the kernel costs much less.
    if [ -n "$floor" ]; then
      run_one "$wl" "read floor (list, 4 calls a file)" "$b" none $limit "'$floor' . $(nproc)" "$restore"
      run_one "$wl" "read floor, no status call" "$b" none $limit "'$floor' . $(nproc) no-status" "$restore"
      "$floor" . 1 uring >/dev/null 2>&1 &&
        run_one "$wl" "read floor, io_uring" "$b" none $limit "'$floor' . $(nproc) uring" "$restore"
    fi
    cd "$work"
    rm -rf "$T" "$B"
    first_size=0
  done
fi

if wanted W3; then
  # The same files named one by one on the command line, against the quoted
  # wildcard that names them all.
  N="$work/names"
  mkdir -p "$N"
  python3 - "$N" "$TX" <<'PY'
import sys
root, literal = sys.argv[1], sys.argv[2]
for i in range(5000):
    with open("%s/n%04d.txt" % (root, i), "w") as f:
        f.write(("line %d\n" % i) * 20 + (literal + "\n" if i % 100 == 0 else ""))
PY
  cp -r "$N" "$work/names-backup"
  b=$(cd "$N" && find . -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
  restore="cp -r '$work/names-backup/.' '$N/'"
  cd "$N"
  echo "W3 names: 5000 files named one by one, against the wildcard" >&2
  run_one "W3 names" "rplc NAME... (5000)" "$b" "tree:$N" $limit "'$RPLC' n*.txt -f:$TX -t:$TY" "$restore"
  run_one "W3 names" "rplc '*.txt'" "$b" "tree:$N" $limit "'$RPLC' '*.txt' -f:$TX -t:$TY" "$restore"
fi

if wanted W4; then
  F="$work/w4.log"
  b=$(size_of "$log")
  restore="cp '$log' '$F'"
  echo "W4: in-place literal in one file" >&2
  cd "$work"
  run_one W4 "rplc FILE" "$b" "file:$F" $limit "'$RPLC' w4.log -f:$X -t:$Y" "$restore"
  run_one W4 "sed -i" "$b" "file:$F" $limit "sed -i 's/$X/$Y/g' w4.log" "$restore"
  run_one W4 "perl -pi" "$b" "file:$F" $limit "perl -pi -e 's/\\Q$X\\E/$Y/g' w4.log" "$restore"
  run_one W4 "sd -s" "$b" "file:$F" $limit "sd -s $X $Y w4.log" "$restore"
  rm -f "$F"
fi

cd "$here"
# --- table -------------------------------------------------------------------
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo
echo "rplc benchmark, $(date -u +%Y-%m-%d), $(nproc) cores ($cpu), data in ${TMPDIR:-/dev/shm}$( ((small)) && echo ', --small sizes')"
echo "load average at start $load_start, at end $(cut -d' ' -f1-3 /proc/loadavg) (wall times are only comparable on an idle machine)"
echo "peers: $(sed --version | head -n 1); perl $(perl -e 'print substr($^V,1)'); sd $(sd --version | cut -d' ' -f2); ripgrep $(rg --version | sed -n '1s/^ripgrep \([^ ]*\).*/\1/p'); rpl $(rpl --version 2>&1 | head -n 1 | awk '{print $NF}'); $(hyperfine --version)"
echo
python3 "$here/report.py" "$rows"
echo
if ((failed)); then
  echo "some outputs differ from rplc's (marked DIFFERENT above)" >&2
  exit 1
fi
