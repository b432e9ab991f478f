#!/usr/bin/env bash
# Builds the Debian package build-package/velmora_<version>_<arch>.deb: the window and the command line, optimised
# and hardened with Debian's own compiler flags.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
export CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
export LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$top" -B "$top/build-package" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF \
  -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-package" -j"$(nproc)"
(cd "$top/build-package" && cpack -G DEB)
