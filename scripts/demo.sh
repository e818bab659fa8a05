#!/usr/bin/env bash
# Sets everything up and runs the converter's main job on the built-in sample.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
if [ -x "$BUILD_DIR/bin/tavrion-convert" ]; then
  exec "$BUILD_DIR/bin/tavrion-convert" --demo
fi
# The converter is not built yet: show what exists, the platform's component
# registration into a private registry.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TAVRION_REGISTRY_DIR="$work/registry"
mkdir -p "$TAVRION_REGISTRY_DIR"
echo "The converter is not built yet; registering the component libraries that exist:"
# The graph library comes first: the others register their filters through its mapper.
libs=("$BUILD_DIR/lib/libtavrionstreaming.so")
for lib in "$BUILD_DIR"/lib/*.so; do
  [ "$lib" = "${libs[0]}" ] || libs+=("$lib")
done
for lib in "${libs[@]}"; do
  [ -e "$lib" ] || continue
  if nm -D --defined-only "$lib" 2>/dev/null | grep -q ' DllRegisterServer$'; then
    "$BUILD_DIR/bin/regsvr" "$lib" || echo "  (registration of $(basename "$lib") failed; continuing)"
  fi
done
"$BUILD_DIR/bin/regdump" HKEY_CLASSES_ROOT\\CLSID
