#!/bin/sh
# Installs the Debian packages that each named purpose needs, when run as
# root; otherwise prints the apt-get line. Purposes:
#   demo     build and run the demo
#   tools    velmorante-capture and the tools that make the data files
#   test     the desktop build's tests (includes demo and tools; and
#            sdl12-compat, which the X window tests run on too); `make test`
#            also takes fuzz and web
#   bench    the benchmarks (includes demo)
#   package  the Debian package and the tarball (includes demo)
#   fuzz     the libFuzzer runs (clang)
#   coverage what the fuzzers reach (`make fuzz-coverage`: LLVM 14's tools)
#   arm64    the arm64 cross build and its tests under qemu (`make test-arm64`);
#            adds the arm64 architecture to dpkg first. It takes SDL's arm64
#            run-time packages only: their -dev packages would replace the
#            host's (see cmake/Multiarch.cmake).
#   web      the WebAssembly page and its tests: Emscripten (with the acorn
#            module its optimiser needs), node, SDL 1.2's headers, GoogleTest's
#            sources, Chromium and its WebDriver, Selenium
# Nothing is ever removed: apt-get stops instead.
set -eu

packages() {
    case "$1" in
    demo) echo "build-essential cmake pkg-config libsdl1.2-dev libsdl-mixer1.2-dev" ;;
    tools) echo "libpng-dev libfreetype-dev fonts-dejavu-core" ;;
    fuzz) echo "clang libclang-rt-14-dev" ;;
    coverage) echo "$(packages fuzz) llvm-14" ;;
    test) echo "$(packages demo) $(packages tools)
                libgtest-dev xvfb xdotool x11-utils libx11-dev imagemagick ffmpeg desktop-file-utils
                python3 python3-pil python3-numpy libsdl1.2-compat" ;;
    web) echo "cmake make libsdl1.2-dev libsdl-mixer1.2-dev emscripten node-acorn nodejs googletest
               chromium chromium-driver python3 python3-selenium" ;;
    bench) echo "$(packages demo) libbenchmark-dev ffmpeg" ;;
    package) echo "$(packages demo) $(packages tools) dpkg-dev file lintian desktop-file-utils" ;;
    arm64) echo "$(packages demo) g++-aarch64-linux-gnu qemu-user python3
                 libsdl1.2debian:arm64 libsdl-mixer1.2:arm64 libgtest-dev:arm64" ;;
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

# Packages of another architecture (name:arch) need it added to dpkg.
foreign=""
for p in $missing; do
    case "$p" in *:*)
        arch=${p#*:}
        dpkg --print-foreign-architectures | grep -qx "$arch" || case " $foreign " in
            *" $arch "*) ;;
            *) foreign="$foreign $arch" ;;
        esac ;;
    esac
done

if [ "$(id -u)" -eq 0 ]; then
    for arch in $foreign; do dpkg --add-architecture "$arch"; done
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends --no-remove $missing >/dev/null
else
    echo "Missing packages. Install them with:"
    for arch in $foreign; do echo "  sudo dpkg --add-architecture $arch"; done
    [ -n "$foreign" ] && echo "  sudo apt-get update"
    echo "  sudo apt-get install -y --no-remove$missing"
    exit 1
fi
