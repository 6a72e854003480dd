#!/usr/bin/env bash
# Installs what is missing, builds Release into build/ and starts the program
# with the arguments given.
set -euo pipefail
cd "$(dirname "$0")"
./deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTROVE_BUILD_TESTS=OFF >/dev/null
cmake --build build
if [ -x build/vantrove ]; then
  exec build/vantrove "$@"
elif [ -x build/vantrove-cli ]; then
  exec build/vantrove-cli "$@"
else
  echo "Build finished: build/ holds the engine library; the program comes in a later version."
fi
