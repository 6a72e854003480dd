#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a Release
# build in build/ and a Debug build with AddressSanitizer and UBSan in
# build-asan/. Any failure, sanitizer reports included, fails the run.
set -euo pipefail
cd "$(dirname "$0")"
./deps.sh

jobs=$(nproc)
status=0

run_suite() {
  local dir=$1; shift
  echo "== $dir: configure and build"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $dir: tests"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 900) || status=1
}

run_suite build -DCMAKE_BUILD_TYPE=Release
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DVANTROVE_SANITIZE=ON

if [ $status -ne 0 ]; then
  echo "TESTS FAILED"
fi
exit $status
