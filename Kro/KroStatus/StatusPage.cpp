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
  h1 small { font-weight: normal; color: #666; font-size: .75em; }
  #charts { display: flex; gap: 1.2em; flex-wrap: wrap; margin-bottom: 1em; }
  figure { margin: 0; background: #fff; border: 1px solid #ddd; border-radius: 4px; padding: .4em .8em; }
  figcaption { font-size: .9em; color: #555; }
  figcaption b { color: #222; }
  svg.chart { display: block; width: 320px; height: 64px; }
  svg.chart polyline { fill: none; stroke: #1677ff; stroke-width: 1.5; }
  svg.chart line { stroke: #ddd; }
  #filters { margin-bottom: .6em; }
  #filters label { margin-right: 1em; }
  tbody tr { cursor: pointer; }
  tbody tr.selected { outline: 2px solid #1677ff; }
  #details { background: #fff; border: 1px solid #ddd; border-radius: 4px; padding: .4em .8em; margin-bottom: 1em; }
  #details[hidden] { display: none; }
  #details th { width: 9em; color: #555; font-weight: normal; }
  #details td { white-space: normal; overflow-wrap: anywhere; }
</style>
</head>
<body>
<h1>Operations <small id="server"></small></h1>
<div id="summary">
  <div id="health">Health<b id="healthy">-</b></div>
  <div>Pool threads<b id="threads">-</b></div>
  <div>Idle<b id="idle">-</b></div>
  <div>Min / max<b id="bounds">-</b></div>
  <div>Waiting<b id="waiting">-</b></div>
  <div>Server objects<b id="objects">-</b></div>
  <div>Updated<b id="updated">-</b></div>
</div>
<div id="charts">
  <figure><figcaption>Operations ended per second, last 5 minutes: <b id="throughput-now">-</b></figcaption>
    <svg class="chart" id="throughput" viewBox="0 0 320 64" preserveAspectRatio="none"></svg></figure>
  <figure><figcaption>Mean queue wait in seconds, last 5 minutes: <b id="wait-now">-</b></figcaption>
    <svg class="chart" id="wait" viewBox="0 0 320 64" preserveAspectRatio="none"></svg></figure>
</div>
<p id="error"></p>
<div id="filters">
  <label>User <select id="user-filter"><option value="">every user</option></select></label>
  <label>State <select id="state-filter"><option value="">every state</option></select></label>
</div>
<div id="details" hidden>
  <b>Operation <span id="details-key"></span></b>
  <table><tbody id="details-fields"></tbody></table>
</div>
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
// What the page shows, kept in the address's fragment so that a view can be
// linked to: #user=NAME&state=STATE&op=OBJECT:ID.
const view = {user: "", state: "", op: ""};
function readFragment() {
  const fields = new URLSearchParams(location.hash.slice(1));
  view.user = fields.get("user") || "";
  view.state = fields.get("state") || "";
  view.op = fields.get("op") || "";
}
function writeFragment() {
  const fields = new URLSearchParams();
  for (const name of ["user", "state", "op"]) if (view[name]) fields.set(name, view[name]);
  history.replaceState(null, "", "#" + fields.toString());
}
// Keeps a select's options to the values seen (and the chosen one), in order.
function options(id, values, chosen) {
  const select = document.getElementById(id);
  const wanted = [...new Set([...values, ...(chosen ? [chosen] : [])])].sort();
  const have = [...select.options].slice(1).map(o => o.value);
  if (have.join("\n") !== wanted.join("\n")) {
    while (select.options.length > 1) select.remove(1);
    for (const value of wanted) select.add(new Option(value, value));
  }
  select.value = chosen;
}
const shows = op => (!view.user || op.user === view.user) && (!view.state || op.state === view.state);

// The charts: rates between successive readings of the server's running
// totals, over the last five minutes (kept while the page is open).
const kWindowMs = 5 * 60 * 1000;
const samples = [];
function chart(id, points, unit) {
  const svg = document.getElementById(id);
  const max = Math.max(...points.map(p => p.value), 0);
  const scale = max > 0 ? 60 / max : 0;
  const now = points.length ? points[points.length - 1].time : 0;
  const xy = points.map(p => ((320 * (1 - (now - p.time) / kWindowMs)).toFixed(1) + "," +
                               (62 - p.value * scale).toFixed(1)));
  // Numbers only: no text of the server's reaches this markup.
  svg.innerHTML = '<line x1="0" y1="62" x2="320" y2="62"></line><polyline points="' + xy.join(" ") +
                  '"></polyline><title>highest ' + max.toFixed(3) + " " + unit + "</title>";
  svg.dataset.samples = points.length;
  svg.dataset.max = max;
  return points.length ? points[points.length - 1].value : null;
}
function drawCharts(status) {
  const c = status.counters;
  samples.push({time: status.time, ended: c.ended, waits: c.queueWait.count, waited: c.queueWait.sumSeconds});
  while (samples.length > 2 && samples[0].time < status.time - kWindowMs) samples.shift();
  const throughput = [], wait = [];
  for (let i = 1; i < samples.length; ++i) {
    const a = samples[i - 1], b = samples[i];
    const seconds = (b.time - a.time) / 1000;
    if (seconds <= 0) continue;
    throughput.push({time: b.time, value: Math.max(b.ended - a.ended, 0) / seconds});
    if (b.waits > a.waits) wait.push({time: b.time, value: (b.waited - a.waited) / (b.waits - a.waits)});
  }
  const rate = chart("throughput", throughput, "per second");
  const mean = chart("wait", wait, "s");
  text("throughput-now", rate === null ? "-" : rate.toFixed(2));
  text("wait-now", mean === null ? "-" : mean.toFixed(3));
}

function showDetails(operations) {
  const box = document.getElementById("details");
  box.hidden = !view.op;
  if (!view.op) return;
  text("details-key", view.op);
  const op = operations.find(o => o.object + ":" + o.id === view.op);
  const fields = op ? [
    ["Object", op.object], ["User", op.user], ["Id", op.id], ["Name", op.name], ["State", op.state],
    ["Place", op.state === "queued" && op.place > 0 ? op.place : ""],
    ["Progress", Math.round(op.progress * 100) + "%"], ["Status", op.status],
    ["Submitted", time(op.submitted)], ["Started", time(op.started)], ["Ended", time(op.ended)],
    ["Waited", op.started ? ((op.started - op.submitted) / 1000).toFixed(3) + " s" : ""],
    ["Ran", op.started && op.ended ? ((op.ended - op.started) / 1000).toFixed(3) + " s" : ""],
  ] : [["", "no longer kept by the server"]];
  const body = document.getElementById("details-fields");
  body.replaceChildren(...fields.map(([name, value]) => {
    const tr = document.createElement("tr");
    const th = document.createElement("th");
    th.textContent = name;
    tr.appendChild(th);
    cell(tr, value);
    return tr;
  }));
  box.dataset.key = view.op;
  box.dataset.state = op ? op.state : "";
}

let latest = null;
function show(status) {
  latest = status;
  const server = status.server;
  text("server", server.name + " on " + server.host + " (process " + server.pid + ")");
  document.title = "Operations of " + server.name;
  text("healthy", status.healthy ? "ok" : "failing");
  document.getElementById("health").className = status.healthy ? "" : "bad";
  text("threads", status.pool.threads); text("idle", status.pool.idle);
  text("bounds", status.pool.min + " / " + status.pool.max); text("waiting", status.pool.waiting);
  text("objects", status.serverObjects); text("updated", time(status.time));
  drawCharts(status);
  render();
  document.body.dataset.updates = (Number(document.body.dataset.updates) || 0) + 1;
}
// The rows and the details, from the latest reading and the view.
function render() {
  if (!latest) return;
  const all = latest.operations;
  options("user-filter", all.map(op => op.user), view.user);
  options("state-filter", ["queued", "running", "finished", "cancelled", ...all.map(op => op.state)], view.state);
  const rows = all.filter(shows).reverse().map(row);  // the newest first
  for (const tr of rows) if (tr.dataset.key === view.op) tr.classList.add("selected");
  document.getElementById("operations").replaceChildren(...rows);
  showDetails(all);
}
document.getElementById("user-filter").addEventListener("change", e => { view.user = e.target.value; writeFragment(); render(); });
document.getElementById("state-filter").addEventListener("change", e => { view.state = e.target.value; writeFragment(); render(); });
document.getElementById("operations").addEventListener("click", e => {
  const tr = e.target.closest("tr");
  if (!tr) return;
  view.op = view.op === tr.dataset.key ? "" : tr.dataset.key;
  writeFragment();
  render();
});
window.addEventListener("hashchange", () => { readFragment(); render(); });
readFragment();
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
