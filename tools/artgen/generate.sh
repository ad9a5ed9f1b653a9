#!/bin/sh
# Rebuilds src/resources/logo.png and splash.png from tools/artgen/main.cpp.
# Needs Qt 6 (Gui) and Debian's fonts-dejavu-core; the output is the same on
# every run with the same Qt and font versions.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(mktemp -d)
trap 'rm -rf "$build"' EXIT
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" >/dev/null
QT_QPA_PLATFORM=offscreen "$build/vostan-artgen" "$root/src/resources"
