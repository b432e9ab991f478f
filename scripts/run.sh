#!/usr/bin/env bash
# Builds the program and starts its window, with the demo database beside it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build" --target velmora -j"$(nproc)"
# The program reads Impuest.mdb from its own folder; an existing one is never overwritten.
[ -e "$top/build/bin/Impuest.mdb" ] || cp "$top/demo/Impuest.mdb" "$top/build/bin/Impuest.mdb"
exec "$top/build/bin/velmora" "$@"
