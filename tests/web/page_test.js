// The bridge's status page in a real browser: while the bridge receives a
// known sACN pattern, Debian's chromium (headless, driven by puppeteer-core)
// shows the chosen port's levels, they change at least 10 times a second,
// and the sources, an unmapped universe one away and a source announcing its
// universes (the mapped one marked) are listed. A screenshot
// of the page is left as an artefact.
//   node page_test.js BRIDGE SCREENSHOT
// Runs inside a network namespace of its own (see tests/cmake/bridge.cmake):
// the bridge, its sACN and its driver are all on that namespace's loopback.
// Exit 77: skipped.
"use strict";
const { spawn } = require("child_process");
const dgram = require("dgram");
const fs = require("fs");
const os = require("os");
const path = require("path");

const chromium = "/usr/bin/chromium";
const [bridgePath, screenshot] = process.argv.slice(2);
const page = 8250, driverPort = 2601;

function skip(why) { console.log("skipped: " + why); process.exit(77); }
if (!fs.existsSync(chromium)) skip(chromium + " is missing (Debian package chromium)");
let puppeteer;
try { puppeteer = require("puppeteer-core"); } catch (e) { skip("puppeteer-core is not installed in tests/web (./dev.sh test installs it)"); }

// An E1.31 data packet, field by field from the published layout.
function sacn(universe, sequence, levels, name) {
  const b = Buffer.alloc(126 + levels.length);
  b.writeUInt16BE(0x0010, 0); b.writeUInt16BE(0, 2);
  b.write("ASC-E1.17", 4, "latin1");
  b.writeUInt16BE(0x7000 | (b.length - 16), 16); b.writeUInt32BE(4, 18);
  for (let i = 0; i < 16; i++) b[22 + i] = 0x5a;  // CID
  b.writeUInt16BE(0x7000 | (b.length - 38), 38); b.writeUInt32BE(2, 40);
  b.write(name, 44, "utf8");
  b[108] = 100; b.writeUInt16BE(0, 109); b[111] = sequence & 0xff; b[112] = 0;
  b.writeUInt16BE(universe, 113);
  b.writeUInt16BE(0x7000 | (b.length - 115), 115); b[117] = 0x02; b[118] = 0xa1;
  b.writeUInt16BE(0, 119); b.writeUInt16BE(1, 121); b.writeUInt16BE(levels.length + 1, 123);
  b[125] = 0;
  levels.copy(b, 126);
  return b;
}
// A page of an E1.31 universe discovery packet announcing `universes`.
function discovery(name, universes) {
  const b = Buffer.alloc(120 + 2 * universes.length);
  sacn(1, 0, Buffer.alloc(0), "").copy(b, 0, 0, 38);
  b.writeUInt16BE(0x7000 | (b.length - 16), 16); b.writeUInt32BE(8, 18);
  for (let i = 0; i < 16; i++) b[22 + i] = 0x6b;  // CID
  b.writeUInt16BE(0x7000 | (b.length - 38), 38); b.writeUInt32BE(2, 40);
  b.write(name, 44, "utf8");
  b.writeUInt16BE(0x7000 | (b.length - 112), 112); b.writeUInt32BE(1, 114);
  universes.forEach((u, i) => b.writeUInt16BE(u, 120 + 2 * i));
  return b;
}
// Channel i at frame t.
const pattern = (i, t) => (i * 2 + t) & 0xff;

