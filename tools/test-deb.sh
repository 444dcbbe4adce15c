#!/bin/sh
# The Debian package's round trip on this machine: installs it with apt-get
# (from a copy outside the build tree), runs `velmorante` headless from /tmp and
# checks that it found its three data files, that `velmorante --help` and
# `--version` answer without starting the demo, runs `velmorante-capture
# --version` and a capture from /tmp, then purges the package and checks that
# none of the files it listed are left.
#
# It changes the machine (it installs the package and what it depends on and
# recommends), so `make test` does not run it. Run it as root after
# `make package`, on a machine without velmorante installed:
#
#     sh tools/test-deb.sh [build/package/velmorante_VERSION_ARCH.deb]
#
# Ends with "N passed, N failed"; exits 1 when a check failed.
set -u

deb=${1:-$(ls build/package/velmorante_*.deb 2>/dev/null | tail -n 1)}
[ -n "$deb" ] && [ -f "$deb" ] || { echo "test-deb: no package: run make package first" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "test-deb: run as root: it installs and removes the package" >&2; exit 2; }
if dpkg-query -W -f='${Status}' velmorante 2>/dev/null | grep -q "ok installed"; then
    echo "test-deb: velmorante is installed already; remove it first (apt-get purge velmorante)" >&2
    exit 2
fi

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: runs the command, counts and reports the outcome
    what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok: $what"
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
    fi
}

work=$(mktemp -d /tmp/velmorante-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # apt reads the package as its own unprivileged user
cp "$deb" "$work/"
package="$work/$(basename "$deb")"
version=$(dpkg-deb -f "$package" Version)
upstream=${version%-*}
export DEBIAN_FRONTEND=noninteractive

echo "== apt-get install $package (version $version)"
apt-get install -y -q "$package" >"$work/apt.log" 2>&1
status=$?
tail -n 5 "$work/apt.log"
check "apt-get install exits 0" [ "$status" -eq 0 ]
dpkg -L velmorante >"$work/files" 2>/dev/null
echo "The package installed $(grep -c . "$work/files") paths; its Depends: $(dpkg-query -W -f='${Depends}' velmorante)"

cd /tmp
echo "== velmorante from /tmp, headless, for 4 seconds, then SIGTERM"
check "velmorante is the command on PATH" [ "$(command -v velmorante)" = /usr/bin/velmorante ]
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout -s TERM --preserve-status 4 velmorante \
    >"$work/out" 2>"$work/err" </dev/null
status=$?
echo "exit status $status; frames begun each second: $(tr '\n' ' ' <"$work/out")"
[ -s "$work/err" ] && { echo "standard error:"; cat "$work/err"; }
check "the demo exits 0 on SIGTERM" [ "$status" -eq 0 ]
check "nothing on standard error (no data file missing)" [ ! -s "$work/err" ]
check "frame-rate lines on standard output" sh -c "grep -q . '$work/out' && ! grep -qv '^[1-9][0-9]*\$' '$work/out'"

# With no video driver to be had, the demo would exit 1 naming it.
for arg in --help --version; do
    echo "== velmorante $arg"
    SDL_VIDEODRIVER=nosuchdriver velmorante $arg >"$work/out" 2>"$work/err" </dev/null
    status=$?
    cat "$work/out" "$work/err"
    check "velmorante $arg exits 0, prints, and starts no demo" \
        sh -c "[ $status -eq 0 ] && [ -s '$work/out' ] && [ ! -s '$work/err' ]"
done
check "velmorante --help warns of flashing and names the keys" \
    sh -c "velmorante --help | grep -q epilepsy && velmorante --help | grep -q Escape"
check "velmorante --version says velmorante $upstream" [ "$(velmorante --version)" = "velmorante $upstream" ]

echo "== velmorante-capture --version"
velmorante-capture --version >"$work/version" 2>&1
status=$?
cat "$work/version"
check "velmorante-capture --version exits 0 and says $upstream" \
    sh -c "[ $status -eq 0 ] && grep -qF '$upstream' '$work/version'"

echo "== velmorante-capture --frame 3000 -o $work/shots, from /tmp"
velmorante-capture --frame 3000 -o "$work/shots" >"$work/capture" 2>&1
status=$?
cat "$work/capture"
check "the capture finds the installed data and writes frame-3000.png" \
    sh -c "[ $status -eq 0 ] && [ -s '$work/shots/frame-3000.png' ]"

echo "== apt-get purge velmorante"
apt-get purge -y -q velmorante >"$work/apt.log" 2>&1
status=$?
tail -n 3 "$work/apt.log"
check "apt-get purge exits 0" [ "$status" -eq 0 ]
check "the package is gone from dpkg's list" sh -c "! dpkg-query -W -f='\${Status}' velmorante 2>/dev/null | grep -q 'ok installed'"
# Every file the package listed must be gone; a folder may stay only when
# another package owns it or something else is in it.
left=""
while IFS= read -r path; do
    [ "$path" = "/." ] && continue
    [ -e "$path" ] || [ -L "$path" ] || continue
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        dpkg-query -S "$path" >/dev/null 2>&1 && continue
        [ -n "$(ls -A "$path")" ] && continue
    fi
    left="$left $path"
done <"$work/files"
[ -n "$left" ] && echo "left behind:$left"
check "none of the package's $(grep -c . "$work/files") paths is left behind" [ -z "$left" ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
