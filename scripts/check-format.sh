#!/usr/bin/env bash
# Fails when a source file is not formatted as .clang-format says (Debian 12's clang-format).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format --dry-run --Werror
echo "every source file is formatted"
