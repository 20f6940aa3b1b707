#!/bin/bash
# The real program's command line, with no display at all: --version, --help,
# --autostart on|off writing and removing a valid XDG autostart entry (also
# for a program whose path needs quoting), and wrong arguments refused with
# status 2 and nothing written.
# usage: cli.sh BINARY VERSION
(($# == 2)) || { echo "usage: $0 BINARY VERSION" >&2; exit 2; }
binary=$(realpath "$1") version=$2 failures=0
fail() { echo "cli: FAIL: $*" >&2; failures=$((failures + 1)); }
work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-cli.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home"
run() { env -i PATH=/usr/bin:/bin HOME="$work/home" "$@" 2>"$work/err"; }

[[ $(run "$binary" --version) == "himekuri $version" ]] || fail "--version said: $(run "$binary" --version)"
run "$binary" --help | grep -q -- '--autostart on' || fail "--help does not name --autostart"

entry=$work/home/.config/autostart/himekuri.desktop
said=$(run "$binary" --autostart on) || fail "--autostart on failed: $(<"$work/err")"
[[ $said == *"$entry"* ]] || fail "--autostart on did not say where it wrote: $said"
desktop-file-validate "$entry" || fail "the autostart entry is not valid"
grep -qx "Exec=$binary" "$entry" || fail "the entry does not start $binary: $(grep Exec "$entry")"
said=$(run "$binary" --autostart off) && [[ ! -e $entry && $said == *removed* ]] ||
    fail "--autostart off: $said $(<"$work/err")"
run "$binary" --autostart off >/dev/null || fail "--autostart off twice failed"

# Where the program's path holds a space and a dollar, XDG_CONFIG_HOME set.
mkdir -p "$work/my \$bin" && cp "$binary" "$work/my \$bin/himekuri"
run env XDG_CONFIG_HOME="$work/config" "$work/my \$bin/himekuri" --autostart on >/dev/null ||
    fail "--autostart on from a quoted path failed: $(<"$work/err")"
quoted=$work/config/autostart/himekuri.desktop
desktop-file-validate "$quoted" || fail "the quoted entry is not valid"
grep -qxF "Exec=\"$work/my \\\\\$bin/himekuri\"" "$quoted" || fail "quoted Exec: $(grep Exec "$quoted")"

for wrong in "--autostart" "--autostart maybe" "--bogus" "--version extra" "-platform xcb"; do
    # shellcheck disable=SC2086 # the words are the arguments
    run "$binary" $wrong >/dev/null
    status=$?
    ((status == 2)) || fail "'$wrong' ended with $status, not 2"
    grep -q '^Usage: himekuri' "$work/err" || fail "'$wrong' gave no usage on stderr"
done
[[ -e $entry ]] && fail "a wrong argument wrote $entry"

((failures == 0)) && echo "cli: ok"
exit $((failures > 0))
