#!/usr/bin/env bash
# One real server in a temporary home and a fleet of stand-in providers (pictora_fleet) against
# it, in one run:
#   1. the fleet registers from scratch: time until all are, the server's RSS before and after;
#   2. lookups among 1,000 and among 10,000 candidates at 1, 4 and 16 connections (lookup_bench);
#   3. a liveness pass (the default minute apart) with a lookup client running: the pass's length
#      as the providers see it, lookups during the pass and outside it;
#   4. the server killed and started again on the same home, now with ParallelLoadQueries: time
#      until all providers are back, peak RSS and descriptors, failed calls;
#   5. the lookups of 2 again, with parallel load queries.
# The server runs with NOFILE descriptors (default 65536, as its systemd unit gives it; where the
# hard limit cannot be raised, set NOFILE to it); otherwise default settings (metrics page on).
# The fleet is FLEETS processes (default 2) of PROVIDERS / FLEETS providers each, as a provider
# costs the fleet up to three descriptors.
#   bench/fleet/run.sh [BUILD_DIR]
# Environment: PROVIDERS (10000), SERVICES per provider (10), SECONDS per lookup row (5),
# REREGISTER_MS (MIN:MAX of the fleet's random wait, the stand-in's default 1000:10000),
# LIVENESS_WAIT (seconds of lookups for phase 3, 75), PHASES (default "1 2 3 4 5").
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/rel}"
bin="$build/bin"
providers="${PROVIDERS:-10000}"
services="${SERVICES:-10}"
seconds="${SECONDS_PER_ROW:-8}"
reregister="${REREGISTER_MS:-1000:10000}"
liveness_wait="${LIVENESS_WAIT:-75}"
phases=" ${PHASES:-1 2 3 4 5} "
nofile="${NOFILE:-65536}"
fleets="${FLEETS:-2}"
per_fleet=$((providers / fleets))
home="$(mktemp -d /tmp/pictora-fleet-XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "${KEEP_HOME:-}" ] || rm -rf "$home"
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port="$(free_port)"
metrics="127.0.0.1:$(free_port)"
server_folder="$home/appdata/Korvane/Pictora/Server"
mkdir -p "$server_folder" "$home/pipe" "$home/docs"
printf 'Version=1.0.0.0\nMetricsEndpoint=%s\n' "$metrics" >"$home/pictora.conf"
# The fleet's services. Each is allocated to a provider that never comes: a service allocated to
# nobody is offered to every provider that registers, and each would take them all; this way
# each registers its own (the two shared ones and the rest from the pool of 100).
{
  printf '<?xml version="1.0" standalone="yes"?>\n<Pictora><Server><Services>\n'
  for name in Fleet/Shared10k Fleet/Shared1k $(seq -f 'Fleet/Pool%04g' 0 99); do
    printf '<Service><Name>%s</Name><Source>s</Source><State>On</State><ServiceProviders>Elsewhere</ServiceProviders></Service>\n' "$name"
  done
  printf '</Services></Server></Pictora>\n'
} >"$server_folder/Pictora.Services"
server_config() {
  printf '<?xml version="1.0" standalone="yes"?><Pictora><Server><Config><Endpoint>%s</Endpoint><ParallelLoadQueries>%s</ParallelLoadQueries></Config></Server></Pictora>' \
    "$port" "$1" >"$server_folder/Pictora.PTSConfig"
}
server_pid=""
start_server() {
  server_config "$1"
  prlimit --nofile="$nofile:$nofile" env PICTORA_COMMON_APPDATA="$home/appdata" PICTORA_REGISTRY_FILE="$home/pictora.conf" \
    PICTORA_PIPE_DIR="$home/pipe" PICTORA_DOCUMENTS="$home/docs" \
    "${SERVER:-$bin/pictora-server}" -console "" "$port" </dev/null >>"$home/server.log" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  for _ in $(seq 200); do
    curl -fsS "http://$metrics/healthz" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "server did not start" >&2
  exit 1
}
kib() { awk -v key="$1:" '$1 == key {print $2}' "/proc/$server_pid/status"; }
fds() { ls "/proc/$server_pid/fd" | wc -l; }
failures() { cat "$home"/fleet-*.err | grep -c -e 'server call failed' -e 'could not register' -e 'update refused' || true; }
now_ms() { date +%s%3N; }
all_registered() { cat "$home"/fleet-*.out | grep -c "^all $per_fleet registered" || true; }
# The latest "all registered" time of each fleet process; prints the latest of them.
last_all_registered_ms() {
  for out in "$home"/fleet-*.out; do grep "^all $per_fleet registered" "$out" | tail -1; done |
    sed -n 's/.*epoch_ms=\([0-9]*\).*/\1/p' | sort -n | tail -1
}
load() { cut -d' ' -f1-3 /proc/loadavg; }
# Lookup clients from 127.0.0.x, one session and connection each, with the client's default
# time-outs (a lookup waiting longer than the 10 s call time-out counts as an error).
lookup_rows() {
  echo "| candidates | load queries | connections | lookups/s | p50 ms | p99 ms | errors | load average |"
  echo "|---|---|---|---|---|---|---|---|"
  for service in Fleet/Shared1k Fleet/Shared10k; do
    for connections in 1 4 16; do
      row="$("$bin/pictora_fleet" --server "127.0.0.1:$port" --providers 0 --lookup-clients "$connections" \
        --lookup-service "$service" --seconds "$seconds" | grep '^lookups:')"
      # lookups: N in S s, p50 X ms, p99 Y ms, errors E
      read -r count span p50 p99 errors < <(sed 's/[^0-9. ]//g' <<<"$row" | awk '{print $1, $2, $4, $6, $7}')
      echo "| ${service#Fleet/Shared} | $1 | $connections | $(awk -v n="$count" -v s="$span" 'BEGIN {printf "%.1f", n / s}') | $p50 | $p99 | $errors | $(load) |"
    done
  done
}

