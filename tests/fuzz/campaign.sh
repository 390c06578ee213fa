#!/usr/bin/env bash
# Runs the libFuzzer targets of the sanitizer tree (build-asan/) and reports
# what each reached. The test command runs every target briefly; a long
# campaign for one target is the same command with more time:
#
#   tests/fuzz/campaign.sh [-t SECONDS] [-k] [TARGET ... | all]
#
#   -t SECONDS  time per target (default 30)
#   -k          keep what the run discovers: new inputs go to
#               out/fuzz/<target>/corpus, which later runs start from
#
# Crashes, sanitizer reports and leaks fail the run; their inputs are kept in
# out/fuzz/<target>/ for the regression test that must follow.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1

seconds=30
keep=0
while getopts "t:k" option; do
  case $option in
  t) seconds=$OPTARG ;;
  k) keep=1 ;;
  *) sed -n '2,14p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

build=build-asan
available=()
for source in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$source" _fuzz.cpp)
  available+=("$name")
done

targets=("$@")
if ((${#targets[@]} == 0)) || [[ ${targets[0]} == all ]]; then targets=("${available[@]}"); fi

if [[ ! -d $build ]] || ! ls "$build"/tests/fuzz/fuzz_* >/dev/null 2>&1; then
  ./setup.sh sanitize || exit 1
fi

passed=0
failed=0
for name in "${targets[@]}"; do
  binary=$build/tests/fuzz/fuzz_$name
  seeds=tests/fuzz/corpus/$name
  out=out/fuzz/$name
  mkdir -p "$out"
  if [[ ! -x $binary ]]; then
    echo "fuzz $name: no binary $binary (is it listed in tests/fuzz/CMakeLists.txt?)"
    failed=$((failed + 1))
    continue
  fi
  if ((keep)); then
    work=$out/corpus
    mkdir -p "$work"
  else
    work=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-fuzz.XXXXXX")
  fi
  log=$out/last-run.log
  # Findings land in $out; the seed corpus in the repository is only read.
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$binary" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 -timeout=20 \
    -artifact_prefix="$out/" "$work" "$seeds" >"$log" 2>&1
  status=$?
  ((keep)) || rm -rf "$work"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -n1)
  cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
  features=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
  corpus=$(sed -nE 's/.* corp: ([0-9]+).*/\1/p' <<<"$last")
  printf 'fuzz %-16s %ss: %s executions, coverage %s edges, %s features, corpus %s\n' \
    "$name" "$seconds" "${execs:-?}" "${cov:-?}" "${features:-?}" "${corpus:-?}"
  if ((status == 0)) && [[ ! ${execs:-0} =~ ^[1-9][0-9]*$ ]]; then
    # Ended well having run nothing: a target that returns at once, or a
    # run that never reached the fuzzing loop, has tested nothing.
    failed=$((failed + 1))
    echo "fuzz $name: FAILED: it ran no input (${execs:-no count of executions}); the end of its log:"
    tail -n 5 "$log" | sed 's/^/  /'
  elif ((status == 0)); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "fuzz $name: FAILED (exit $status); the report:"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written|#[0-9]+ .*in ' "$log" | head -n 30 | sed 's/^/  /'
  fi
done
echo "$passed passed, $failed failed"
((failed == 0))
