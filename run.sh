#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts the program.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh
cmake -S . -B build
jobs=$(nproc)

cmake --build build -j"$jobs" --target quorvel-tool quorvel

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: build/quorvel is built, but there is no display to show it on." >&2
  echo "run.sh: start it from a desktop session, or under xvfb-run." >&2
  exit 1
fi
# The program keeps its catalogue and settings beside the executable.
exec build/quorvel
