#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts the program.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh
cmake -S . -B build
jobs=$(nproc)

# The window target is built once its entry point exists; until then only
# the command-line tool is.
gui=$(sed -n 's/^QUORVEL_GUI:BOOL=//p' build/CMakeCache.txt)
if [ "$gui" = "ON" ] && [ -f ui/main.cpp ]; then
  cmake --build build -j"$jobs" --target quorvel-tool quorvel
else
  cmake --build build -j"$jobs" --target quorvel-tool
fi

if [ -x build/quorvel ]; then
  # The program keeps its catalogue and settings beside the executable.
  exec build/quorvel
fi
build/quorvel-tool --help
