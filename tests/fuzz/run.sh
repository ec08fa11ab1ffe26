#!/usr/bin/env bash
# Runs every fuzz target of build-fuzz/ for a fixed time (20 s, or the first
# argument) from the seeds in tests/fuzz/seeds and the ones written at build
# time; fails on any crash, leak, timeout or memory overrun. New inputs go to
# build-fuzz/corpus/ (emptied first, so runs do not pile up), reports and
# crashing inputs to build-fuzz/findings/.
#   tests/fuzz/run.sh [SECONDS]
#   tests/fuzz/run.sh --available    exit 0 when clang can build fuzz targets
set -uo pipefail
cd "$(dirname "$0")/../.."

available() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local dir
  dir=$(mktemp -d) || return 1
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' >"$dir/t.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1
  local rc=$?
  rm -rf "$dir"
  return $rc
}

if [ "${1:-}" = "--available" ]; then
  available
  exit $?
fi

secs=${1:-20}
bin=build-fuzz/tests/fuzz
if [ ! -x "$bin/fuzz_document" ]; then
  if available; then
    echo "fuzz: $bin is not built (tools/setup.sh --tests builds it)" >&2
    exit 1
  fi
  echo "fuzz: skipped: clang with libFuzzer is not installed"
  exit 0
fi

findings=build-fuzz/findings
mkdir -p "$findings" build-fuzz/corpus
passed=0
failed=0
for target in document layer_image openraster palette settings layout textarea; do
  corpus=build-fuzz/corpus/$target
  rm -rf "$corpus"
  mkdir -p "$corpus"
  seeds=(tests/fuzz/seeds/$target)
  opts=(-max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$findings/$target-")
  env=(ASAN_OPTIONS=abort_on_error=0:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
       LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp)
  if [ "$target" = document ]; then
    # The memory bomb (two 16384 x 16384 layers, 2 GiB decoded) must be
    # refused before its layers are made: the run holds 2 GiB at most, and
    # documents are limited to 256 MiB of pixels so every input stays quick.
    bomb=build-fuzz/seeds/document/two-16384-layers.plm
    seeds+=("$(dirname "$bomb")")
    opts+=(-max_len="$(stat -c %s "$bomb")")
    env+=(PLUMARO_MAX_DOC_MB=256)
  fi
  if [ "$target" = openraster ]; then
    # Archives may name drawings and pictures of any size: 256 MiB lets the
    # drawings the target builds reach the weighing of their pictures, and
    # keeps each input quick.
    env+=(PLUMARO_MAX_DOC_MB=256)
  fi
  log=$findings/$target.log
  scratch=$(mktemp -d -p "$([ -w /dev/shm ] && echo /dev/shm || echo /tmp)" plumaro-fuzz-XXXXXX)
  env+=(PLUMARO_FUZZ_TMP="$scratch")
  start=$(date +%s)
  env "${env[@]}" "$bin/fuzz_$target" "${opts[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1
  rc=$?
  rm -rf "$scratch"
  took=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$rc" = 0 ]; then
    passed=$((passed + 1))
    echo "fuzz: $target: no finding in ${took} s (${runs:-?} inputs)"
  else
    failed=$((failed + 1))
    echo "fuzz: $target: FINDING (exit $rc after ${took} s); report in $log"
    grep -E -A40 '^==[0-9]+==|^fuzz: check failed|^SUMMARY' "$log" | head -80
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
