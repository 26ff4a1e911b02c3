#!/bin/sh
# Sets up a fresh Debian machine, builds, and runs every test under Wine.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
sh "$top/tools/setup-debian.sh"
BUILD_DIR=$build sh "$top/tools/build.sh"
cd "$build"
# Every test runs once: a test that fails one run in two is a fault to find, not to retry.
ctest --output-on-failure "$@"
