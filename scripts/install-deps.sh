#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Debian package need, once: packages already present are
# left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config python3 clang-format
  qt6-base-dev libgl-dev qt6-translations-l10n
  mdbtools libglib2.0-dev
  libgsf-1-dev libxlsxwriter-dev libcli11-dev
  libfreexl-dev libgtest-dev nlohmann-json3-dev
  # The Unicode data scripts/make-text-folding.py makes the order of text's tables from.
  unicode-data
  # The manual page and the package (cpack needs file and dpkg-shlibdeps), and the tools that check them.
  help2man file dpkg-dev lintian desktop-file-utils appstream
)
if [ "${1:-}" = "--with-fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
