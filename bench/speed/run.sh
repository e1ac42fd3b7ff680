#!/usr/bin/env bash
# Null calls against the loopback limit, in one run on one machine:
#   bench/speed/run.sh [BUILD_DIR] [SECONDS_PER_ROUND] [ROUNDS] [CONNECTIONS...]
# Every measured thing is a row: a function row_NAME that takes a connection count and prints
# "calls_per_second p50_us p99_us failures". Rounds interleave the rows (in a rotating order) so
# that the shared machine's changing load hits them alike; the table shows each row's medians and
# the median over rounds of its rate divided by the echo's rate in the same round.
# To add a row: start what it needs in start_servers, write row_NAME, append NAME to rows.
# BASELINE_SERVER=path/to/another/dcerpc_speed_server adds the row null_baseline: its null call,
# e.g. from a build of the code before a change, measured in the same rounds.
# The row product_null is procedure 0 (GetVersion) of a real pictora-server with the default
# configuration and its metrics page on, driven like null; BASELINE_PRODUCT=path/to/another/
# pictora-server adds product_null_baseline, the same against that build. PRODUCT=0 leaves them out.
# The rows lookup_serial and lookup_parallel are lookups (procedure 13) of a service run by three
# stand-in providers (loads 0.7, 0.2, 0.5), against a real pictora-server with
# ParallelLoadQueries off and on and its metrics page on (a free port); the rows ending in
# _nometrics are the same against servers whose installation key turns the page off
# (MetricsEndpoint=), so the calls are not counted. LOOKUPS=0 leaves them out.
# The row lookup_serial_polled is lookup_serial against a server whose status API a client polls
# meanwhile (all four documents every API_POLL_MS, 250 by default: eight times the status page's
# rate). API=0 leaves it out.
# PROVIDER_DELAY_US makes each provider wait that long before every answer, as providers across
# a network would.
# RESULTS=path keeps the rounds' lines ("connections round row calls/s p50 p99 failures ticks").
# Below the table, each "with" row's rate over its "without" row's in the same round (medians).
# "cpu us/call" is the CPU time (user + system) the process serving the row used during the row,
# per call (median over rounds): steadier than the rates on a shared machine, as a neighbour's
# load slows the calls but hardly changes what each costs. The echo, null and null_observed rows
# share one process, idle but for the row being measured; a lookup row's providers are not in it.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/release}"
seconds="${2:-2}"
rounds="${3:-5}"
connection_counts=(1 4 16)
[ $# -gt 3 ] && connection_counts=("${@:4}")
bin="$build/bin"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a speed server; its "NAME PORT" lines land in $work/ports.$2. Stops when this script ends.
start_speed_server() {
  mkfifo "$work/control.$2"
  "$1" <"$work/control.$2" >"$work/ports.$2" 2>"$work/server.$2.log" &
  pids+=($!)
  printf -v "pid_$2" '%s' "$!"
  exec {fd}>"$work/control.$2"  # held open: the server serves until this script ends
  for _ in $(seq 100); do grep -q '^ready' "$work/ports.$2" && break; sleep 0.05; done
}
port_of() { awk -v name="$2" '$1 == name {print $2}' "$work/ports.$1"; }

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# A pictora-server ($2) in a home of its own under $work/$1, its metrics page on; its port in
# $server_port_<name>, its metrics endpoint in $metrics_<name>. $3: more children of the
# configuration's Config element (none: the defaults); $4: "metrics" serves the metrics page.
start_pictora_server() {
  local home="$work/$1" port metrics=""
  port="$(free_port)"
  [ "$4" = metrics ] && metrics="127.0.0.1:$(free_port)"
  printf -v "metrics_$1" '%s' "$metrics"
  mkdir -p "$home/appdata/Korvane/Pictora/Server" "$home/pipe" "$home/docs"
  printf 'Version=1.0.0.0\nMetricsEndpoint=%s\n' "$metrics" >"$home/pictora.conf"
  printf '<?xml version="1.0" standalone="yes"?>\n<Pictora><Server><Services>\n<Service><Name>Images/Thumbs</Name><Source>s</Source><State>On</State><ServiceProviders></ServiceProviders></Service>\n</Services></Server></Pictora>\n' \
    >"$home/appdata/Korvane/Pictora/Server/Pictora.Services"
  printf '<?xml version="1.0" standalone="yes"?><Pictora><Server><Config><Endpoint>%s</Endpoint>%s</Config></Server></Pictora>' \
    "$port" "$3" >"$home/appdata/Korvane/Pictora/Server/Pictora.PTSConfig"
  home_env=(env PICTORA_COMMON_APPDATA="$home/appdata" PICTORA_REGISTRY_FILE="$home/pictora.conf"
            PICTORA_PIPE_DIR="$home/pipe" PICTORA_DOCUMENTS="$home/docs")
  : >"$home/server.log"
  "${home_env[@]}" "$2" -console "" "$port" </dev/null 2>"$home/server.log" &
  pids+=($!)
  printf -v "pid_$1" '%s' "$!"
  for _ in $(seq 100); do grep -q "listening at endpoint" "$home/server.log" && break; sleep 0.05; done
  printf -v "server_port_$1" '%s' "$port"
}

# A pictora-server as start_pictora_server starts it, without logs, with three stand-in providers;
# its port in $lookup_port_<name>. $2: the ParallelLoadQueries value; $3: "metrics" or not.
start_lookup_server() {
  start_pictora_server "$1" "$bin/pictora-server" \
    "<CreateLogs>false</CreateLogs><ParallelLoadQueries>$2</ParallelLoadQueries>" "$3"
  local home="$work/$1" port="server_port_$1"
  port="${!port}"
  for load in 0.7 0.2 0.5; do
    "${home_env[@]}" "$bin/pictora-provider" --name "Load$load" --server "127.0.0.1:$port" --host 127.0.0.1 \
      --load "$load" --answer-delay-us "${PROVIDER_DELAY_US:-0}" 2>"$home/provider-$load.log" &
    pids+=($!)
  done
  for load in 0.7 0.2 0.5; do
    for _ in $(seq 100); do grep -q "registered service" "$home/provider-$load.log" && break; sleep 0.05; done
  done
  printf -v "lookup_port_$1" '%s' "$port"
}

start_servers() {
  start_speed_server "$bin/dcerpc_speed_server" main
  row_server=([echo]=main [null]=main [null_observed]=main [null_baseline]=baseline [product_null]=product
              [product_null_baseline]=product_baseline [lookup_serial]=serial [lookup_parallel]=parallel
              [lookup_serial_nometrics]=serial_nometrics [lookup_parallel_nometrics]=parallel_nometrics
              [lookup_serial_polled]=serial_polled)
  echo_port="$(port_of main echo)"
  null_port="$(port_of main null)"
  observed_port="$(port_of main observed)"
  if [ -n "${BASELINE_SERVER:-}" ]; then
    start_speed_server "$BASELINE_SERVER" baseline
    baseline_port="$(port_of baseline null)"
    rows+=(null_baseline)
  fi
  if [ "${PRODUCT:-1}" != 0 ]; then
    start_pictora_server product "$bin/pictora-server" "" metrics
    rows+=(product_null)
    if [ -n "${BASELINE_PRODUCT:-}" ]; then
      start_pictora_server product_baseline "$BASELINE_PRODUCT" "" metrics
      rows+=(product_null_baseline)
    fi
  fi
  if [ "${LOOKUPS:-1}" != 0 ]; then
    start_lookup_server serial false metrics
    start_lookup_server parallel true metrics
    start_lookup_server serial_nometrics false off
    start_lookup_server parallel_nometrics true off
    rows+=(lookup_serial lookup_serial_nometrics lookup_parallel lookup_parallel_nometrics)
    if [ "${API:-1}" != 0 ]; then
      start_lookup_server serial_polled false metrics
      poll_status_api "$metrics_serial_polled" &
      pids+=($!)
      rows+=(lookup_serial_polled)
    fi
  fi
}

# What the status page asks for, over and over, until this script ends.
poll_status_api() {
  local pause
  pause="$(awk -v ms="${API_POLL_MS:-250}" 'BEGIN {print ms / 1000}')"
  while :; do
    for document in providers services sessions cluster; do curl -fsS "http://$1/api/v1/$document" >/dev/null || true; done
    sleep "$pause"
  done
}

row_echo() { "$bin/dcerpc_speed_client" echo "$echo_port" "$1" "$seconds"; }
row_null() { "$bin/dcerpc_speed_client" null "$null_port" "$1" "$seconds"; }
row_null_observed() { "$bin/dcerpc_speed_client" null "$observed_port" "$1" "$seconds"; }
row_null_baseline() { "$bin/dcerpc_speed_client" null "$baseline_port" "$1" "$seconds"; }
row_product_null() { "$bin/dcerpc_speed_client" version "$server_port_product" "$1" "$seconds"; }
row_product_null_baseline() { "$bin/dcerpc_speed_client" version "$server_port_product_baseline" "$1" "$seconds"; }
lookup_row() {
  "$bin/lookup_bench" --row --server "127.0.0.1:$1" --service Images/Thumbs --seconds "$seconds" --connections "$2"
}
row_lookup_serial() { lookup_row "$lookup_port_serial" "$1"; }
row_lookup_parallel() { lookup_row "$lookup_port_parallel" "$1"; }
row_lookup_serial_nometrics() { lookup_row "$lookup_port_serial_nometrics" "$1"; }
row_lookup_parallel_nometrics() { lookup_row "$lookup_port_parallel_nometrics" "$1"; }
row_lookup_serial_polled() { lookup_row "$lookup_port_serial_polled" "$1"; }

rows=(echo null null_observed)
declare -A row_server

# CPU time (user + system, in clock ticks) the process serving a row has used so far.
server_ticks() {
  local pid="pid_${row_server[$1]}"
  awk '{print $14 + $15}' "/proc/${!pid}/stat"
}

start_servers
echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at start; $rounds rounds of ${seconds} s per row"
for connections in "${connection_counts[@]}"; do
  for round in $(seq "$rounds"); do
    for i in "${!rows[@]}"; do
      row="${rows[$(( (i + round) % ${#rows[@]} ))]}"
      before="$(server_ticks "$row")"
      measured="$("row_$row" "$connections")"
      echo "$connections $round $row $measured $(( $(server_ticks "$row") - before ))" >>"$work/results"
    done
  done
done
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
[ -n "${RESULTS:-}" ] && cp "$work/results" "$RESULTS"

/usr/bin/python3 - "$work/results" "$seconds" "$(getconf CLK_TCK)" "${rows[@]}" <<'PY'
import statistics, sys
path, seconds, ticks_per_second, rows = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), sys.argv[4:]
data = {}
for line in open(path):
    connections, round_, row, rate, p50, p99, failures, ticks = line.split()
    calls = float(rate) * seconds
    cpu = int(ticks) / ticks_per_second * 1e6 / calls if calls > 0 else 0.0
    data.setdefault((int(connections), row), {})[int(round_)] = (float(rate), float(p50), float(p99), int(failures), cpu)
