#!/usr/bin/env bash
# Starts a server in a temporary home with three stand-in providers (loads 0.7, 0.2, 0.5) serving
# one service, runs lookup_bench at 1, 4 and 16 connections, and shows how many connections the
# server holds to each provider afterwards (one each when the pool reuses them).
#   bench/lookup/run.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/bench}"
seconds="${2:-5}"
bin="$build/bin"
home="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT

port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
mkdir -p "$home/appdata/Korvane/Pictora/Server" "$home/pipe" "$home/docs"
printf 'Version=1.0.0.0\nHome=%s\n' "$home" > "$home/pictora.conf"
cat > "$home/appdata/Korvane/Pictora/Server/Pictora.Services" <<XML
<?xml version="1.0" standalone="yes"?>
<Pictora><Server><Services>
<Service><Name>Images/Thumbs</Name><Source>src</Source><State>On</State><Properties></Properties><ServiceProviders></ServiceProviders></Service>
</Services></Server></Pictora>
XML
export PICTORA_COMMON_APPDATA="$home/appdata" PICTORA_REGISTRY_FILE="$home/pictora.conf"
export PICTORA_PIPE_DIR="$home/pipe" PICTORA_DOCUMENTS="$home/docs"

"$bin/pictora-server" -console "" "$port" </dev/null 2>"$home/server.log" &
pids+=($!)
for i in $(seq 50); do grep -q "listening at endpoint" "$home/server.log" && break; sleep 0.1; done
for load in 0.7 0.2 0.5; do
  "$bin/pictora-provider" --name "Load$load" --server "127.0.0.1:$port" --host 127.0.0.1 --load "$load" \
    2>"$home/provider-$load.log" &
  pids+=($!)
done
for load in 0.7 0.2 0.5; do
  for i in $(seq 50); do grep -q "registered service" "$home/provider-$load.log" && break; sleep 0.1; done
done

provider_ports=()
for load in 0.7 0.2 0.5; do
  provider_ports+=(--provider-port "$(grep -o 'listening on port [0-9]*' "$home/provider-$load.log" | awk '{print $4}')")
done
"$bin/lookup_bench" --server "127.0.0.1:$port" --service Images/Thumbs --seconds "$seconds" \
  --connections 1 --connections 4 --connections 16 "${provider_ports[@]}"
for load in 0.7 0.2 0.5; do
  provider_port="$(grep -o 'listening on port [0-9]*' "$home/provider-$load.log" | awk '{print $4}')"
  count="$(ss -Htn state established "( sport = :$provider_port )" | wc -l)"
  echo "connections held to provider Load$load (port $provider_port): $count"
done
