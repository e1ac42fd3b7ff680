#!/usr/bin/env bash
# A three-server cluster on this machine: three etcd members and three servers, each server with
# its home folder under var/cluster/sN/ and all sharing one registry under the key prefix
# /korvane/pictora/. Logs go to var/cluster/*.log. Ctrl-C stops everything; the store's data
# stays in var/cluster/etcd-N/, so a second run carries on with the registry of the first (remove
# var/cluster/ to start afresh; a run with other store ports needs that too, as the members
# remember their peers' addresses).
#
#   tools/run-cluster.sh [--server-port P] [--etcd-port P] [--metrics-port P]
#
# The servers listen on TCP ports P, P+1, P+2 (default 3982); etcd members take client ports P,
# P+2, P+4 and peer ports P+1, P+3, P+5 on 127.0.0.1 (default 2379); the metrics pages are on
# 127.0.0.1:P, P+1, P+2 (default 9382).
set -euo pipefail
usage() { sed -n '9p' "$0" | sed 's/^# *//' >&2; exit 2; }
server_port=3982 etcd_port=2379 metrics_port=9382
while (($#)); do
  case $1 in
    --server-port) server_port=${2:-} ;;
    --etcd-port) etcd_port=${2:-} ;;
    --metrics-port) metrics_port=${2:-} ;;
    -h|--help) usage ;;
    *) echo "run-cluster.sh: unknown option $1" >&2; usage ;;
  esac
  shift 2 || usage
done
for port in "$server_port" "$etcd_port" "$metrics_port"; do
  [[ $port =~ ^[0-9]+$ ]] && ((port >= 1 && port <= 65530)) || { echo "run-cluster.sh: bad port '$port'" >&2; usage; }
done

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target pictora-server pictora-cli pictora-provider

var="$root/var/cluster"
mkdir -p "$var"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait' EXIT INT TERM

members=""
endpoints=""
for i in 0 1 2; do
  members+="${members:+,}m$i=http://127.0.0.1:$((etcd_port + 1 + 2 * i))"
  endpoints+="${endpoints:+,}127.0.0.1:$((etcd_port + 2 * i))"
done
for i in 0 1 2; do
  client="http://127.0.0.1:$((etcd_port + 2 * i))" peer="http://127.0.0.1:$((etcd_port + 1 + 2 * i))"
  etcd --name "m$i" --data-dir "$var/etcd-$i" \
    --listen-client-urls "$client" --advertise-client-urls "$client" \
    --listen-peer-urls "$peer" --initial-advertise-peer-urls "$peer" \
    --initial-cluster "$members" --initial-cluster-state new >"$var/etcd-$i.log" 2>&1 &
  pids+=($!)
done
until ETCDCTL_API=3 etcdctl --endpoints "$endpoints" endpoint health >/dev/null 2>&1; do sleep 0.2; done

servers=""
for i in 0 1 2; do
  home="$var/s$((i + 1))"
  mkdir -p "$home/appdata" "$home/documents" "$home/pipe"
  printf 'Version=1.0.0.0\nHome=%s\nClusterEndpoints=%s\nClusterPrefix=/korvane/pictora/\nMetricsEndpoint=127.0.0.1:%d\n' \
    "$root" "$endpoints" "$((metrics_port + i))" >"$home/pictora.conf"
  PICTORA_COMMON_APPDATA="$home/appdata" PICTORA_DOCUMENTS="$home/documents" PICTORA_REGISTRY_FILE="$home/pictora.conf" \
    PICTORA_PIPE_DIR="$home/pipe" build/release/bin/pictora-server -console "" "$((server_port + i))" \
    </dev/null >/dev/null 2>"$var/s$((i + 1)).log" &
  pids+=($!)
  servers+="${servers:+,}127.0.0.1:$((server_port + i))"
done
echo "etcd at $endpoints; servers at $servers; metrics on 127.0.0.1:$metrics_port-$((metrics_port + 2));"
echo "logs in $var/ (Ctrl-C stops all). Try: PICTORA_SERVER=$servers build/release/bin/pictora-cli admin cluster status"
wait