print('%-11s %-25s %10s %9s %9s %9s %8s %11s' % ('connections', 'row', 'calls/s', 'p50 us', 'p99 us', 'vs echo', 'failures',
                                                  'cpu us/call'))
for connections in sorted({c for c, _ in data}):
    echo = data.get((connections, 'echo'), {})
    for row in rows:
        rounds = data.get((connections, row))
        if not rounds:
            continue
        med = lambda k: statistics.median(v[k] for v in rounds.values())
        ratios = [v[0] / echo[r][0] for r, v in rounds.items() if r in echo and echo[r][0] > 0]
        ratio = '%.2f' % statistics.median(ratios) if ratios else '-'
        print('%-11d %-25s %10.0f %9.1f %9.1f %9s %8d %11.2f' % (connections, row, med(0), med(1), med(2), ratio,
                                                                sum(v[3] for v in rounds.values()), med(4)))
pairs = [('null_observed', 'null'), ('product_null', 'product_null_baseline'), ('lookup_serial', 'lookup_serial_nometrics'),
         ('lookup_parallel', 'lookup_parallel_nometrics'), ('lookup_serial_polled', 'lookup_serial')]
for connections in sorted({c for c, _ in data}):
    for with_, without in pairs:
        a, b = data.get((connections, with_)), data.get((connections, without))
        if a and b:
            ratios = sorted(a[r][0] / b[r][0] for r in a if r in b and b[r][0] > 0)
            print('%d connections: %s / %s = %.3f (rounds %.3f-%.3f)' % (
                connections, with_, without, statistics.median(ratios), ratios[0], ratios[-1]))
counts = sorted({c for c, _ in data})
for row in rows:
    if row.startswith('lookup') and (1, row) in data and (counts[-1], row) in data and counts[-1] > 1:
        rate = lambda c: statistics.median(v[0] for v in data[(c, row)].values())
        print('%s: %d connections give %.1f times the lookups per second of 1' % (row, counts[-1], rate(counts[-1]) / rate(1)))
PY
