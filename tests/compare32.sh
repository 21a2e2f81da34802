#!/usr/bin/env bash
# Builds qo for the host (x86-64) and for 32-bit x86, compresses WAV files with
# each build in normal and high mode, and checks that both builds write the
# same container byte for byte and that each build restores the other's
# container to the original file. Files the compressor refuses must be refused
# alike by both builds.
#
#   tests/compare32.sh [file.wav ...]     (default: every WAV of ../shared/corpus)
#
# Needs g++ with -m32 support (Debian: g++-multilib). Exits non-zero on any mismatch.
# Where the kernel cannot run 32-bit programs, QO32_RUNNER names a command that runs
# the 32-bit build for it, such as qemu-i386 (Debian: qemu-user); build32 is then
# configured to run its unit tests through the same command.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

jobs="${QO_COMPARE_JOBS:-3}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs" --target qo >/dev/null
cmake -S . -B build32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-linux-gnu.cmake" \
  ${QO32_RUNNER:+"-DCMAKE_CROSSCOMPILING_EMULATOR=$QO32_RUNNER"} >/dev/null
cmake --build build32 -j"$jobs" --target qo >/dev/null
qo64="$root/build/qo"
qo32="$root/build32/qo"
read -r -a runner32 <<<"${QO32_RUNNER:-}"
run64() { "$qo64" "$@"; }
run32() { "${runner32[@]}" "$qo32" "$@"; }

if [ $# -gt 0 ]; then
  files=("$@")
else
  files=("$root"/../shared/corpus/*.wav)
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0

fail() {
  echo "MISMATCH $1"
  failed=$((failed + 1))
}

# compress RUN WAV CONTAINER FLAGS (RUN: run64 or run32): prints the exit status and the error text.
compress() {
  local status=0
  "$1" -overwrite $4 "$2" "$3" >/dev/null 2>"$scratch/err" || status=$?
  echo "$status $(tr -d '\n' <"$scratch/err")"
}

for wav in "${files[@]}"; do
  name="$(basename "$wav" .wav)"
  for mode in normal high; do
    flags=""
    [ "$mode" = high ] && flags="-high"
    label="$name ($mode)"
    rm -f "$scratch"/*
    result64="$(compress run64 "$wav" "$scratch/a64.qo" "$flags")"
    result32="$(compress run32 "$wav" "$scratch/a32.qo" "$flags")"
    if [ "$result64" != "$result32" ]; then
      fail "$label: the builds end differently: [$result64] [$result32]"
      continue
    fi
    if [ ! -f "$scratch/a64.qo" ] && [ ! -f "$scratch/a32.qo" ]; then
      echo "ok $label: refused by both builds: ${result64#* }"
      passed=$((passed + 1))
      continue
    fi
    if ! cmp -s "$scratch/a64.qo" "$scratch/a32.qo"; then
      fail "$label: the containers differ"
      continue
    fi
    run32 -overwrite "$scratch/a64.qo" "$scratch/by32.wav" >/dev/null 2>"$scratch/err32" || true
    run64 -overwrite "$scratch/a32.qo" "$scratch/by64.wav" >/dev/null 2>"$scratch/err64" || true
    if ! cmp -s "$wav" "$scratch/by32.wav"; then
      fail "$label: the 32-bit build does not restore the 64-bit container: $(tr -d '\n' <"$scratch/err32")"
    elif ! cmp -s "$wav" "$scratch/by64.wav"; then
      fail "$label: the 64-bit build does not restore the 32-bit container: $(tr -d '\n' <"$scratch/err64")"
    else
      echo "ok $label: $(stat -c %s "$scratch/a64.qo") bytes, identical, restored by both"
      passed=$((passed + 1))
    fi
  done
done

echo "compare32: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
