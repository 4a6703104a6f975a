#!/usr/bin/env bash
# Deep fuzzing: builds the fuzz preset, then runs each framer target and the INI reader to RUNS
# executions (default 10 million), two at a time, each on a fresh copy of its seed corpus. Prints
# per target the executions, the time and the outcome. A finding fails the script; its crashing
# input is kept in the findings folder named at the end (FUZZ_FINDINGS, default
# build/fuzz-findings).
#   scripts/fuzz-deep.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10000000}
case "$runs" in '' | *[!0-9]*) echo "usage: $0 [RUNS]" >&2; exit 2 ;; esac
findings=${FUZZ_FINDINGS:-build/fuzz-findings}
targets=(ashtech lb2 navcom novatel sirf topcon trimble ubx ini)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"

mkdir -p "$findings"
findings=$(cd "$findings" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# run_target NAME: writes NAME's summary line to $scratch/NAME.result.
run_target() {
    local name=$1 work=$scratch/$1 start end status executions
    mkdir -p "$work/corpus" "$work/artifacts"
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/corpus/"
    start=$(date +%s)
    status=0
    "build/fuzz/fuzz/fuzz_$name" -runs="$runs" -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1 || status=$?
    end=$(date +%s)
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
    if [ "$status" -eq 0 ] && [ -z "$(ls -A "$work/artifacts")" ]; then
        echo "$name: ${executions:-?} executions in $((end - start)) s, no finding" >"$work/result"
    else
        mkdir -p "$findings/$name"
        cp "$work/log" "$findings/$name/log"
        cp -r "$work/artifacts/." "$findings/$name/" 2>/dev/null || true
        echo "$name: FINDING after ${executions:-?} executions in $((end - start)) s (exit $status): $findings/$name" \
            >"$work/result"
    fi
}

for ((i = 0; i < ${#targets[@]}; i += 2)); do
    run_target "${targets[i]}" &
    first=$!
    if ((i + 1 < ${#targets[@]})); then
        run_target "${targets[i + 1]}" &
        wait $!
    fi
    wait "$first"
    for name in "${targets[@]:i:2}"; do cat "$scratch/$name/result"; done
done

if grep -q FINDING "$scratch"/*/result; then
    echo "fuzz-deep: findings kept in $findings" >&2
    exit 1
fi
rmdir "$findings" 2>/dev/null || true
echo "fuzz-deep: ${#targets[@]} targets, $runs executions each, no finding"