const failures = [];
function check(ok, what) { if (!ok) { failures.push(what); console.log("FAIL: " + what); } }
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function main() {
  const driver = dgram.createSocket("udp4");  // takes what the bridge forwards
  await new Promise((r) => driver.bind(driverPort, "127.0.0.1", r));
  const bridge = spawn(bridgePath, ["--sacn", "1-2", "--http", "127.0.0.1:" + page, "--to",
    "127.0.0.1:" + driverPort, "--duration", "60"], { stdio: ["ignore", "ignore", "pipe"] });
  let err = "";
  bridge.stderr.on("data", (d) => { err += d; });
  for (let i = 0; i < 100 && !err.includes("status page on"); i++) await sleep(100);
  if (!err.includes("status page on")) throw new Error("the bridge did not start: " + err);

  const console_ = dgram.createSocket("udp4");
  let frame = 0;
  const sender = setInterval(() => {
    frame++;
    const levels = Buffer.alloc(512);
    for (let i = 0; i < 512; i++) levels[i] = pattern(i, frame);
    console_.send(sacn(2, frame, levels, "Test desk"), 5568, "127.0.0.1");
    console_.send(sacn(3, frame, Buffer.alloc(8, 50), "Test desk"), 5568, "127.0.0.1");
    if (frame % 40 === 1) console_.send(discovery("Media server", [2, 9]), 5568, "127.0.0.1");
  }, 25);

  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "lxdravik-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: chromium, headless: true, userDataDir: profile,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  try {
    const tab = await browser.newPage();
    await tab.setViewport({ width: 1280, height: 1100 });
    await tab.goto("http://127.0.0.1:" + page + "/", { waitUntil: "load" });
    await tab.waitForFunction(() => document.querySelectorAll("#choose option").length === 2, { timeout: 10000 });
    await tab.select("#choose", "1");
    // The grid shows universe 2's pattern once its source is through sampling.
    const consistent = async () => {
      const cells = await tab.$$eval("#grid div:not(.label)", (els) => els.map((e) => Number(e.textContent)));
      const t = cells[0];
      return cells.length === 512 && cells.every((v, i) => v === pattern(i, t)) && t !== 0 ? t : -1;
    };
    let first = -1;
    for (let i = 0; i < 100 && first < 0; i++) { first = await consistent(); if (first < 0) await sleep(100); }
    check(first >= 0, "the grid shows port 1's levels (universe 2's pattern)");
    // Updates in two seconds, counted in the page. The server pushes 12.5 a
    // second; a loaded machine may delay some, a page that polled would show
    // a few at most.
    const updates = await tab.evaluate(() => new Promise((resolve) => {
      let n = 0;
      const cell = document.querySelector("#grid div:not(.label)");
      const watch = new MutationObserver(() => n++);
      watch.observe(cell, { childList: true, characterData: true, subtree: true });
      setTimeout(() => { watch.disconnect(); resolve(n); }, 2000);
    }));
    console.log("grid updates in 2 s: " + updates);
    check(updates >= 16, "the levels change about 10 times a second or more (" + updates + " in 2 s)");
    const later = await consistent();
    check(later >= 0 && later !== first, "the levels change: frame " + first + ", then " + later);
    await sleep(1200);  // a status poll after the sources were taken
    const text = await tab.$eval("body", (b) => b.innerText);
    check(text.includes("Test desk"), "the source's name is listed");
    // Channel numbers run along the grid; a channel shows its level and its winner.
    const hover = await tab.evaluate(() => {
      const cell = document.querySelectorAll("#grid div:not(.label)")[100];
      cell.dispatchEvent(new Event("mouseenter"));
      return [cell.title, document.querySelectorAll("#grid div.label")[33].textContent];
    });
    check(/^channel 101: \d+, from sACN 2 \(ch 1-512\)$/.test(hover[0]), "hovering channel 101 names its level and winner: " + hover[0]);
    check(hover[1] === "1", "the rows are numbered from channel 1: " + hover[1]);
    check(text.includes("5a5a5a5a-5a5a-5a5a-5a5a-5a5a5a5a5a5a"), "the source's CID is listed");
    check(/sACN universe 3: \d+ packets; one away from sACN 2 on port 1/.test(text),
      "the unmapped universe 3 is shown as one away from universe 2");
    check(text.includes("Media server (127.0.0.1): 2, 9"), "the announcing source and its universes are listed");
    check(await tab.$$eval("#discovered .mapped", (els) => els.map((e) => e.textContent).join()) === "2",
      "of its universes, the mapped one is marked");
    fs.mkdirSync(path.dirname(screenshot), { recursive: true });
    await tab.screenshot({ path: screenshot, fullPage: true });
    console.log("screenshot: " + screenshot);
  } finally {
    clearInterval(sender);
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
    bridge.kill("SIGINT");
    console_.close();
    driver.close();
  }
}

main().then(() => {
  console.log(failures.length ? failures.length + " failures" : "the status page works");
  process.exit(failures.length ? 1 : 0);
}, (e) => { console.log("FAIL: " + e.stack); process.exit(1); });
