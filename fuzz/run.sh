#!/usr/bin/env bash
# Builds the fuzz targets, makes the seeds when they are missing, and runs every
# target for a bounded time, a few side by side. Each target keeps its growing
# input set in fuzz/work/<target>/ and writes crashing inputs and its log to
# fuzz/findings/. At the end the executions and the coverage (libFuzzer's edge
# and feature counts) of every target are listed.
#
#   fuzz/run.sh [seconds per target (default 600)] [targets side by side (default 3)] [target ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
seconds="${1:-600}"
parallel="${2:-3}"
shift $(( $# > 2 ? 2 : $# ))
bash fuzz/build.sh >/dev/null
[ -d fuzz/seeds ] || bash fuzz/make_seeds.sh
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_wav_header fuzz_block_decoder fuzz_container fuzz_segments fuzz_roundtrip)
mkdir -p fuzz/findings

# The segment target's inputs take milliseconds, or a tenth of a second when they
# decode a full block: the quick ones are picked more often.
target_options() {
  case "$1" in
    fuzz_segments) echo -entropic_scale_per_exec_time=1 ;;
  esac
}

run_one() {
  local t="$1"
  mkdir -p "fuzz/work/$t" "fuzz/findings/$t"
  # Large inputs slow every execution; 300 KB holds several blocks of samples.
  # A few hundred bytes of container can rightly describe millions of nearly
  # silent samples, which take a minute to decode under the sanitizers: the
  # time limit of one input is well above that.
  # shellcheck disable=SC2046
  "build-fuzz/fuzz/$t" -max_total_time="$seconds" -max_len=300000 -timeout=300 -rss_limit_mb=2048 \
    $(target_options "$t") -print_final_stats=1 -artifact_prefix="fuzz/findings/$t/" \
    "fuzz/work/$t" "fuzz/seeds/$t" >"fuzz/findings/$t.log" 2>&1 || true
}

running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

status=0
for t in "${targets[@]}"; do
  runs="$(grep -o 'stat::number_of_executed_units: [0-9]*' "fuzz/findings/$t.log" | awk '{print $2}' | tail -n 1)"
  coverage="$(grep -o 'cov: [0-9]* ft: [0-9]*' "fuzz/findings/$t.log" | tail -n 1)"
  # Slow units are kept for a look but are no failure.
  crashes="$(find "fuzz/findings/$t" -type f ! -name 'slow-unit-*' | wc -l)"
  slow="$(find "fuzz/findings/$t" -type f -name 'slow-unit-*' | wc -l)"
  echo "$t: ${runs:-0} executions, ${coverage:-no coverage}, $crashes failing inputs, $slow slow inputs"
  [ "$crashes" -eq 0 ] || status=1
done
exit "$status"
