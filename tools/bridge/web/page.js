// Names and addresses come from the network: the script sets them as text
// (textContent), never as markup.
"use strict";
const $ = (id) => document.getElementById(id);
let chosen = -1, socket = null, lastFrame = 0;
let winners = [], routes = [];  // of the chosen port, from the last status
const cells = [], levels = new Array(512).fill(0);
// 16 rows of 32 channels, numbered along the top and down the side.
function label(text) { const d = document.createElement("div"); d.className = "label"; d.textContent = text; $("grid").appendChild(d); }
label("");
for (let c = 1; c <= 32; c++) label(String(c));
for (let i = 0; i < 512; i++) {
  if (i % 32 === 0) label(String(i + 1));
  const d = document.createElement("div"); d.textContent = "0";
  d.onmouseenter = () => describe(i);
  $("grid").appendChild(d); cells.push(d);
}
// A channel's level and the route whose input won it.
function describe(i) {
  const r = routes[winners[i]];
  cells[i].title = "channel " + (i + 1) + ": " + levels[i] + (r ? ", from " + r.input + " (ch " + r.channels + ")" : ", no input");
}
function routeText(r) { return r.input + (r.channels !== "1-512" || r.at !== 1 ? " ch " + r.channels + " at " + r.at : "") + (r.priority === null ? "" : " prio " + r.priority); }
function row(values, cls) {
  const tr = document.createElement("tr"); if (cls) tr.className = cls;
  for (const v of values) {
    const td = document.createElement("td");
    if (typeof v === "number") { td.className = "n"; }
    td.textContent = v === null || v === undefined ? "-" : String(v);
    tr.appendChild(td);
  }
  return tr;
}
function fill(id, rows) { const body = $(id).tBodies[0]; body.replaceChildren(...rows); }
function rate(x) { return Math.round(x); }
// "universe 100", "universe 100 (kept)" when its sync stopped, "ArtSync" or
// "all", and how many syncs stopped.
function syncText(y) {
  const what = y.kind === "sacn" ? "universe " + y.universe + (y.locked ? " (kept)" : "") :
    y.kind === "artsync" ? "ArtSync" : y.kind === "all" ? "all" : "-";
  return what + (y.fallbacks ? ", " + y.fallbacks + " stopped" : "");
}
function choose(port) {
  chosen = port; $("choose").value = String(port);
  if (socket && socket.readyState === 1) socket.send(String(port));
  document.querySelectorAll("tr.port").forEach((tr) => tr.classList.toggle("chosen", tr.dataset.port === String(port)));
}
function show(s) {
  $("title").textContent = s.name || "lxdravik-bridge";
  document.title = (s.name || "lxdravik-bridge") + " status";
  $("summary").textContent = "running " + Math.round(s.seconds) + " s, sending to the driver at " + s.to + ": " +
    s.datagrams + " datagrams" + (s.send_failures ? ", " + s.send_failures + " could not be sent" : "");
  fill("interfaces", s.network.interfaces.map((i) => row([i.name, i.address, i.joined.length, i.failed.length ? i.failed.join(", ") + ": " + i.error : 0])));
  const ports = [], sources = [];
  for (const u of s.universes) {
    const tr = row([u.port, u.protocol === "sacn" ? "sACN" : "Art-Net", u.routes.map(routeText).join("; ") + (u.merge === "ltp" ? " (ltp)" : ""), u.priority < 0 ? null : u.priority + (u.per_address ? "+" : ""),
      rate(u.packets_per_second), u.drops, syncText(u.sync), u.sources.length], "port" + (u.port === chosen ? " chosen" : ""));
    tr.dataset.port = String(u.port); tr.onclick = () => choose(u.port); ports.push(tr);
    for (const src of u.sources) {
      sources.push(row([u.port, src.input, src.name, src.address, src.cid || null, src.priority < 0 ? null : src.priority,
        rate(src.packets_per_second), src.sequence_errors, src.last_seen.toFixed(1) + " s ago", src.state]));
    }
  }
  fill("ports", ports); fill("sources", sources);
  const sel = $("choose"), want = s.universes.map((u) => String(u.port));
  if ([...sel.options].map((o) => o.value).join() !== want.join()) {
    sel.replaceChildren(...s.universes.map((u) => { const o = document.createElement("option"); o.value = String(u.port); o.textContent = u.port + " (" + u.label + ")"; return o; }));
  }
  if (chosen < 0 && s.universes.length) choose(s.universes[0].port); else sel.value = String(chosen);
  const mine = s.universes.find((u) => u.port === chosen);
  winners = mine ? mine.winners : []; routes = mine ? mine.routes : [];
  const seen = [];
  for (const x of s.unmapped.sacn) seen.push(["sACN universe " + x.universe, x]);
  for (const x of s.unmapped.artnet) seen.push(["Art-Net " + x.label + " (" + x.port_address + ")", x]);
  const box = $("unmapped");
  box.replaceChildren(...seen.map(([what, x]) => {
    const d = document.createElement("div");
    d.textContent = what + ": " + x.packets + " packets" + (x.near ? "; " + x.near : "");
    if (x.near) d.className = "hint";
    return d;
  }));
  if (!seen.length) box.textContent = "nothing";
  // Which routes take each sACN universe: shown on the announced ones.
  const mapped = new Map();
  for (const u of s.universes) {
    for (const r of u.routes) {
      if (!r.input.startsWith("sACN ")) continue;
      const n = Number(r.input.slice(5));
      mapped.set(n, (mapped.get(n) || []).concat(["port " + u.port + (r.channels !== "1-512" || r.at !== 1 ? " ch " + r.channels + " at " + r.at : "")]));
    }
  }
  const found = $("discovered");
  found.replaceChildren(...s.discovered.map((d) => {
    const line = document.createElement("div");
    line.textContent = d.name + " (" + d.address + "): ";
    d.universes.forEach((n, i) => {
      const span = document.createElement("span");
      span.textContent = (i ? ", " : "") + n;
      if (mapped.has(n)) { span.className = "mapped"; span.title = "routed to " + mapped.get(n).join(", "); }
      line.appendChild(span);
    });
    if (d.cut) line.appendChild(document.createTextNode(" and more"));
    return line;
  }));
  found.className = s.discovered.length ? "" : "muted";
  if (!s.discovered.length) found.textContent = "nothing";
}
async function poll() {
  try { const r = await fetch("/status.json", {cache: "no-store"}); show(await r.json()); }
  catch (e) { $("summary").textContent = "the bridge does not answer"; $("summary").className = "bad"; }
}
function connect() {
  socket = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/levels");
  socket.binaryType = "arraybuffer";
  socket.onopen = () => { if (chosen >= 0) socket.send(String(chosen)); };
  socket.onmessage = (m) => {
    const b = new Uint8Array(m.data);
    if (b.length !== 513 || b[0] !== chosen) return;
    for (let i = 0; i < 512; i++) {
      const v = b[i + 1], c = cells[i];
      levels[i] = v;
      if (c.textContent !== String(v)) { c.textContent = String(v); c.style.background = "rgb(255," + (255 - Math.round(v / 3)) + "," + (255 - v) + ")"; }
    }
    lastFrame = Date.now(); $("state").textContent = "live";
  };
  socket.onclose = () => { $("state").textContent = "reconnecting"; setTimeout(connect, 1000); };
}
$("choose").onchange = (e) => choose(Number(e.target.value));
poll(); setInterval(poll, 1000); connect();
setInterval(() => { if (Date.now() - lastFrame > 1000 && socket && socket.readyState === 1) $("state").textContent = "no levels"; }, 500);
