#!/bin/sh
# Installs the Debian packages that each named purpose needs, when run as
# root; otherwise prints the apt-get line. Purposes:
#   demo     build and run the demo
#   test     everything `make test` builds and runs (includes demo)
#   bench    the benchmarks (includes demo)
#   package  the Debian package and the tarball (includes demo)
#   fuzz     the libFuzzer run (clang)
set -eu

packages() {
    case "$1" in
    demo) echo "build-essential cmake pkg-config libsdl1.2-dev libsdl-mixer1.2-dev" ;;
    tools) echo "libpng-dev libfreetype-dev fonts-dejavu-core" ;;
    fuzz) echo "clang libclang-rt-14-dev" ;;
    test) echo "$(packages demo) $(packages tools) $(packages fuzz)
                libgtest-dev xvfb xdotool x11-utils libx11-dev imagemagick ffmpeg desktop-file-utils
                python3 python3-pil python3-numpy" ;;
    bench) echo "$(packages demo) libbenchmark-dev ffmpeg" ;;
    package) echo "$(packages demo) $(packages tools) dpkg-dev file lintian desktop-file-utils" ;;
    *) echo "install-deps: unknown purpose '$1'" >&2; exit 2 ;;
    esac
}

wanted=""
for purpose in "$@"; do wanted="$wanted $(packages "$purpose")"; done

missing=""
for p in $wanted; do
    case " $missing " in *" $p "*) continue ;; esac
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
else
    echo "Missing packages. Install them with:"
    echo "  sudo apt-get install -y$missing"
    exit 1
fi
