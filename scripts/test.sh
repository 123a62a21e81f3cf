#!/usr/bin/env bash
# Installs what is missing, builds everything under AddressSanitizer and UBSan, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --test
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
# The fuzz targets under clang's libFuzzer, ASan and UBSan: each runs its saved corpus
# (tests/fuzz/corpus) and a fixed number of new inputs. Only the fuzz targets are built.
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DLUMIVALE_FUZZ=ON -DLUMIVALE_TESTS=OFF -DLUMIVALE_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1
cmake --build build/fuzz -j2 --target lumivale_fuzz
ctest --test-dir build/fuzz --output-on-failure
