#!/usr/bin/env bash
# Installs a built tree into a temporary DESTDIR with prefix /usr, as the
# Debian package does, runs the installed binary, and checks the installed
# manual page: it must format without a single groff warning and must list
# every switch that the help screen lists.
#
# usage: install_test.sh <build folder>
set -euo pipefail

build=${1:?usage: install_test.sh <build folder>}
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

log=$dest/install.log
if ! DESTDIR=$dest/root "${CMAKE:-cmake}" --install "$build" --prefix /usr >"$log" 2>&1; then
  cat "$log" >&2
  fail "cmake --install failed"
fi

bin=$dest/root/usr/bin/rplc
page=$dest/root/usr/share/man/man1/rplc.1.gz
[ -x "$bin" ] || fail "no executable $bin"
if [ ! -f "$page" ]; then
  page=${page%.gz}
  [ -f "$page" ] || fail "no manual page under usr/share/man/man1"
fi
completion=$dest/root/usr/share/bash-completion/completions/rplc
[ -f "$completion" ] || fail "no bash completion under usr/share/bash-completion/completions"
extra=$(cd "$dest/root" && find . ! -type d | grep -v -x -e ./usr/bin/rplc -e "./${page#"$dest"/root/}" \
  -e ./usr/share/bash-completion/completions/rplc) || true
[ -z "$extra" ] || fail "unexpected installed files: $extra"

# The installed binary is stripped, as the package's is.
if command -v readelf >/dev/null 2>&1; then
  ! readelf -S "$bin" | grep -q -e '\.debug_info' -e '\.symtab' || fail "installed rplc is not stripped"
fi

# The installed binary works on its own, outside the build folder.
out=$(printf 'teh\n' | "$bin" -f:teh -t:the)
[ "$out" = "the" ] || fail "installed rplc printed '$out' instead of 'the'"

# The completion offers the switches and the values of -color, from the
# word as typed (readline splits it at ":" and "=").
complete_word() {
  bash -c 'source "$1"; COMP_LINE="rplc a.txt $2"; COMP_POINT=${#COMP_LINE}; _rplc; echo "${COMPREPLY[*]}"' \
    _ "$completion" "$1"
}
[ "$(complete_word -rev)" = "-review" ] || fail "completion of -rev: '$(complete_word -rev)'"
[ "$(complete_word -color:n)" = "never" ] || fail "completion of -color:n: '$(complete_word -color:n)'"
[ "$(complete_word --ver)" = "--version" ] || fail "completion of --ver: '$(complete_word --ver)'"
# Every switch of the help screen is offered.
for s in $("$bin" -h | grep -oE '^  -[a-z]+' | tr -d ' '); do
  grep -q -e " $s[: ]" -e " $s\$" <(echo " $(complete_word -)") || fail "completion lacks $s"
done

if ! command -v groff >/dev/null 2>&1; then
  echo "SKIP: groff is not installed; manual page not checked"
  exit 0
fi

source_page=$dest/rplc.1
case $page in
  *.gz) gzip -dc "$page" >"$source_page" ;;
  *) cp "$page" "$source_page" ;;
esac

warnings=$(groff -ww -z -man "$source_page" 2>&1)
[ -z "$warnings" ] || fail "groff warnings in rplc.1:
$warnings"

# Every switch of the help screen is described in the manual page: the
# rendered OPTIONS entries start with the switch, as in "-f:text" or "-s".
rendered=$(groff -man -Tascii -P-cbou "$source_page" 2>/dev/null)
switches=$("$bin" -h | grep -oE '^  -[a-z]+( -[?])?' | tr -s ' ' '\n' | sed '/^$/d' | sort -u)
[ -n "$switches" ] || fail "no switch found on the help screen"
for s in $switches; do
  grep -q -E -e "^ +(-[a-z]+, )?${s/\?/\\?}([:, ]|\$)" <<<"$rendered" ||
    fail "switch $s of the help screen is missing from the manual page"
done

echo "install and manual page OK"
