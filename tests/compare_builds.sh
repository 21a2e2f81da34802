#!/usr/bin/env bash
# Builds qo for the host (x86-64) and for another processor with one of the toolchain
# files of cmake/, compresses WAV files with each build in normal and high mode, and
# checks that both builds write the same container byte for byte and that each build
# restores the other's container to the original file. Files the compressor refuses
# must be refused alike by both builds.
#
#   tests/compare_builds.sh TARGET [file.wav ...]     (default: every WAV of ../shared/corpus)
#
# TARGET is i686, aarch64 or s390x: the toolchain file cmake/TARGET-linux-gnu.cmake,
# built in build-TARGET. Exits non-zero on any mismatch.
# Where this machine cannot run the target's programs itself, QO_CROSS_RUNNER names a
# command that runs them, such as "qemu-aarch64 -L /usr/aarch64-linux-gnu" (Debian:
# qemu-user); build-TARGET is then configured to run its unit tests through it too.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

target="${1:?usage: tests/compare_builds.sh TARGET [file.wav ...]}"
shift
toolchain="$root/cmake/$target-linux-gnu.cmake"
[ -f "$toolchain" ] || { echo "no toolchain file $toolchain" >&2; exit 2; }
jobs="${QO_COMPARE_JOBS:-3}"
read -r -a runner <<<"${QO_CROSS_RUNNER:-}"
# CMake takes the emulator and its arguments as a list; an empty one clears an earlier one.
emulator="$(IFS=';'; echo "${runner[*]}")"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs" --target qo >/dev/null
cmake -S . -B "build-$target" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=$emulator" >/dev/null
cmake --build "build-$target" -j"$jobs" --target qo >/dev/null
qohost="$root/build/qo"
qotarget="$root/build-$target/qo"
runhost() { "$qohost" "$@"; }
runtarget() { ${runner[@]+"${runner[@]}"} "$qotarget" "$@"; }

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

# compress RUN WAV CONTAINER FLAGS (RUN: runhost or runtarget): prints the exit status and the error text.
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
    resulthost="$(compress runhost "$wav" "$scratch/host.qo" "$flags")"
    resulttarget="$(compress runtarget "$wav" "$scratch/target.qo" "$flags")"
    if [ "$resulthost" != "$resulttarget" ]; then
      fail "$label: the builds end differently: [$resulthost] [$resulttarget]"
      continue
    fi
    if [ ! -f "$scratch/host.qo" ] && [ ! -f "$scratch/target.qo" ]; then
      echo "ok $label: refused by both builds: ${resulthost#* }"
      passed=$((passed + 1))
      continue
    fi
    if ! cmp -s "$scratch/host.qo" "$scratch/target.qo"; then
      fail "$label: the containers differ"
      continue
    fi
    runtarget -overwrite "$scratch/host.qo" "$scratch/bytarget.wav" >/dev/null 2>"$scratch/errtarget" || true
    runhost -overwrite "$scratch/target.qo" "$scratch/byhost.wav" >/dev/null 2>"$scratch/errhost" || true
    if ! cmp -s "$wav" "$scratch/bytarget.wav"; then
      fail "$label: the $target build does not restore the host's container: $(tr -d '\n' <"$scratch/errtarget")"
    elif ! cmp -s "$wav" "$scratch/byhost.wav"; then
      fail "$label: the host build does not restore the $target container: $(tr -d '\n' <"$scratch/errhost")"
    else
      echo "ok $label: $(stat -c %s "$scratch/host.qo") bytes, identical, restored by both"
      passed=$((passed + 1))
    fi
  done
done

echo "compare-$target: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