echo "$(nproc) cores, load average $(load) at start; $providers providers x $services services, re-registration wait $reregister ms"
echo "server runs under prlimit --nofile=$nofile:$nofile; the fleet is $fleets processes of $per_fleet providers"
start_server false
sleep 1
rss_before="$(kib VmRSS)"
echo "server RSS idle: $rss_before KiB, descriptors $(fds)"

fleet_pids=()
started_ms="$(now_ms)"
for ((f = 0; f < fleets; ++f)); do
  "$bin/pictora_fleet" --server "127.0.0.1:$port" --providers "$per_fleet" --first $((f * per_fleet)) \
    --base-port $((20000 + f * per_fleet)) --services-per-provider "$services" --shared Fleet/Shared10k:10000 \
    --shared Fleet/Shared1k:1000 --pool-services 100 --reregister-ms "$reregister" \
    >"$home/fleet-$f.out" 2>"$home/fleet-$f.err" &
  fleet_pids+=($!)
  pids+=($!)
done
for _ in $(seq 6000); do [ "$(all_registered)" -ge "$fleets" ] && break; sleep 0.1; done
echo "all $((per_fleet * fleets)) registered $(( $(last_all_registered_ms) - started_ms )) ms after the fleets started"
sleep 2
rss_after="$(kib VmRSS)"
awk -v b="$rss_before" -v a="$rss_after" -v n="$providers" -v s="$services" 'BEGIN {
  printf "server RSS registered: %d KiB (+%d KiB): %.1f KiB per provider, %.2f KiB per service\n", a, a - b, (a - b) / n, (a - b) / (n * s) }'
echo "server descriptors: $(fds), threads $(awk '$1 == "Threads:" {print $2}' /proc/$server_pid/status); failed calls in the fleet: $(failures); load average $(load)"

if [[ "$phases" == *" 2 "* ]]; then
  echo; echo "lookups, serial load queries:"
  lookup_rows serial
fi

