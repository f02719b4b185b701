// The page of `compactor view` in a real browser. scripts/test-browser.sh makes the pages first:
//   COMPACTOR        the program
//   VIEW_DEFAULT_DIR the default scenario, compiled, with its page (sources beside the outputs)
//   VIEW_LARGE_DIR   the 1,000,000 m scenario of bench/gen_scenario, compiled, with its page
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { openBrowser, openPage } from "./browser.js";

const COMPACTOR = process.env.COMPACTOR;
const DEFAULT_DIR = process.env.VIEW_DEFAULT_DIR;
const LARGE_DIR = process.env.VIEW_LARGE_DIR;
const PAGE_NAME = "QUELDRANO 2_555.html";

function dumpJson(dir, name) {
  return JSON.parse(execFileSync(COMPACTOR, ["dump", "--json", path.join(dir, name)],
    { maxBuffer: 64 << 20 }).toString("latin1"));
}

const records = () => dumpJson(DEFAULT_DIR, "QUELDRANO 2_555.sim").records;
const cells = () => dumpJson(DEFAULT_DIR, "QUELDRANO 2_555.dat").cells;

async function drawn(page) {
  return page.evaluate(() => window.compactorView.drawn());
}

async function viewWindow(page) {
  return page.evaluate(() => window.compactorView.window());
}

async function find(page, text) {
  await page.fill("#find", text);
  await page.press("#find", "Enter");
  await page.waitForTimeout(250);  // the next frame and the address of the view
}

