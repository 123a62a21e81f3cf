#!/usr/bin/env bash
# Installs what is missing, builds everything under AddressSanitizer and UBSan, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --test
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
