#!/usr/bin/env bash
# A three-server cluster on this machine: three etcd members (client ports 2379, 2381, 2383 on
# 127.0.0.1) and three servers on TCP ports 3982, 3983, 3984, each with its home folder under
# var/cluster/sN/ and sharing one registry under the key prefix /korvane/pictora/; their metrics
# pages on 127.0.0.1:9382, :9383, :9384. Logs go to var/cluster/*.log. Ctrl-C stops everything;
# the store's data stays in var/cluster/etcd-N/, so a second run carries on with the registry of
# the first (remove var/cluster/ to start afresh).
set -euo pipefail
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
  members+="${members:+,}m$i=http://127.0.0.1:$((2380 + 2 * i))"
  endpoints+="${endpoints:+,}127.0.0.1:$((2379 + 2 * i))"
done
for i in 0 1 2; do
  etcd --name "m$i" --data-dir "$var/etcd-$i" \
    --listen-client-urls "http://127.0.0.1:$((2379 + 2 * i))" --advertise-client-urls "http://127.0.0.1:$((2379 + 2 * i))" \
    --listen-peer-urls "http://127.0.0.1:$((2380 + 2 * i))" --initial-advertise-peer-urls "http://127.0.0.1:$((2380 + 2 * i))" \
    --initial-cluster "$members" --initial-cluster-state new >"$var/etcd-$i.log" 2>&1 &
  pids+=($!)
done
until ETCDCTL_API=3 etcdctl --endpoints "$endpoints" endpoint health >/dev/null 2>&1; do sleep 0.2; done

for i in 1 2 3; do
  home="$var/s$i"
  mkdir -p "$home/appdata" "$home/documents" "$home/pipe"
  printf 'Version=1.0.0.0\nHome=%s\nClusterEndpoints=%s\nClusterPrefix=/korvane/pictora/\nMetricsEndpoint=127.0.0.1:%d\n' \
    "$root" "$endpoints" "$((9381 + i))" >"$home/pictora.conf"
  PICTORA_COMMON_APPDATA="$home/appdata" PICTORA_DOCUMENTS="$home/documents" PICTORA_REGISTRY_FILE="$home/pictora.conf" \
    PICTORA_PIPE_DIR="$home/pipe" build/release/bin/pictora-server -console "" "$((3981 + i))" \
    </dev/null >/dev/null 2>"$var/s$i.log" &
  pids+=($!)
done
echo "etcd at $endpoints; servers at 127.0.0.1:3982, :3983, :3984; logs in $var/ (Ctrl-C stops all)"
wait