function overlaps(a, b) {
  return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

let browser;
before(async () => {
  assert.ok(COMPACTOR && DEFAULT_DIR && LARGE_DIR, "run through scripts/test-browser.sh");
  browser = await openBrowser();
});
after(async () => { await browser.close(); });

describe("the default scenario's page", () => {
  let page;
  let errors;
  before(async () => {
    ({ page, errors } = await openPage(browser.context, path.join(DEFAULT_DIR, PAGE_NAME)));
  });
  after(async () => { await page.close(); });

  test("loads with no console error and no request", async () => {
    await page.waitForTimeout(300);
    assert.deepEqual(errors, []);
    const title = await page.textContent("h1");
    assert.equal(title, "QUELDRANO 2, train 555");
  });

  test("shows every station, named, with no two names overlapping", async () => {
    const names = records().filter((r) => r.role === "station").map((r) => r.text);
    assert.equal(names.length, 26);
    const listed = await page.$$eval("#stations li", (lis) => lis.map((li) => li.textContent));
    assert.equal(listed.length, names.length);
    names.forEach((name, i) => assert.ok(listed[i].startsWith(name.trim()), listed[i]));
    const marks = (await drawn(page)).filter((d) => d.type === "station");
    assert.deepEqual(marks.map((m) => m.name).sort(), [...names].sort());
    for (const m of marks) assert.ok(m.labelled, "no name drawn for " + m.name);
    for (let i = 0; i < marks.length; i += 1) {
      for (let j = 0; j < i; j += 1) {
        assert.ok(!overlaps(marks[i].label, marks[j].label), marks[i].name + " / " + marks[j].name);
      }
    }
  });

  test("zooming in on a station with the wheel reveals its boards", async () => {
    const boards = cells().filter((c) => c.kind === 6 || c.kind === 14);
    const station = records().find((r) => r.role === "station" && r.text.startsWith("TORRICOLA"));
    const near = boards.filter((c) => Math.abs(c.metre - station.value3) < 2500).map((c) => c.index);
    assert.ok(near.length >= 2, "boards near the station");
    await page.evaluate(() => window.compactorView.show(114000, 228000));
    const shownBoards = (list) => list.filter((d) => d.category === "speedBoard" || d.category === "indicationBoard");
    assert.deepEqual(shownBoards(await drawn(page)), [], "no board on the whole line");
    for (let k = 0; k < 30 && (await viewWindow(page)).b - (await viewWindow(page)).a > 5000; k += 1) {
      const mark = (await drawn(page)).find((d) => d.type === "station" && d.name === station.text);
      assert.ok(mark, "the station stays in the window");
      await page.mouse.move(mark.x, mark.y);
      await page.mouse.wheel(0, -400);
      await page.waitForTimeout(60);
    }
    const w = await viewWindow(page);
    assert.ok(w.b - w.a <= 5000 && w.a < station.value3 && station.value3 < w.b, JSON.stringify(w));
    const seen = shownBoards(await drawn(page)).map((d) => d.cell);
    for (const cell of near.filter((c) => c * 50 > w.a && c * 50 < w.b)) {
      assert.ok(seen.includes(cell), "board in cell " + cell + " drawn");
    }
    assert.ok(seen.length > 0, "a board in " + JSON.stringify(w));
  });

  test("hovering a signal shows its fields as dump names them", async () => {
    await page.evaluate(() => window.compactorView.show(59500, 3000));
    const signal = (await drawn(page)).find((d) => d.category === "signal");
    assert.ok(signal, "a signal in the window");
    await page.mouse.move(signal.x, signal.y);
    await page.waitForSelector("#tooltip:not([hidden])");
    const head = await page.textContent("#tooltip .head");
    const cell = cells().find((c) => c.index === signal.cell);
    assert.equal(head, "cell " + cell.index + " (" + cell.metre + " m): signal");
    const rows = await page.$$eval("#tooltip tr", (trs) => trs.map((tr) =>
      [...tr.querySelectorAll("td")].map((td) => td.textContent)));
    assert.deepEqual(rows, ["param1", "param2", "param3", "param4", "signal_time", "approach_code",
      "tunnel_type", "speed_limit", "gradient_code", "adhesion"].map((f) => [f, String(cell[f])]));
    await page.mouse.move(5, 5);
    assert.equal(await page.isHidden("#tooltip"), true);
  });

  test("the find box jumps to a station and to a distance, and the address keeps the view", async () => {
    const station = records().find((r) => r.role === "station" && r.text.startsWith("FORMIA"));
    await find(page, "formia");
    let w = await viewWindow(page);
    assert.ok(Math.abs((w.a + w.b) / 2 - station.value3) < 1, JSON.stringify(w));
    assert.ok((await page.textContent("#selected")).includes(station.text.trim()));
    const hash = await page.evaluate(() => window.location.hash);
    assert.match(hash, /^#km=128\.7&span=\d+(\.\d+)?$/);

    await find(page, "52.05");
    w = await viewWindow(page);
    assert.ok(Math.abs((w.a + w.b) / 2 - 52050) < 1, JSON.stringify(w));

    await find(page, "no such place");
    assert.match(await page.textContent("#find-status"), /nothing matches/);
  });

  test("two fingers spread apart on the profiles zoom in around them", async () => {
    await page.evaluate(() => window.compactorView.show(114000, 228000));
    const cdp = await browser.context.newCDPSession(page);
    const box = await page.locator("#profiles").boundingBox();
    const x = box.x + box.width / 2;
    const y = box.y + 100;
    const touch = (type, spread) => cdp.send("Input.dispatchTouchEvent", {
      type, touchPoints: spread === null ? [] : [{ x: x - spread, y, id: 1 }, { x: x + spread, y, id: 2 }],
    });
    await touch("touchStart", 20);
    for (const spread of [40, 60, 80, 100, 120]) await touch("touchMove", spread);
    await touch("touchEnd", null);
    await cdp.detach();
    await page.waitForTimeout(50);
    const w = await viewWindow(page);
    assert.ok(Math.abs(w.b - w.a - 228000 / 6) < 1, JSON.stringify(w));  // 40 px apart, then 240
    assert.ok(w.a < 114000 && 114000 < w.b, JSON.stringify(w));
  });

  test("a link with a view opens there, and keys pan and zoom", async () => {
    const { page: linked, errors: linkedErrors } = await openPage(browser.context,
      path.join(DEFAULT_DIR, PAGE_NAME), "#km=52.05&span=3");
    const w = await viewWindow(linked);
    assert.ok(Math.abs(w.a - 50550) < 1 && Math.abs(w.b - 53550) < 1, JSON.stringify(w));
    await linked.focus("#plan");
    await linked.keyboard.press("+");
    await linked.keyboard.press("ArrowRight");
    await linked.waitForTimeout(50);
    const z = await viewWindow(linked);
    assert.ok(Math.abs(z.b - z.a - 1500) < 1, JSON.stringify(z));
    assert.ok((z.a + z.b) / 2 > 52050 + 200, JSON.stringify(z));
    assert.deepEqual(linkedErrors, []);
    await linked.close();
  });
});

describe("diagnostics on the map", () => {
  let dir;
  before(() => {
    // The README's mistakes: a misspelt tunnel keyword and a slow order that ends on a signal.
    dir = fs.mkdtempSync(path.join(os.tmpdir(), "compactor-view-"));
    execFileSync(COMPACTOR, ["sources", dir]);
    const linePath = path.join(dir, "QUELDRANO 2_linea.txt");
    const trainPath = path.join(dir, "QUELDRANO 2_555-.txt");
    let line = fs.readFileSync(linePath, "latin1");
    const tunnel = line.indexOf("\r\n", line.indexOf("montagna")) + 2;
    line = line.slice(0, tunnel) + "montagan,   30000,  30600,  2\r\n" + line.slice(tunnel);
    fs.writeFileSync(linePath, line, "latin1");
    let train = fs.readFileSync(trainPath, "latin1");
    const second = train.indexOf("\r\n", train.indexOf("rallentamento", train.indexOf("rallentamento") + 1)) + 2;
    train = train.slice(0, second) + "rallentamento,   52000,    60, 1500, 0,  1,  0\r\n" + train.slice(second);
    fs.writeFileSync(trainPath, train, "latin1");
    try {
      execFileSync(COMPACTOR, ["compile", dir, "--write-on-error"], { stdio: "ignore" });
    } catch (e) {
      assert.equal(e.status, 1, "done with a recorded error");
    }
    execFileSync(COMPACTOR, ["view", dir, "-q"]);
  });
  after(() => fs.rmSync(dir, { recursive: true, force: true }));

  test("are listed, and each jumps to its place with a marker", async () => {
    const { page, errors } = await openPage(browser.context, path.join(dir, PAGE_NAME));
    const items = await page.$$eval("#diagnostics li", (lis) => lis.map((li) => li.textContent));
    assert.equal(items.length, 2);
    assert.match(
      items[0],
      /^error QUELDRANO 2_linea\.txt:\d+: error unknown-keyword: "montagan" is not a record keyword/,
    );
    assert.match(items[1], /^error QUELDRANO 2_555-\.txt:101: error 16: .* km 53\.500$/);
    await page.click("#diagnostics li:nth-child(2) button");
    await page.waitForTimeout(100);
    const w = await viewWindow(page);
    assert.ok(w.a < 53500 && 53500 < w.b, JSON.stringify(w));
    const markers = (await drawn(page)).filter((d) => d.type === "diagnostic");
    assert.ok(markers.length >= 1);
    assert.match(await page.textContent("#selected"), /segnale, {3}53500/);
    assert.deepEqual(errors, []);
    await page.close();
  });
});

describe("the 1,000,000 m scenario's page", () => {
  test("is under 10 MB and renders in under 2 s, thinned, with full detail zoomed in", async () => {
    const file = path.join(LARGE_DIR, PAGE_NAME);
    const bytes = fs.statSync(file).size;
    assert.ok(bytes < 10 * 1024 * 1024, bytes + " bytes");
    const { page, errors, loadMs } = await openPage(browser.context, file);
    const readyAt = await page.evaluate(() => window.compactorView.readyAt);
    console.log("large page: " + bytes + " bytes, ready " + readyAt.toFixed(0) + " ms after the start of loading, " +
      loadMs + " ms to ready as the test saw it");
    assert.ok(readyAt < 2000, "ready after " + readyAt + " ms");
    assert.ok(loadMs < 2000, "loaded in " + loadMs + " ms");
    const whole = await drawn(page);
    assert.equal(whole.filter((d) => d.type === "station").length, 40);
    // On the whole line the signals are thinned to what the screen can show.
    const signalsWhole = whole.filter((d) => d.category === "signal").length;
    assert.ok(signalsWhole < 3000, signalsWhole + " signals drawn");
    // Zoomed in, every item in the window is drawn.
    await page.evaluate(() => window.compactorView.show(500000, 4000));
    const zoomed = (await drawn(page)).filter((d) => d.type === "cell");
    const inWindow = dumpJson(LARGE_DIR, "QUELDRANO 2_555.dat").cells
      .filter((c) => c.metre >= 498000 && c.metre <= 502000 && c.kind !== 0);
    assert.deepEqual(zoomed.map((d) => d.cell).sort((a, b) => a - b), inWindow.map((c) => c.index));
    const frameMs = await page.evaluate(() => window.compactorView.lastRenderMs());
    assert.ok(frameMs < 200, "a frame takes " + frameMs + " ms");
    assert.deepEqual(errors, []);
    await page.close();
  });
});
