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

# The fuzz targets (clang only): built with libFuzzer, ASan and UBSan, each
# run for 30 seconds from its seed corpus. New inputs go to a scratch
# folder; the committed corpora stay as they are. fuzz/README.md tells how
# to run them for hours.
if command -v clang++ >/dev/null; then
  echo "== build-fuzz: configure and build"
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVANTROVE_FUZZ=ON -DVANTROVE_BUILD_GUI=OFF -DVANTROVE_BUILD_TESTS=OFF >/dev/null
  cmake --build build-fuzz -j "$jobs" --target fuzz
  scratch=$(mktemp -d)
  fuzzed=0
  for corpus in fuzz/corpus/*/; do
    name=$(basename "$corpus")
    mkdir -p "$scratch/$name"
    echo "== fuzz_$name: 30 s"
    if build-fuzz/fuzz/fuzz_"$name" -max_total_time=30 -timeout=60 -rss_limit_mb=2048 \
         -print_final_stats=1 -artifact_prefix="$scratch/$name-" \
         "$scratch/$name" "$corpus" >"$scratch/$name.log" 2>&1; then
      grep -E '^(stat::number_of_executed_units|Done)' "$scratch/$name.log" || true
      fuzzed=$((fuzzed + 1))
    else
      tail -40 "$scratch/$name.log"
      echo "fuzz_$name FOUND A PROBLEM (the input is in the log above)"
      status=1
    fi
  done
  count=$(ls -d fuzz/corpus/*/ | wc -l)
  if [ "$fuzzed" -eq "$count" ]; then rm -rf "$scratch"; else echo "fuzz findings kept in $scratch"; fi
  echo "fuzz targets: $fuzzed of $count ran clean"
else
  echo "== fuzz targets skipped: clang++ is not installed"
fi

if [ $status -ne 0 ]; then
  echo "TESTS FAILED"
fi
exit $status
