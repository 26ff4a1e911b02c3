#!/bin/sh
# Sets up a fresh Debian machine, builds, and runs every test under Wine.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
sh "$top/tools/setup-debian.sh"
BUILD_DIR=$build sh "$top/tools/build.sh"
cd "$build"
ctest --output-on-failure "$@"
