#!/usr/bin/env bash
# Sets everything up (packages, configure, build) and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
cd "$BUILD_DIR"
# Every label (unit, e2e, gui), each test once: a test that fails is a fault to fix, not
# one to retry.
ctest --output-on-failure -j"$(nproc)" --timeout 600
