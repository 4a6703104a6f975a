#!/usr/bin/env bash
# Measures a fleet: RECEIVERS simulated receivers on pseudo-terminals, SERVED of them behind
# ser2net (RFC 2217), all brought to new rates by one `velinor fleet`; then the slowest of them
# alone with `velinor set`. Prints the fleet's wall time against that single session's, the fleet
# process's CPU time, peak memory and peak threads and descriptors, and what is left once it
# has ended (lock files, the simulators' and servers' descriptors: none may leak).
#   bash scripts/bench-fleet.sh [BUILD_DIR] [RECEIVERS] [SERVED]     (defaults: build/debug 32 8)
set -euo pipefail
build=${1:-build/debug}
count=${2:-32}
served=${3:-8}
velinor="$(cd "$build" && pwd)/velinor"
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
export VELINOR_LOCK_DIR="$work" XDG_CONFIG_HOME="$work/config"

# A rate each type runs at first and one it is taken to (both in every type's list).
starts=(9600 19200 38400 4800)
targets=(38400 57600 115200 19200)
fleet="$work/fleet.txt"
: > "$fleet"
for i in $(seq 0 $((count - 1))); do
    type=$(( i % 17 + 1 ))
    start=${starts[$(( i % 4 ))]}
    target=${targets[$(( (i / 4) % 4 ))]}
    [ "$start" = "$target" ] && target=9600
    "$velinor" sim --receiver "$type" --baud "$start" > "$work/sim$i" 2>&1 &
    pids+=($!)
    until [ -s "$work/sim$i" ]; do sleep 0.05; done
    pty=$(head -1 "$work/sim$i")
    port="$pty"
    if [ "$i" -lt "$served" ]; then
        tcp=$(( 47100 + i ))
        ser2net -n -u -Y "connection: &c$i" -Y "  accepter: telnet(rfc2217),tcp,127.0.0.1,$tcp" \
            -Y "  connector: serialdev,$pty,${start}n81,local" > /dev/null 2>&1 &
        pids+=($!)
        port="rfc2217://127.0.0.1:$tcp"
    fi
    echo "$type $port $target" >> "$fleet"
done
sleep 1

# Threads and descriptors of process $1 as "threads descriptors", empty once it has ended.
sample() {
    local threads fds
    threads=$(awk '/^Threads/ {print $2}' "/proc/$1/status" 2>/dev/null) || return 0
    fds=$(ls "/proc/$1/fd" 2>/dev/null | wc -l)
    [ -n "$threads" ] && echo "$threads $fds"
}
# Descriptors held by the simulators and servers: a session that leaves a connection or a
# terminal open shows here.
helpersFds() { local n=0; for p in "${pids[@]}"; do n=$(( n + $(ls "/proc/$p/fd" 2>/dev/null | wc -l) )); done; echo $n; }
fdsBefore=$(helpersFds)
started=$(date +%s.%N)
/usr/bin/time -f "%e %U %S %M" -o "$work/usage" "$velinor" fleet "$fleet" --json > "$work/result.json" &
runner=$!
peakThreads=0
peakFds=0
while kill -0 "$runner" 2>/dev/null; do
    fleetPid=$(pgrep -P "$runner" | head -1 || true)
    if [ -n "$fleetPid" ] && now=$(sample "$fleetPid") && [ -n "$now" ]; then
        read -r t f <<< "$now"
        [ "$t" -gt "$peakThreads" ] && peakThreads=$t
        [ "$f" -gt "$peakFds" ] && peakFds=$f
    fi
    sleep 0.1
done
wait "$runner" || true
ended=$(date +%s.%N)
sleep 1
fdsAfter=$(helpersFds)
locksLeft=$(ls "$work" | grep -c '^LCK\.\.' || true)
read -r wall user sys rss < "$work/usage"

slowest=$(python3 -c "
import json,sys
d=json.load(open('$work/result.json'))
rows=d['receivers']; r=max(rows, key=lambda r: r['seconds'])
print(r['line'], r['seconds'], d['confirmed'], d['total'])")
read -r line seconds confirmed total <<< "$slowest"
# That receiver alone: back to where it started, then the same session on its own.
read -r type port target <<< "$(sed -n "${line}p" "$fleet")"
start=${starts[$(( (line - 1) % 4 ))]}
"$velinor" set --receiver "$type" --port "$port" --baud "$start" --until-confirmed --timeout 300 > /dev/null 2>&1 || true
single0=$(date +%s.%N)
"$velinor" set --receiver "$type" --port "$port" --baud "$target" --last-baud 0 --until-confirmed --timeout 300 > /dev/null 2>&1 || true
single1=$(date +%s.%N)

python3 - <<EOF
wall = $ended - $started
single = $single1 - $single0
print(f"fleet: {$confirmed}/{$total} confirmed ({$count} receivers, {$served} behind ser2net)")
print(f"fleet wall time {wall:.1f} s; slowest receiver (line $line, type $type) {$seconds} s in the fleet, {single:.1f} s alone; ratio {wall / single:.2f}")
print(f"fleet process: CPU {$user} s user + {$sys} s system, peak memory {$rss} KiB")
print(f"fleet process at its peak: $peakThreads threads, $peakFds descriptors")
print(f"after it ended: $locksLeft lock files left; simulators and servers held $fdsBefore descriptors before, $fdsAfter after")
EOF
