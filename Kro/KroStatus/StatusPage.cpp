#include "KroStatus/StatusPage.h"

namespace KroStatus
{
  const char* StatusPageHtml()
  {
    return R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Operations</title>
<style>
  body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em; color: #222; background: #fafafa; }
  h1 { font-size: 1.3em; margin: 0 0 .6em; }
  #summary { display: flex; gap: 1.2em; flex-wrap: wrap; margin-bottom: 1em; }
  #summary div { background: #fff; border: 1px solid #ddd; border-radius: 4px; padding: .4em .8em; }
  #summary b { display: block; font-size: 1.3em; }
  #health.bad b { color: #b00; }
  table { border-collapse: collapse; width: 100%; background: #fff; }
  th, td { border-bottom: 1px solid #e4e4e4; padding: .3em .5em; text-align: left; white-space: nowrap; }
  td.status { white-space: normal; max-width: 28em; overflow-wrap: anywhere; }
  tr.queued td.state { color: #946200; } tr.running td.state { color: #0050b3; }
  tr.finished td.state { color: #237804; } tr.cancelled td.state { color: #a8071a; }
  tr.failed td.state { color: #b00; font-weight: bold; }
  .bar { width: 10em; height: .8em; background: #eee; border-radius: .4em; overflow: hidden; display: inline-block; vertical-align: middle; }
  .bar span { display: block; height: 100%; background: #1677ff; }
  tr.finished .bar span { background: #52c41a; } tr.cancelled .bar span { background: #bbb; }
  tr.failed .bar span { background: #ff4d4f; }
  #error { color: #b00; }
</style>
</head>
<body>
<h1>Operations</h1>
<div id="summary">
  <div id="health">Health<b id="healthy">-</b></div>
  <div>Pool threads<b id="threads">-</b></div>
  <div>Idle<b id="idle">-</b></div>
  <div>Min / max<b id="bounds">-</b></div>
  <div>Waiting<b id="waiting">-</b></div>
  <div>Server objects<b id="objects">-</b></div>
  <div>Updated<b id="updated">-</b></div>
</div>
<p id="error"></p>
<table>
  <thead><tr><th>Object</th><th>User</th><th>Id</th><th>Name</th><th>State</th><th>Place</th>
    <th>Progress</th><th>Status</th><th>Submitted</th><th>Started</th><th>Ended</th></tr></thead>
  <tbody id="operations"></tbody>
</table>
<script>
"use strict";
const text = (id, value) => { document.getElementById(id).textContent = value; };
const time = ms => ms ? new Date(ms).toLocaleTimeString() : "";
function cell(row, value, className) {
  const td = row.insertCell();
  td.textContent = value;
  if (className) td.className = className;
  return td;
}
function row(op) {
  const tr = document.createElement("tr");
  tr.className = op.state;
  tr.dataset.key = op.object + ":" + op.id;
  tr.dataset.state = op.state;
  tr.dataset.place = op.place;
  tr.dataset.progress = op.progress;
  cell(tr, op.object); cell(tr, op.user); cell(tr, op.id); cell(tr, op.name);
  cell(tr, op.state, "state"); cell(tr, op.state === "queued" && op.place > 0 ? op.place : "");
  const bar = document.createElement("span");
  bar.style.width = Math.round(Math.min(Math.max(op.progress, 0), 1) * 100) + "%";
  const outer = document.createElement("div");
  outer.className = "bar";
  outer.title = Math.round(op.progress * 100) + "%";
  outer.appendChild(bar);
  cell(tr, "").appendChild(outer);
  cell(tr, op.status, "status");
  cell(tr, time(op.submitted)); cell(tr, time(op.started)); cell(tr, time(op.ended));
  return tr;
}
function show(status) {
  text("healthy", status.healthy ? "ok" : "failing");
  document.getElementById("health").className = status.healthy ? "" : "bad";
  text("threads", status.pool.threads); text("idle", status.pool.idle);
  text("bounds", status.pool.min + " / " + status.pool.max); text("waiting", status.pool.waiting);
  text("objects", status.serverObjects); text("updated", time(status.time));
  const rows = status.operations.slice().reverse().map(row);  // the newest first
  document.getElementById("operations").replaceChildren(...rows);
  document.body.dataset.updates = (Number(document.body.dataset.updates) || 0) + 1;
}
async function refresh() {
  try {
    const response = await fetch("api/operations", {cache: "no-store"});
    if (!response.ok) throw new Error("HTTP " + response.status);
    show(await response.json());
    text("error", "");
  } catch (error) {
    text("error", "Cannot read the server's status: " + error.message);
  } finally {
    setTimeout(refresh, 1000);
  }
}
refresh();
</script>
</body>
</html>
)PAGE";
  }
}
