#!/usr/bin/env bash
# Sets everything up and runs the converter's main job on the built-in sample: a short
# generated movie with a two-language SAMI subtitle file, converted to a QVF movie with
# the subtitles burnt in. The converter says where the output is.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the converter, its component libraries and tools: the tests and benchmarks wait for
# scripts/test.sh.
TARGETS=converter_programs scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
exec "$BUILD_DIR/bin/tavrion-convert" --demo
