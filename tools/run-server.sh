#!/usr/bin/env bash
# Builds the server and runs it in console mode with its home folder under the checkout
# (var/appdata/Korvane/Pictora/), on the configured endpoint (TCP port 3982 by default).
# Stop it with "q" (or Ctrl-C). Extra arguments are passed on after "-console", e.g.
#   tools/run-server.sh "" 4000      (no extra allow-list text, TCP port 4000)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target pictora-server

var="$root/var"
mkdir -p "$var/appdata" "$var/documents" "$var/pipe"
if [ ! -f "$var/pictora.conf" ]; then
  printf '# Installation key of this checkout (Name=Value)\nVersion=1.0.0.0\nHome=%s\n' "$root" \
    > "$var/pictora.conf"
fi

export PICTORA_COMMON_APPDATA="$var/appdata"
export PICTORA_DOCUMENTS="$var/documents"
export PICTORA_REGISTRY_FILE="$var/pictora.conf"
export PICTORA_PIPE_DIR="$var/pipe"
echo "Home folder: $PICTORA_COMMON_APPDATA/Korvane/Pictora/  (type q to stop)"
exec "$root/build/release/bin/pictora-server" -console "$@"
