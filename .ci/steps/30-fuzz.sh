#!/usr/bin/env bash
# A bounded fuzzing run of the codec: the fuzz target built with libFuzzer and
# the sanitizers, started from a copy of the kept seeds and bad files, for
# FUZZ_SECONDS seconds (default 180) on two processes. A crash, sanitizer
# report, failed check, timeout or memory blow-up fails the step; the input
# that caused it is kept in build/fuzz/findings/ (add it to fuzz/regressions/
# once fixed).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${FUZZ_SECONDS:-180}"

cmake --workflow --preset fuzz

root="$PWD"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cp fuzz/corpus/* fuzz/regressions/* "$work/corpus/"
findings="$root/build/fuzz/findings"
rm -rf "$findings"
mkdir -p "$findings"

cd "$work"
status=0
"$root/build/fuzz/fuzz/tga_fuzzer" corpus \
  -fork=2 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -ignore_crashes=0 -ignore_timeouts=0 -ignore_ooms=0 \
  -dict="$root/fuzz/tga.dict" -artifact_prefix="$findings/" \
  -print_final_stats=1 >fuzz.log 2>&1 || status=$?
cp fuzz.log "$root/build/fuzz/fuzz.log"
grep -E '^#[0-9]+: cov:' fuzz.log | tail -n 3 || true
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
  tail -n 60 fuzz.log
  echo "fuzzing failed (status $status); inputs kept in $findings:"
  ls -l "$findings"
  exit 1
fi
echo "fuzzing: no findings in ${seconds} s ($(ls corpus | wc -l) corpus entries)"
