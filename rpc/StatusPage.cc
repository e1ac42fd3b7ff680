#include "rpc/StatusPage.h"

namespace Korvane::Pictora::Rpc {
namespace {

constexpr std::string_view kPage = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Pictora Server</title>
<link rel="icon" href="data:,">
<style>
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.1em; margin-top: 1.5em; }
table { border-collapse: collapse; } td, th { border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: left; }
#state.error { color: #b00; }
.bar { display: inline-block; height: 0.7em; background: #4a8; }
</style>
</head>
<body>
<h1>Pictora Server</h1>
<p id="state">Loading...</p>
<h2>Sessions</h2>
<p id="sessions"></p>
<h2>Cluster</h2>
<p id="cluster"></p>
<h2>Providers</h2>
<table id="providers"><thead><tr><th>Name</th><th>Endpoint</th><th>Host</th><th>Load</th><th>Last ping</th><th>Services</th></tr></thead><tbody></tbody></table>
<h2>Services</h2>
<table id="services"><thead><tr><th>Name</th><th>State</th><th>Providers</th></tr></thead><tbody></tbody></table>
<script>
"use strict";
function cell(row, text) { row.insertCell().textContent = text; return row; }
function fill(id, items, columns) {
  const body = document.createElement("tbody");
  for (const item of items) {
    const row = body.insertRow();
    for (const column of columns) {
      const value = column(item);
      if (value instanceof Node) row.insertCell().appendChild(value); else cell(row, value);
    }
  }
  const table = document.getElementById(id);
  table.replaceChild(body, table.tBodies[0]);
}
function loadBar(load) {
  const span = document.createElement("span");
  const bar = document.createElement("span");
  bar.className = "bar";
  bar.style.width = Math.round(Math.max(0, Math.min(1, load)) * 100) + "px";
  span.append(bar, " " + load.toFixed(2));
  return span;
}
async function get(path) {
  const reply = await fetch(path, { cache: "no-store" });
  if (!reply.ok) throw new Error(path + ": " + reply.status);
  return reply.json();
}
async function refresh() {
  const state = document.getElementById("state");
  try {
    const [providers, services, sessions, cluster] = await Promise.all(
      ["providers", "services", "sessions", "cluster"].map((name) => get("/api/v1/" + name)));
    fill("providers", providers.providers, [(p) => p.name, (p) => p.endpoint, (p) => p.host, (p) => loadBar(p.load),
      (p) => p.last_ping || "never", (p) => p.services.join(", ")]);
    fill("services", services.services, [(s) => s.name, (s) => s.state === null ? "registered only" : s.state,
      (s) => s.providers.join(", ")]);
    document.getElementById("sessions").textContent = sessions.open + " open sessions, " + sessions.providers +
      " providers, " + sessions.services + " services registered";
    document.getElementById("cluster").textContent = !cluster.clustered ? "A single server (no cluster)." :
      "This server: " + cluster.server + (cluster.leading ? " (leader)" : "") + "; leader: " +
      (cluster.leader || "none") + "; store members: " + cluster.store_members.join(", ") + "; store " +
      (cluster.store_reachable ? "reachable" : "UNREACHABLE") + "; revision " + cluster.revision;
    state.className = "";
    state.textContent = "Updated " + new Date().toLocaleTimeString() + " (registry copied " +
      (providers.taken || "never") + ")";
  } catch (error) {
    state.className = "error";
    state.textContent = "The server does not answer: " + error.message;
  }
}
refresh();
setInterval(refresh, 2000);
</script>
</body>
</html>
)html";

}  // namespace

std::string_view StatusPageHtml() { return kPage; }

std::string_view StatusPagePolicy() {
  return "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
         "img-src data:";
}

}  // namespace Korvane::Pictora::Rpc
