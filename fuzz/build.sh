#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-fuzz -DQO_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"${QO_FUZZ_JOBS:-3}"
