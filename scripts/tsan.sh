#!/usr/bin/env bash
# Builds the tests of the threaded parts with ThreadSanitizer and runs them: the runtime's
# events, waits and threads, the graph manager (clock, connection, events, mapper, sources,
# streaming), the camera-movie exporter and the splitters. Any report fails the run; the few
# that come from libraries built without the sanitizer are listed, each with its reason, in
# tests/sanitizers/tsan.supp.
#   scripts/tsan.sh [gtest arguments, e.g. --gtest_filter=Sync.*]
# BUILD_DIR names the build folder (build-tsan). The first build takes a while: the
# programs, the libraries they load and the graph inspector the splitter test runs, all
# instrumented.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-tsan}
TESTS=(
  runtime_sync_test
  streaming_graph_clock_test streaming_graph_connect_test streaming_graph_events_test
  streaming_graph_mapper_test streaming_graph_source_test streaming_graph_streaming_test
  vxcamwriter_filter_test vxcamwriter_engine_test
  filters_splitters_test
)
BUILD_DIR=$BUILD_DIR TARGETS="${TESTS[*]}" scripts/setup.sh -DTAVRION_TSAN=ON -DTAVRION_BENCH=OFF

# The same settings every test of this build runs with under ctest (CMakeLists.txt).
export TSAN_OPTIONS="second_deadlock_stack=1:suppressions=$PWD/tests/sanitizers/tsan.supp"
failed=()
for t in "${TESTS[@]}"; do
  echo "== $t"
  if ! "$BUILD_DIR/tests/$t" "$@"; then failed+=("$t"); fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "ThreadSanitizer run failed: ${failed[*]}" >&2
  exit 1
fi
echo "ThreadSanitizer run clean: ${#TESTS[@]} test programs"
