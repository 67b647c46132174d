#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs all tests.
# The exit status is ctest's.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh
# CI sets QUORVEL_WERROR=ON: warnings fail the build there.
cmake -S . -B build -DQUORVEL_WERROR="${QUORVEL_WERROR:-OFF}"
cmake --build build -j"$(nproc)"

set +e
ctest --test-dir build --output-on-failure
status=$?
exit $status