if [[ "$phases" == *" 3 "* ]]; then
  echo; echo "liveness pass under lookups ($liveness_wait s of lookups among 1,000 candidates, 1 connection):"
  passes_before="$(grep -c '^pass ' "$home/fleet-0.out" || true)"
  "$bin/pictora_fleet" --server "127.0.0.1:$port" --providers 0 --lookup-clients 1 --lookup-service Fleet/Shared1k \
    --seconds "$liveness_wait" --lookup-log "$home/lookups.log" >"$home/lookups.out" 2>&1
  sleep 16  # the pass line comes once no ping followed for 15 s
  grep '^pass ' "$home"/fleet-*.out | tail -n +"$((passes_before + 1))"
  /usr/bin/python3 - "$home/lookups.log" "$home"/fleet-*.out <<'PY'
import sys
# A pass as the fleet saw it: from the first ping of any fleet process to the last.
spans = [tuple(int(f.split('=')[1]) for f in line.split()[1:3]) for out in sys.argv[2:] for line in open(out)
         if line.startswith('pass ')]
passes = []
for a, b in sorted(spans):
    if passes and a <= passes[-1][1] + 15000: passes[-1] = (passes[-1][0], max(passes[-1][1], b))
    else: passes.append((a, b))
print("passes (first to last ping over all fleet processes):", ", ".join(f"{(b - a) / 1000:.1f} s" for a, b in passes))
lookups = [(int(a), float(b)) for a, b in (line.split() for line in open(sys.argv[1]))]
if not lookups: sys.exit("no lookups")
first, last = lookups[0][0], lookups[-1][0]
def inside(t): return any(a <= t <= b for a, b in passes)
during = sorted(ms for t, ms in lookups if inside(t))
outside = sorted(ms for t, ms in lookups if not inside(t))
span_in = sum(max(0, min(b, last) - max(a, first)) for a, b in passes) / 1000
span_out = (last - first) / 1000 - span_in
def pct(v, p): return v[min(len(v) - 1, int(p * len(v)))] if v else 0
for name, v, span in (("during a pass", during, span_in), ("outside passes", outside, span_out)):
    print(f"lookups {name}: {len(v)} in {span:.1f} s, {len(v) / span if span > 0 else 0:.1f}/s, p50 {pct(v, .5):.2f} ms, p99 {pct(v, .99):.2f} ms")
PY
  echo "load average $(load)"
fi

if [[ "$phases" == *" 4 "* ]]; then
  echo; echo "restart storm: server killed and started again on the same home"
  hwm_fds=0
  failures_before="$(failures)"
  alls_before="$(all_registered)"
  kill -9 "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  started_ms="$(now_ms)"
  start_server true
  ready_ms="$(now_ms)"
  end=$((SECONDS + 300))
  while [ "$(all_registered)" -lt $((alls_before + fleets)) ] && [ $SECONDS -lt $end ]; do
    hwm_fds=$(( $(fds) > hwm_fds ? $(fds) : hwm_fds ))
    sleep 0.2
  done
  back_ms="$(last_all_registered_ms)"
  echo "server answering $((ready_ms - started_ms)) ms after the start; all $providers back $(( back_ms - started_ms )) ms after the start"
  echo "server peak RSS $(kib VmHWM) KiB, RSS now $(kib VmRSS) KiB, peak descriptors $hwm_fds (sampled every 0.2 s)"
  echo "failed calls in the fleet during the storm: $(( $(failures) - failures_before ))"
  cat "$home"/fleet-*.err | grep -o 'server call failed: .*\|could not register: .*\|update refused: .*' | sed 's/[0-9a-f-]\{36\}/ID/g' | sort | uniq -c | sort -rn | head -5 || true
  curl -fsS "http://$metrics/metrics" | grep -E '^pictora_call_faults_total' || echo "no call faults on the metrics page"
  echo "load average $(load)"
fi

if [[ "$phases" == *" 5 "* ]]; then
  echo; echo "lookups, parallel load queries:"
  lookup_rows parallel
fi
kill "${fleet_pids[@]}"
wait "${fleet_pids[@]}" 2>/dev/null || true
tail -qn 1 "$home"/fleet-*.out
