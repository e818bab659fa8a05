#!/usr/bin/env bash
# Installs the Debian packages that are missing, configures and builds (build/).
# Usage: scripts/setup.sh [extra cmake arguments]
# BUILD_DIR names another build folder; TARGETS (space-separated) builds only those.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  cmake ninja-build ccache pkg-config g++
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev libavfilter-dev
  libyuv-dev
  libpcre3-dev libuchardet-dev libcairo2-dev libpango1.0-dev fontconfig fonts-dejavu-core fonts-nanum
  libsdl2-dev qt6-base-dev qt6-svg-dev libdbus-1-dev dbus-daemon
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n appstream
  xvfb x11-apps x11-utils imagemagick xdotool qt6ct
  time
  file dpkg-dev
  git
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# In a git checkout of this tree, commits go through the message check in .githooks. A linked
# worktree shares the configuration of its main checkout, so only the main checkout sets it
# (for all of them); a worktree of a branch older than .githooks then keeps its own hooks.
if command -v git >/dev/null 2>&1 && [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ] &&
   [ "$(git rev-parse --git-dir)" = "$(git rev-parse --git-common-dir)" ]; then
  git config core.hooksPath .githooks
fi

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja "$@" >/dev/null
if [ -n "${TARGETS:-}" ]; then
  # shellcheck disable=SC2086 # one word per target
  cmake --build "$BUILD_DIR" -j"$(nproc)" --target $TARGETS
else
  cmake --build "$BUILD_DIR" -j"$(nproc)"
fi
