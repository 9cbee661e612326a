#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh), checks them with lintian
# and the desktop and AppStream validators, installs them with apt, runs both
# programs from /usr/bin, and removes them again: every package this script
# installed is purged, and the installed set is compared with the one found.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

fail() { echo "test-package: $*" >&2; exit 1; }
step() { echo "== $*"; }
# Every package dpkg holds in some state besides not-installed: state, name,
# version.
installed() {
  dpkg-query -W -f='${db:Status-Abbrev}\t${binary:Package}\t${Version}\n' |
    awk -F'\t' 'substr($1, 2, 1) != "n"' | sort
}
# The names of packages installed since $installed_before was written.
added() { comm -13 <(cut -f2 "$installed_before" | sort) <(installed | cut -f2 | sort); }

step "build"
bash scripts/package.sh > /dev/null
arch=$(dpkg --print-architecture)
version=$(sed -n 's/^project(Kestrane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cli=$PWD/build-pkg/kestrane-cli_${version}_${arch}.deb
app=$PWD/build-pkg/kestrane_${version}_${arch}.deb
[ -f "$cli" ] && [ -f "$app" ] || fail "expected $cli and $app"

step "lintian"
lintian --fail-on error "$cli" "$app"

step "contents"
work=$(mktemp -d)
xvfb=""
kestrane=""
installed_before=$work/before
cleanup() {
  [ -n "$kestrane" ] && kill "$kestrane" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  if [ -f "$installed_before" ]; then
    # Purge exactly what the installation added, dependencies included.
    mapfile -t new < <(added)
    [ ${#new[@]} -gt 0 ] && $SUDO apt-get purge -y -qq "${new[@]}" > /dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

deps=$(dpkg-deb -f "$cli" Depends)
echo "kestrane-cli depends: $deps"
echo "kestrane depends: $(dpkg-deb -f "$app" Depends)"
grep -qi 'qt' <<< "$deps" && fail "kestrane-cli must not depend on Qt"
grep -q "kestrane-cli (= $version)" <<< "$(dpkg-deb -f "$app" Depends)" || fail "kestrane must depend on kestrane-cli $version"
for deb in "$cli" "$app"; do
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb does not carry version $version"
done
dpkg-deb -x "$app" "$work/app"
dpkg-deb -x "$cli" "$work/cli"
desktop-file-validate "$work/app/usr/share/applications/kestrane.desktop"
metainfo=$(ls "$work"/app/usr/share/metainfo/*.metainfo.xml)
appstreamcli validate --no-net "$metainfo"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo's release is not $version"
# Every screenshot the metainfo names is a picture kept under docs/.
for shot in $(sed -n 's#.*<image>.*/docs/\(.*\)</image>.*#\1#p' "$metainfo"); do
  [ -f "docs/$shot" ] || fail "the metainfo names docs/$shot, which does not exist"
done
# The man page covers every option and command that --help lists.
man_cli=$(zcat "$work/cli/usr/share/man/man1/kestrane-cli.1.gz")
help=$("$work/cli/usr/bin/kestrane-cli" --help)
words=$(grep -o -- '--[a-z][a-z-]*' <<< "$help" | sort -u)
words+=" "$(sed -n '/^Commands:/,/^$/s/^  \([a-z]\+\) .*/\1/p' <<< "$help")
for w in $words; do
  grep -q -- "\\\\fB$w\\\\fR" <<< "$man_cli" || fail "kestrane-cli(1) does not describe $w"
done
for status in 0 2 3 4; do
  grep -q "^\\\\fB$status\\\\fR" <<< "$man_cli" || fail "kestrane-cli(1) does not give exit status $status"
done

step "install"
installed > "$work/found"
awk -F'\t' '$2 == "kestrane" || $2 == "kestrane-cli" {f = 1} END {exit !f}' "$work/found" &&
  fail "Kestrane's packages are installed already; remove them first"
mv "$work/found" "$installed_before"
$SUDO apt-get install -y -qq --no-install-recommends "$cli" "$app" > "$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install failed"; }

step "kestrane-cli"
help=$(/usr/bin/kestrane-cli --help) || fail "kestrane-cli --help exited with $?"
grep -q '^usage: kestrane-cli' <<< "$help" || fail "kestrane-cli --help printed no usage"
/usr/bin/kestrane-cli summary > "$work/summary.txt" || fail "kestrane-cli summary exited with $?"
grep -q '^Operating System' "$work/summary.txt" || fail "the summary has no operating system"
man -w kestrane-cli > /dev/null 2>&1 || [ -f /usr/share/man/man1/kestrane-cli.1.gz ] || fail "no man page"
# The remote back-ends are a module the package installs beside its library
# directory; a closed port on loopback must reach them and fail as unreachable.
remote_out=$(/usr/bin/kestrane-cli --computer ssh://127.0.0.1:1 summary 2>&1) && fail "a closed port answered"
grep -q 'The RPC server is unavailable' <<< "$remote_out" || fail "the remote back-ends did not load: $remote_out"

step "snapshot type"
/usr/bin/kestrane-cli --snapshot tests/fixtures/snapshots/sample.json capture "$work/recorded.json" > /dev/null
echo '{"format": "something-else", "version": 1}' > "$work/other.json"
type_of() { gio info -a standard::content-type "$1" | sed -n 's/.*standard::content-type: //p'; }
[ "$(type_of "$work/recorded.json")" = application/x-kestrane-snapshot ] ||
  fail "a recorded snapshot is $(type_of "$work/recorded.json")"
[ "$(type_of "$work/other.json")" = application/json ] || fail "plain JSON is $(type_of "$work/other.json")"
grep -q kestrane.desktop <<< "$(gio mime application/x-kestrane-snapshot)" || fail "kestrane.desktop does not open snapshots"

step "window"
home=$work/home
mkdir -p "$home"
exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp > /dev/null 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
display=:$(cat "$work/display")
HOME=$home XDG_CONFIG_HOME=$home/.config DISPLAY=$display /usr/bin/kestrane > "$work/window.log" 2>&1 &
kestrane=$!
window=""
for _ in $(seq 100); do
  kill -0 "$kestrane" 2>/dev/null || { cat "$work/window.log"; fail "kestrane ended before showing a window"; }
  window=$(DISPLAY=$display xdotool search --all --onlyvisible --pid "$kestrane" --name '^Kestrane' 2>/dev/null | head -1) || true
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { cat "$work/window.log"; fail "no Kestrane window appeared within 20 s"; }
title=$(DISPLAY=$display xdotool getwindowname "$window")
echo "window: $title"
# The platform adds an application display name to every title; there is none.
[ "$title" = "Kestrane - System Information Tool" ] || fail "the window's title is \"$title\""
kill "$kestrane"
wait "$kestrane" 2>/dev/null || true
kestrane=""

step "remove"
mapfile -t new < <(added)
echo "purging: ${new[*]}"
$SUDO apt-get purge -y -qq "${new[@]}" > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge failed"; }
installed | diff "$installed_before" - || fail "the installed packages differ from before"
for f in /usr/bin/kestrane /usr/bin/kestrane-cli /usr/share/applications/kestrane.desktop \
  /usr/share/mime/packages/kestrane.xml /usr/share/icons/hicolor/scalable/apps/kestrane.svg; do
  [ ! -e "$f" ] || fail "$f is left behind"
done
[ "$(type_of "$work/recorded.json")" = application/json ] || fail "the snapshot type outlived the package"
rm -f "$installed_before"

echo "test-package: passed in $((SECONDS - start)) s"
