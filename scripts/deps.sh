#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# when any of them is missing. Safe to run again: with everything present it
# only checks.
set -euo pipefail

packages=(
  build-essential
  cmake
  pkg-config
  qt6-base-dev
  qt6-base-dev-tools
  libgl-dev
  libgtest-dev
  # The CherryTree import's XML parser, and SQLite for its .ctb notebooks.
  libexpat1-dev
  libsqlite3-dev
  # The placement test under a real window manager, and the screenshots.
  xvfb
  xauth
  openbox
  fonts-dejavu-core
  qt6-translations-l10n
  # The install test's validators and the .deb's dependency scan (cpack -G DEB).
  desktop-file-utils
  appstream
  dpkg-dev
  # The sanitizer build and the fuzz targets: clang with its libFuzzer and
  # sanitizer runtimes.
  clang
  libclang-rt-14-dev
  # The layout check of the sources (.clang-format).
  clang-format
  # The tests of one catalogue on two machines: two Syncthing instances in a
  # network namespace of their own (unshare is util-linux's, always there).
  syncthing
  iproute2
)

if ! command -v dpkg >/dev/null 2>&1; then
  echo "deps: dpkg not found; install these packages by hand: ${packages[*]}" >&2
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "deps: installing ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "deps: not root and no sudo; install these packages: ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
