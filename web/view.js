// The page of `compactor view`: the plan of the line and its profiles over one distance axis,
// drawn on two canvases from the data that the program embeds in the page.
"use strict";

(function main() {
  const data = JSON.parse(document.getElementById("scenario-data").textContent);

  // --- Fixed tables ---------------------------------------------------------------------------

  // What the program knows of the format: the record and cell fields in file order (named as
  // `compactor dump` lists them), the cell kinds, the code of the cab-code points the compile
  // inserts, and the colours the picture of `compactor plot` uses as well.
  const FACTS = JSON.parse(document.getElementById("format-facts").textContent);
  const RECORD_FIELDS = FACTS.recordFields;
  const CELL_FIELDS = FACTS.cellFields.filter((name) => name !== "kind");
  const KIND = FACTS.cellKinds;
  const INSERTED_CODE = FACTS.insertedCode;
  const COLOURS = FACTS.colours;

  // A colour of the table, see-through: "rgba(r,g,b,alpha)".
  function tint(colour, alpha) {
    const channel = (k) => parseInt(colour.slice(1 + 2 * k, 3 + 2 * k), 16);
    return "rgba(" + channel(0) + "," + channel(1) + "," + channel(2) + "," + alpha + ")";
  }

  // What the plan shows up to which span of the window, in metres.
  const SHOW = { boards: 40000, boardTexts: 6000, details: 10000 };
  const MIN_SPAN = 5;

  // --- Decoding the embedded data ---------------------------------------------------------------

  function expandRuns(runs, length) {
    const out = new Int32Array(length);
    let at = 0;
    for (let i = 0; i + 1 < runs.length && at < length; i += 2) {
      out.fill(runs[i], at, Math.min(length, at + runs[i + 1]));
      at += runs[i + 1];
    }
    return out;
  }

  function sums(list, scale) {
    const out = new Float64Array(list.length);
    let total = 0;
    for (let i = 0; i < list.length; i += 1) {
      total += list[i];
      out[i] = total / scale;
    }
    return out;
  }

  function decodeGrid() {
    const grid = { count: data.cellCount };
    for (const name of ["kind"].concat(CELL_FIELDS)) {
      grid[name] = expandRuns(data.grid[name], data.cellCount);
    }
    grid.inForce = expandRuns(data.limitInForce, data.cellCount);
    return grid;
  }

  function decodeRecords() {
    const records = new Map();
    for (const row of data.records) {
      const record = { index: row[0], role: row[1], fields: {} };
      RECORD_FIELDS.forEach((name, k) => { record.fields[name] = row[k + 2]; });
      records.set(record.index, record);
    }
    return records;
  }

  function decodePlan() {
    if (!data.plan || data.plan.levels.length === 0) return null;
    return data.plan.levels.map((level) => ({
      tolerance: level.tolerance,
      metre: sums(level.metre, 1),
      x: sums(level.x, 1000),
      y: sums(level.y, 1000),
    }));
  }

  const grid = decodeGrid();
  const records = decodeRecords();
  const levels = decodePlan();
  const gridEnd = grid.count * data.cellMetres;
  const lineLength = data.length > 0 ? data.length : gridEnd;

  // --- What the line holds ---------------------------------------------------------------------

  function cellRuns(test) {
    const runs = [];
    for (let c = 0; c < grid.count; c += 1) {
      if (!test(c)) continue;
      const last = runs[runs.length - 1];
      if (last && last.last === c - 1) last.last = c;
      else runs.push({ first: c, last: c });
    }
    return runs.map((r) => ({ from: r.first * 50, to: (r.last + 1) * 50, cell: r.first }));
  }

  function slowOrderSpans() {
    const spans = [];
    for (let c = 0; c < grid.count; c += 1) {
      if (grid.kind[c] !== KIND.slowStart) continue;
      let end = c + 1;
      while (end < grid.count && grid.kind[end] !== KIND.slowEnd) end += 1;
      spans.push({ from: c * 50, to: Math.min(end, grid.count - 1) * 50, cell: c,
        speed: grid.param1[c] });
    }
    return spans;
  }

  function stationList() {
    return data.stations.map((index) => {
      const r = records.get(index);
      return { index, name: r.fields.text, position: r.fields.value3, from: r.fields.value1,
        to: r.fields.value2, record: r };
    });
  }

  // The points the train source writes, when its sources could be read to their end.
  const knowsWritten = Boolean(data.sources && data.sources.writtenCodeCells);
  const writtenCodeCells = new Set(knowsWritten ? data.sources.writtenCodeCells : []);

  // Where a code point comes from: the train source, or the cab-code pass of the compile.
  function codePointOrigin(cell) {
    if (knowsWritten) return writtenCodeCells.has(cell) ? "written" : "inserted";
    return grid.param1[cell] === INSERTED_CODE ? "inserted" : "written";
  }

  function category(cell) {
    const kind = grid.kind[cell];
    if (kind === KIND.codePoint) return codePointOrigin(cell) === "inserted" ? "inserted" : "written";
    const names = {
      [KIND.signal]: "signal", [KIND.slowEnd]: "slowEnd", [KIND.slowStart]: "slowStart",
      [KIND.warningBoard]: "warningBoard", [KIND.approach]: "approach",
      [KIND.speedBoard]: "speedBoard", [KIND.stopMark]: "stopMark",
      [KIND.tunnelMarker]: "tunnelMarker", [KIND.codePointNoCode]: "noCode",
      [KIND.indicationBoard]: "indicationBoard",
    };
    return names[kind] || "other";
  }

  function cellItems() {
    const items = [];
    for (let c = 0; c < grid.count; c += 1) {
      if (grid.kind[c] !== 0) items.push({ cell: c, metre: c * 50, category: category(c) });
    }
    return items;
  }

  const stations = stationList();
  const tunnels = cellRuns((c) => grid.tunnel_type[c] !== 0);
  const slowOrders = slowOrderSpans();
  const items = cellItems();
  const diagnostics = data.sources ? data.sources.diagnostics : [];

  // --- The plan's geometry ------------------------------------------------------------------------

  // The index of the last vertex of `level` at or before metre `m` (0 when none is).
  function vertexAt(level, m) {
    let lo = 0;
    let hi = level.metre.length - 1;
    if (m <= level.metre[0]) return 0;
    if (m >= level.metre[hi]) return hi;
    while (hi - lo > 1) {
      const mid = (lo + hi) >> 1;
      if (level.metre[mid] <= m) lo = mid;
      else hi = mid;
    }
    return lo;
  }

  // The point of the line at metre m, from the finest level, between its vertices.
  function pointAt(m) {
    const level = levels[0];
    const i = vertexAt(level, m);
    const j = Math.min(i + 1, level.metre.length - 1);
    const span = level.metre[j] - level.metre[i];
    const t = span > 0 ? Math.min(1, Math.max(0, (m - level.metre[i]) / span)) : 0;
    return { x: level.x[i] + t * (level.x[j] - level.x[i]), y: level.y[i] + t * (level.y[j] - level.y[i]) };
  }

  // The coarsest level whose thinning stays under a fraction of a pixel.
  function levelFor(metresPerPixel) {
    let chosen = levels[0];
    for (const level of levels) {
      if (level.tolerance <= metresPerPixel * 0.3) chosen = level;
    }
    return chosen;
  }

  // The vertices of `level` from metre a to metre b, with the exact points at both ends.
  function stretch(level, a, b) {
    const points = [{ m: a, ...pointAt(a) }];
    for (let i = vertexAt(level, a) + 1; i < level.metre.length && level.metre[i] < b; i += 1) {
      points.push({ m: level.metre[i], x: level.x[i], y: level.y[i] });
    }
    points.push({ m: b, ...pointAt(b) });
    return points;
  }

  // --- The view: the window of the line shown, shared by the plan and the profiles -------------

  const view = { a: 0, b: lineLength, cursor: null };
  const worldStart = -0.02 * gridEnd;
  const worldEnd = gridEnd * 1.02;

  function setView(a, b) {
    const span = Math.max(MIN_SPAN, Math.min(b - a, worldEnd - worldStart));
    const left = Math.max(worldStart, Math.min((a + b) / 2 - span / 2, worldEnd - span));
    view.a = left;
    view.b = left + span;
    scheduleDraw();
    scheduleHash();
  }

  function zoomAt(metre, factor) {
    const span = (view.b - view.a) * factor;
    const t = (metre - view.a) / (view.b - view.a);
    setView(metre - t * span, metre - t * span + span);
  }

  function panBy(metres) {
    setView(view.a + metres, view.b + metres);
  }

  function showAround(centre, span) {
    setView(centre - span / 2, centre + span / 2);
  }

  // --- Canvases -----------------------------------------------------------------------------------

  const planCanvas = document.getElementById("plan");
  const profileCanvas = document.getElementById("profiles");
  const MARGIN = { left: 64, right: 16 };

  function prepare(canvas) {
    const ratio = window.devicePixelRatio || 1;
    const width = canvas.clientWidth;
    const height = canvas.clientHeight;
    if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
      canvas.width = Math.round(width * ratio);
      canvas.height = Math.round(height * ratio);
    }
    const g = canvas.getContext("2d");
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, width, height);
    return { g, width, height };
  }

  // Metres along the line to x on the profiles, and back.
  function axisX(width, m) {
    return MARGIN.left + ((m - view.a) / (view.b - view.a)) * (width - MARGIN.left - MARGIN.right);
  }
  function axisMetre(width, x) {
    return view.a + ((x - MARGIN.left) / (width - MARGIN.left - MARGIN.right)) * (view.b - view.a);
  }

  function kmText(m, decimals) {
    return "km " + (m / 1000).toFixed(decimals === undefined ? 3 : decimals);
  }

  // A step of 1, 2 or 5 times a power of ten that gives about `target` intervals over `span`.
  function niceStep(span, target) {
    const raw = span / target;
    const p = Math.pow(10, Math.floor(Math.log10(raw)));
    for (const f of [1, 2, 5, 10]) if (f * p >= raw) return f * p;
    return 10 * p;
  }

  // --- The plan panel -----------------------------------------------------------------------------

  // The stretch in the window turned so that its ends are level, start on the left, and fitted
  // into the panel at the same scale both ways.
  function planTransform(width, height, points) {
    const first = points[0];
    const last = points[points.length - 1];
    let dx = last.x - first.x;
    let dy = last.y - first.y;
    let chord = Math.hypot(dx, dy);
    if (chord < (view.b - view.a) * 1e-3) {
      dx = points[Math.min(1, points.length - 1)].x - first.x;
      dy = points[Math.min(1, points.length - 1)].y - first.y;
      chord = Math.hypot(dx, dy) || 1;
    }
    const cx = dx / chord;
    const cy = dy / chord;
    const t = { cx, cy, ox: first.x, oy: first.y };
    let umin = Infinity; let umax = -Infinity; let vmin = Infinity; let vmax = -Infinity;
    for (const p of points) {
      const u = (p.x - t.ox) * cx + (p.y - t.oy) * cy;
      const v = -(p.x - t.ox) * cy + (p.y - t.oy) * cx;
      umin = Math.min(umin, u); umax = Math.max(umax, u);
      vmin = Math.min(vmin, v); vmax = Math.max(vmax, v);
    }
    const pad = { x: 40, top: 96, bottom: 96 };
    const scale = Math.min((width - 2 * pad.x) / Math.max(umax - umin, 1e-9),
      (height - pad.top - pad.bottom) / Math.max(vmax - vmin, 1e-9));
    t.scale = scale;
    t.left = width / 2 - ((umin + umax) / 2) * scale;
    t.top = pad.top + (height - pad.top - pad.bottom) / 2 + ((vmin + vmax) / 2) * scale;
    t.sx = (x, y) => t.left + ((x - t.ox) * cx + (y - t.oy) * cy) * scale;
    t.sy = (x, y) => t.top - (-(x - t.ox) * cy + (y - t.oy) * cx) * scale;
    return t;
  }

  function screenAt(t, m) {
    const p = pointAt(m);
    return { x: t.sx(p.x, p.y), y: t.sy(p.x, p.y) };
  }

  // The unit normal of the track at metre m on the screen, pointing left of the direction of
  // travel.
  function normalAt(t, m) {
    const a = screenAt(t, m - 5);
    const b = screenAt(t, m + 5);
    const len = Math.hypot(b.x - a.x, b.y - a.y) || 1;
    return { x: (b.y - a.y) / len, y: -(b.x - a.x) / len };
  }

  function tracePath(g, t, points) {
    g.beginPath();
    points.forEach((p, i) => {
      const x = t.sx(p.x, p.y);
      const y = t.sy(p.x, p.y);
      if (i === 0) g.moveTo(x, y);
      else g.lineTo(x, y);
    });
  }

  // A band along the track from metre `from` to metre `to`, clipped to the window.
  function band(g, t, level, from, to, colour, widthPx) {
    const a = Math.max(from, view.a);
    const b = Math.min(to, view.b);
    if (b < a) return;
    tracePath(g, t, stretch(level, a, Math.max(b, a + 0.01)));
    g.strokeStyle = colour;
    g.lineWidth = widthPx;
    g.lineCap = "butt";
    g.stroke();
  }

  // Everything drawn on the plan that the pointer can point at, in canvas coordinates.
  let planTargets = [];
  let drawnLabels = [];

  function drawTrack(g, t, level, metresPerPixel) {
    const span = view.b - view.a;
    const before = Math.max(0, view.a - span);
    const after = Math.min(gridEnd, view.b + span);
    const coarse = levelFor(metresPerPixel * 2);
    g.lineJoin = "round";
    for (const [from, to] of [[before, view.a], [view.b, after]]) {
      if (to <= from) continue;
      tracePath(g, t, stretch(coarse, from, to));
      g.strokeStyle = COLOURS.context;
      g.lineWidth = 1.2;
      g.stroke();
    }
    for (const s of stations) band(g, t, level, s.from, s.to, tint(COLOURS.station, 0.35), 9);
    for (const r of tunnels) band(g, t, level, r.from, r.to, tint(COLOURS.tunnel, 0.75), 7);
    for (const o of slowOrders) band(g, t, level, o.from, o.to, tint(COLOURS.slowOrder, 0.6), 11);
    tracePath(g, t, stretch(level, Math.max(view.a, 0), Math.min(view.b, gridEnd)));
    g.strokeStyle = COLOURS.track;
    g.lineWidth = 1.6;
    g.stroke();
  }

  function symbol(g, shape, x, y, size, fill, stroke) {
    g.beginPath();
    if (shape === "circle") {
      g.arc(x, y, size, 0, 2 * Math.PI);
    } else if (shape === "diamond") {
      g.moveTo(x, y - size); g.lineTo(x + size, y); g.lineTo(x, y + size); g.lineTo(x - size, y);
      g.closePath();
    } else if (shape === "triangle") {
      g.moveTo(x, y - size); g.lineTo(x + size, y + size * 0.8); g.lineTo(x - size, y + size * 0.8);
      g.closePath();
    } else {
      g.rect(x - size, y - size, 2 * size, 2 * size);
    }
    if (fill) { g.fillStyle = fill; g.fill(); }
    if (stroke) { g.strokeStyle = stroke; g.lineWidth = 1.4; g.stroke(); }
  }

  // How each kind of cell is drawn: its shape, colours, size, its side of the track (in pixels
  // along the normal) and from which span on it is shown.
  const STYLE = {
    signal: { shape: "circle", fill: COLOURS.signal, size: 3, side: 7, upTo: SHOW.boards },
    distantSignal: { shape: "circle", fill: COLOURS.signal, size: 1.8, side: 0, upTo: Infinity },
    speedBoard: { shape: "square", fill: COLOURS.speedBoard, size: 3.5, side: -9, upTo: SHOW.boards },
    indicationBoard: { shape: "square", fill: "#fff", stroke: COLOURS.indicationBoard, size: 4, side: -9,
      upTo: SHOW.boards },
    written: { shape: "diamond", fill: COLOURS.written, size: 4.5, side: 0, upTo: SHOW.boards },
    inserted: { shape: "diamond", fill: "#fff", stroke: COLOURS.inserted, size: 4, side: 0,
      upTo: SHOW.boards },
    noCode: { shape: "diamond", fill: COLOURS.noCode, size: 3.5, side: 0, upTo: SHOW.boards },
    warningBoard: { shape: "triangle", fill: COLOURS.slowOrder, size: 5, side: -10, upTo: SHOW.boards },
    slowStart: { shape: "square", fill: COLOURS.slowOrder, size: 3, side: 0, upTo: SHOW.details },
    slowEnd: { shape: "square", fill: "#fff", stroke: COLOURS.slowOrder, size: 3, side: 0,
      upTo: SHOW.details },
    approach: { shape: "circle", fill: COLOURS.slowOrder, size: 1.8, side: 0, upTo: SHOW.details },
    stopMark: { shape: "square", fill: COLOURS.stopMark, size: 2.5, side: 6, upTo: SHOW.boards },
    tunnelMarker: { shape: "circle", fill: COLOURS.tunnel, size: 1.8, side: 0, upTo: SHOW.details },
    other: { shape: "square", fill: "#000", size: 3, side: 0, upTo: SHOW.boards },
  };

  // The text written beside an item when the window is short enough, or "".
  function itemText(item) {
    const c = item.cell;
    if (item.category === "indicationBoard") {
      const r = records.get(grid.param1[c]);
      return r ? r.fields.text.trim() : "";
    }
    if (item.category === "speedBoard") return speedBoardText(c);
    return "";
  }

  // A speed board's speeds: param1 to param3 hold the s side's speed times 20 plus the d side's
  // speed divided by 5.
  function boardSpeeds(cell) {
    const s = [];
    const d = [];
    for (const field of ["param1", "param2", "param3"]) {
      const v = grid[field][cell];
      s.push(Math.floor(v / 100) * 5);
      d.push((v % 100) * 5);
    }
    return { s, d, stripes: grid.param4[cell] };
  }

  function speedBoardText(cell) {
    const b = boardSpeeds(cell);
    return b.s.join("/") + " | " + b.d.join("/");
  }

  function boxesOverlap(a, b) {
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
  }

  function drawItems(g, t, width, height) {
    const span = view.b - view.a;
    const lastDrawn = {};
    for (const item of items) {
      if (item.metre < view.a || item.metre > view.b) continue;
      let style = STYLE[item.category] || STYLE.other;
      if (item.category === "signal" && span > STYLE.signal.upTo) style = STYLE.distantSignal;
      if (span > style.upTo) continue;
      const p = screenAt(t, item.metre);
      const n = normalAt(t, item.metre);
      const x = p.x + n.x * style.side;
      const y = p.y + n.y * style.side;
      const prev = lastDrawn[item.category];
      if (prev && Math.abs(prev.x - x) < 3 && Math.abs(prev.y - y) < 3) continue;
      lastDrawn[item.category] = { x, y };
      if (x < -10 || y < -10 || x > width + 10 || y > height + 10) continue;
      if (style.side !== 0) {
        g.beginPath(); g.moveTo(p.x, p.y); g.lineTo(x, y);
        g.strokeStyle = "#999"; g.lineWidth = 0.8; g.stroke();
      }
      symbol(g, style.shape, x, y, style.size, style.fill, style.stroke);
      planTargets.push({ type: "cell", cell: item.cell, category: item.category, x, y, r: style.size + 3 });
      if (span <= SHOW.boardTexts) itemLabel(g, item, x, y, n, style.side);
    }
  }

  // The text of a board beside it, on the board's side of the track, one step further out at a
  // time until it overlaps no text already written; left out when there is no room.
  function itemLabel(g, item, x, y, n, side) {
    const text = itemText(item);
    if (!text) return;
    g.font = "11px DejaVu Sans, Helvetica, Arial, sans-serif";
    const w = g.measureText(text).width + 6;
    const dir = side > 0 ? 1 : -1;
    for (const step of [0, 1, 2, 3]) {
      const offset = 12 + step * 17 + Math.abs(n.x) * w / 2;
      const cx = x + n.x * offset * dir;
      const cy = y + n.y * offset * dir;
      const box = { x0: cx - w / 2, y0: cy - 8, x1: cx + w / 2, y1: cy + 8 };
      if (drawnLabels.some((b) => boxesOverlap(b, box))) continue;
      drawnLabels.push(box);
      g.fillStyle = "rgba(255,255,255,0.85)";
      g.fillRect(box.x0, box.y0, w, 16);
      g.fillStyle = item.category === "speedBoard" ? COLOURS.speedBoard : COLOURS.indicationBoard;
      g.textBaseline = "middle";
      g.fillText(text, box.x0 + 3, cy);
      return;
    }
  }

  function segmentCrossesBox(ax, ay, bx, by, box) {
    const steps = 12;
    for (let k = 1; k < steps; k += 1) {
      const x = ax + ((bx - ax) * k) / steps;
      const y = ay + ((by - ay) * k) / steps;
      if (x > box.x0 && x < box.x1 && y > box.y0 && y < box.y1) return true;
    }
    return false;
  }

  // A place for each station's name: above or below its mark, one row further out at a time,
  // clear of the names and leader lines already placed and of the track.
  // A place for each station's name: above or below its mark, one row further out at a time,
  // clear of the names and leader lines already placed and of the track. Names are placed once
  // from west to east and once from east to west (so that a crowd can form a staircase either
  // way); the run that names more stations, then with the shorter leader lines, is kept.
  function placeStationLabels(g, t, marks, width, height) {
    g.font = "12px DejaVu Sans, Helvetica, Arial, sans-serif";
    const obstacles = trackObstacles(t);
    const byX = [...marks].sort((p, q) => p.x - q.x);
    const runs = [byX, [...byX].reverse()].map((order) => labelRun(g, order, obstacles, width, height));
    const best = runs[1].count > runs[0].count ||
      (runs[1].count === runs[0].count && runs[1].leaders < runs[0].leaders) ? runs[1] : runs[0];
    for (const mark of marks) {
      const place = best.places.get(mark);
      mark.label = place ? place.box : null;
      mark.leader = place ? place.leader : null;
    }
    return [...best.places.values()].map((p) => p.box);
  }

  function labelRun(g, order, obstacles, width, height) {
    const places = new Map();
    const boxes = [];
    const leaders = [];
    let leaderLength = 0;
    for (const mark of order) {
      const w = g.measureText(mark.station.name).width + 6;
      const leaderTo = (box) => [Math.max(box.x0, Math.min(mark.x, box.x1)), box.y1 <= mark.y ? box.y1 : box.y0];
      const box = labelCandidates(mark, w, 15, width, height).find((b) => {
        const [lx, ly] = leaderTo(b);
        return !boxes.some((o) => boxesOverlap(o, b)) && !obstacles.some((o) => boxesOverlap(o, b)) &&
          !leaders.some((l) => segmentCrossesBox(l[0], l[1], l[2], l[3], b)) &&
          !boxes.some((o) => segmentCrossesBox(mark.x, mark.y, lx, ly, o));
      });
      if (!box) continue;
      const leader = leaderTo(box);
      boxes.push(box);
      leaders.push([mark.x, mark.y, leader[0], leader[1]]);
      leaderLength += Math.hypot(leader[0] - mark.x, leader[1] - mark.y);
      places.set(mark, { box, leader });
    }
    return { places, count: places.size, leaders: leaderLength };
  }

  function labelCandidates(mark, w, h, width, height) {
    const out = [];
    for (let row = 0; row < 16; row += 1) {
      for (const shift of [0, 0.5, -0.5, 1, -1, 1.5, -1.5, 2, -2, 3, -3]) {
        const x0 = mark.x - w / 2 + shift * w;
        const above = mark.y - 8 - row * (h + 3);
        const below = mark.y + 8 + row * (h + 3);
        for (const box of [{ x0, y0: above - h, x1: x0 + w, y1: above },
          { x0, y0: below, x1: x0 + w, y1: below + h }]) {
          if (box.x0 >= 2 && box.x1 <= width - 2 && box.y0 >= 2 && box.y1 <= height - 30) out.push(box);
        }
      }
    }
    // Nearest first, so that leader lines stay short.
    const distance = (box) => Math.hypot(1.5 * ((box.x0 + box.x1) / 2 - mark.x), (box.y0 + box.y1) / 2 - mark.y);
    return out.sort((p, q) => distance(p) - distance(q));
  }

  function trackObstacles(t) {
    const boxes = [];
    const level = levelFor((view.b - view.a) / 1000);
    let prev = null;
    for (const p of stretch(level, Math.max(view.a, 0), Math.min(view.b, gridEnd))) {
      const x = t.sx(p.x, p.y);
      const y = t.sy(p.x, p.y);
      if (prev && Math.hypot(x - prev.x, y - prev.y) < 4) continue;
      boxes.push({ x0: x - 2.5, y0: y - 2.5, x1: x + 2.5, y1: y + 2.5 });
      prev = { x, y };
    }
    return boxes;
  }

  function drawStations(g, t, width, height) {
    const marks = [];
    for (const s of stations) {
      if (s.position < view.a || s.position > view.b) continue;
      const p = screenAt(t, s.position);
      marks.push({ station: s, x: p.x, y: p.y });
    }
    const placed = placeStationLabels(g, t, marks, width, height);
    drawnLabels = drawnLabels.concat(placed);
    for (const mark of marks) {
      if (mark.label) {
        if (Math.hypot(mark.leader[0] - mark.x, mark.leader[1] - mark.y) > 9) {
          g.beginPath(); g.moveTo(mark.x, mark.y); g.lineTo(mark.leader[0], mark.leader[1]);
          g.strokeStyle = "#888"; g.lineWidth = 0.8; g.stroke();
        }
        g.fillStyle = "rgba(250,250,250,0.85)";
        g.fillRect(mark.label.x0, mark.label.y0, mark.label.x1 - mark.label.x0, mark.label.y1 - mark.label.y0);
        g.fillStyle = COLOURS.ink;
        g.textBaseline = "middle";
        g.fillText(mark.station.name, mark.label.x0 + 3, (mark.label.y0 + mark.label.y1) / 2);
      }
      symbol(g, "circle", mark.x, mark.y, 5, "#fff", COLOURS.station);
      planTargets.push({ type: "station", station: mark.station, x: mark.x, y: mark.y, r: 8,
        label: mark.label || null });
    }
  }

  function drawSlowOrderLabels(g, t) {
    g.font = "bold 11px DejaVu Sans, Helvetica, Arial, sans-serif";
    for (const o of slowOrders) {
      if (o.to < view.a || o.from > view.b) continue;
      const m = Math.max(o.from, view.a);
      const p = screenAt(t, m);
      const n = normalAt(t, m);
      const text = o.speed + " km/h";
      const w = g.measureText(text).width + 6;
      const x = p.x - n.x * 30 - w / 2;
      const y = p.y - n.y * 30;
      const box = { x0: x, y0: y - 8, x1: x + w, y1: y + 8 };
      if (drawnLabels.some((b) => boxesOverlap(b, box))) continue;
      drawnLabels.push(box);
      g.fillStyle = "rgba(255,255,255,0.9)";
      g.fillRect(box.x0, box.y0, w, 16);
      g.fillStyle = COLOURS.slowOrder;
      g.textBaseline = "middle";
      g.fillText(text, x + 3, y);
      planTargets.push({ type: "slowOrder", order: o, x: x + w / 2, y, r: w / 2 });
    }
  }

  function drawDiagnostics(g, t) {
    diagnostics.forEach((d, index) => {
      if (d.metre === null || d.metre < view.a || d.metre > view.b) return;
      const p = screenAt(t, d.metre);
      const colour = d.severity === "error" ? COLOURS.error : COLOURS.warning;
      g.beginPath(); g.moveTo(p.x, p.y); g.lineTo(p.x, p.y - 26);
      g.strokeStyle = colour; g.lineWidth = 1.5; g.stroke();
      symbol(g, "circle", p.x, p.y - 32, 7, colour, "#fff");
      g.fillStyle = "#fff";
      g.font = "bold 11px DejaVu Sans, Helvetica, Arial, sans-serif";
      g.textAlign = "center";
      g.textBaseline = "middle";
      g.fillText("!", p.x, p.y - 31);
      g.textAlign = "start";
      planTargets.push({ type: "diagnostic", index, x: p.x, y: p.y - 32, r: 9 });
    });
  }

  function drawScaleBar(g, t, height) {
    const metres = niceStep(160 / t.scale, 1);
    const length = metres * t.scale;
    const y = height - 14;
    g.strokeStyle = COLOURS.ink; g.lineWidth = 2;
    g.beginPath(); g.moveTo(14, y); g.lineTo(14 + length, y); g.stroke();
    g.lineWidth = 1;
    g.beginPath(); g.moveTo(14, y - 4); g.lineTo(14, y + 4);
    g.moveTo(14 + length, y - 4); g.lineTo(14 + length, y + 4); g.stroke();
    g.fillStyle = COLOURS.ink;
    g.font = "12px DejaVu Sans, Helvetica, Arial, sans-serif";
    g.textBaseline = "middle";
    const text = metres >= 1000 ? metres / 1000 + " km" : metres + " m";
    g.fillText(text, 20 + length, y);
    g.fillStyle = COLOURS.muted;
    g.fillText(kmText(view.a, 3) + " on the left to " + kmText(view.b, 3) +
      " on the right, turned so that both ends are level", 14, 14);
  }

  function drawCursor(g, t) {
    if (view.cursor === null || view.cursor < view.a || view.cursor > view.b) return;
    const p = screenAt(t, view.cursor);
    g.beginPath(); g.arc(p.x, p.y, 7, 0, 2 * Math.PI);
    g.strokeStyle = COLOURS.cursor; g.lineWidth = 2; g.stroke();
  }

  let planTransformNow = null;

  function drawPlan() {
    const { g, width, height } = prepare(planCanvas);
    planTargets = [];
    drawnLabels = [];
    planTransformNow = null;
    if (!levels) {
      g.fillStyle = COLOURS.muted;
      g.font = "14px DejaVu Sans, Helvetica, Arial, sans-serif";
      g.fillText("No line output beside the others: the plan of the line cannot be drawn.", 20, 40);
      return;
    }
    const a = Math.max(view.a, 0);
    const b = Math.min(view.b, gridEnd);
    const outline = stretch(levelFor((view.b - view.a) / 400), a, b);
    const t = planTransform(width, height, outline);
    planTransformNow = t;
    const metresPerPixel = 1 / t.scale;
    const level = levelFor(metresPerPixel);
    drawTrack(g, t, level, metresPerPixel);
    drawStations(g, t, width, height);
    drawItems(g, t, width, height);
    drawSlowOrderLabels(g, t);
    drawDiagnostics(g, t);
    drawCursor(g, t);
    drawScaleBar(g, t, height);
  }

  // --- The profiles -------------------------------------------------------------------------------

  // The rows of the profiles, top to bottom, in CSS pixels.
  const ROWS = [
    { key: "gradient", caption: "gradient (\u2030)", height: 110 },
    { key: "speed", caption: "speed (km/h)", height: 130 },
    { key: "adhesion", caption: "adhesion", height: 70 },
    { key: "kinds", caption: "cells", height: 44 },
  ];
  const ROW_GAP = 10;

  function rowLayout() {
    let top = 22;
    return ROWS.map((row) => {
      const r = { ...row, top };
      top += row.height + ROW_GAP;
      return r;
    });
  }

  function cellRange() {
    const first = Math.max(0, Math.floor(view.a / 50));
    const last = Math.min(grid.count - 1, Math.ceil(view.b / 50));
    return { first, last };
  }

  function valueRange(values, lo, hi) {
    let min = lo;
    let max = hi;
    const { first, last } = cellRange();
    for (let c = first; c <= last; c += 1) {
      min = Math.min(min, values(c));
      max = Math.max(max, values(c));
    }
    if (max <= min) max = min + 1;
    const step = niceStep(max - min, 4);
    return { lo: Math.floor(min / step) * step, hi: Math.ceil(max / step) * step + (max % step === 0 ? step : 0), step };
  }

  // A step curve of a cell value, thinned to its lowest and highest value in each pixel column
  // when the cells are narrower than a pixel.
  function stepCurve(g, width, values, y) {
    const { first, last } = cellRange();
    g.beginPath();
    let column = null;
    let lo = 0;
    let hi = 0;
    let started = false;
    const flush = () => {
      if (column === null) return;
      if (!started) { g.moveTo(column, y(lo)); started = true; }
      g.lineTo(column, y(lo)); g.lineTo(column, y(hi));
    };
    for (let c = first; c <= last; c += 1) {
      const x0 = axisX(width, c * 50);
      const x1 = axisX(width, (c + 1) * 50);
      const v = values(c);
      if (x1 - x0 >= 1) {
        flush(); column = null;
        if (!started) { g.moveTo(x0, y(v)); started = true; }
        g.lineTo(x0, y(v)); g.lineTo(x1, y(v));
        continue;
      }
      const col = Math.floor(x0);
      if (col !== column) { flush(); column = col; lo = v; hi = v; }
      lo = Math.min(lo, v); hi = Math.max(hi, v);
    }
    flush();
  }

  // The value scale of a row: grid lines now, the numbers beside the frame later (rowTicks).
  function rowFrame(g, width, row, range) {
    const y = (v) => row.top + ((range.hi - v) / (range.hi - range.lo)) * row.height;
    row.ticks = [];
    g.strokeStyle = COLOURS.grid; g.lineWidth = 1;
    for (let v = range.lo; v <= range.hi + range.step / 1000; v += range.step) {
      g.beginPath(); g.moveTo(MARGIN.left, y(v)); g.lineTo(width - MARGIN.right, y(v)); g.stroke();
      row.ticks.push([Number(v.toFixed(6)), y(v)]);
    }
    return y;
  }

  function rowTicks(g, width, row) {
    g.fillStyle = COLOURS.muted;
    g.font = "11px DejaVu Sans, Helvetica, Arial, sans-serif";
    g.textAlign = "right"; g.textBaseline = "middle";
    for (const [v, y] of row.ticks || []) g.fillText(String(v), MARGIN.left - 6, y);
    g.textAlign = "start";
  }

  function shadeSpans(g, width, row, spans, colour) {
    g.fillStyle = colour;
    for (const s of spans) {
      if (s.to < view.a || s.from > view.b) continue;
      const x0 = axisX(width, s.from);
      const x1 = Math.max(axisX(width, s.to), x0 + 1.5);
      g.fillRect(x0, row.top, x1 - x0, row.height);
    }
  }

  function rowBackground(g, width, row) {
    shadeSpans(g, width, row, tunnels, tint(COLOURS.tunnel, 0.18));
    shadeSpans(g, width, row, stations, tint(COLOURS.station, 0.18));
    shadeSpans(g, width, row, slowOrders, tint(COLOURS.slowOrder, 0.22));
  }

  function caption(g, row) {
    g.save();
    g.translate(14, row.top + row.height / 2);
    g.rotate(-Math.PI / 2);
    g.textAlign = "center";
    g.fillStyle = COLOURS.ink;
    g.font = "11px DejaVu Sans, Helvetica, Arial, sans-serif";
    g.fillText(row.caption, 0, 0);
    g.restore();
  }

  function drawGradientRow(g, width, row) {
    const values = (c) => grid.gradient_code[c] - 100;
    const y = rowFrame(g, width, row, valueRange(values, 0, 0));
    stepCurve(g, width, values, y);
    g.strokeStyle = COLOURS.gradient; g.lineWidth = 1.5; g.stroke();
  }

  function drawSpeedRow(g, width, row) {
    const limit = (c) => grid.speed_limit[c] * 5;
    const inForce = (c) => grid.inForce[c];
    const y = rowFrame(g, width, row, valueRange(limit, 0, 0));
    stepCurve(g, width, limit, y);
    g.strokeStyle = COLOURS.speed; g.lineWidth = 1.6; g.stroke();
    g.save();
    g.beginPath();
    for (const o of slowOrders) {
      const x0 = axisX(width, o.from);
      g.rect(x0, row.top - 2, Math.max(axisX(width, o.to) - x0, 2), row.height + 4);
    }
    g.clip();
    stepCurve(g, width, inForce, y);
    g.strokeStyle = COLOURS.inForce; g.lineWidth = 2.2; g.setLineDash([5, 3]); g.stroke();
    g.setLineDash([]);
    g.restore();
    drawBoardSpeeds(g, width, row, y);
  }

  // Each speed board's speeds for the s side, as short ticks on the speed row.
  function drawBoardSpeeds(g, width, row, y) {
    if (view.b - view.a > SHOW.boards) return;
    g.strokeStyle = tint(COLOURS.speed, 0.7); g.lineWidth = 1.5;
    for (const item of items) {
      if (item.category !== "speedBoard" || item.metre < view.a || item.metre > view.b) continue;
      const x = axisX(width, item.metre);
      for (const v of boardSpeeds(item.cell).s) {
        if (v <= 0) continue;
        g.beginPath(); g.moveTo(x - 4, y(v)); g.lineTo(x + 4, y(v)); g.stroke();
      }
    }
  }

  function drawAdhesionRow(g, width, row) {
    const values = (c) => grid.adhesion[c];
    const y = rowFrame(g, width, row, valueRange(values, 0, 0));
    stepCurve(g, width, values, y);
    g.strokeStyle = COLOURS.adhesion; g.lineWidth = 1.5; g.stroke();
  }

  const KIND_COLOURS = {
    signal: COLOURS.signal, speedBoard: COLOURS.speedBoard, indicationBoard: COLOURS.indicationBoard,
    written: COLOURS.written, inserted: COLOURS.inserted, noCode: COLOURS.noCode,
    warningBoard: COLOURS.slowOrder, slowStart: COLOURS.slowOrder, slowEnd: COLOURS.slowOrder,
    approach: COLOURS.approach, stopMark: COLOURS.stopMark, tunnelMarker: COLOURS.tunnel, other: "#000",
  };

  // A tick for each cell that is not free, coloured by its kind; where several share a pixel
  // column, the first of them is drawn.
  function drawKindsRow(g, width, row) {
    let column = null;
    for (const item of items) {
      if (item.metre + 50 < view.a || item.metre > view.b) continue;
      const x0 = axisX(width, item.metre);
      const w = Math.max(axisX(width, item.metre + 50) - x0, 1.5);
      if (Math.floor(x0) === column) continue;
      column = Math.floor(x0);
      g.fillStyle = KIND_COLOURS[item.category] || "#000";
      g.fillRect(x0, row.top + 4, w, row.height - 8);
    }
  }

  function drawKmAxis(g, width, height) {
    const step = niceStep((view.b - view.a), 10);
    const y = height - 26;
    g.fillStyle = COLOURS.ink;
    g.strokeStyle = COLOURS.ink;
    g.font = "11px DejaVu Sans, Helvetica, Arial, sans-serif";
    g.textAlign = "center"; g.textBaseline = "top";
    const decimals = step >= 1000 ? 0 : step >= 100 ? 1 : step >= 10 ? 2 : 3;
    for (let m = Math.ceil(view.a / step) * step; m <= view.b; m += step) {
      const x = axisX(width, m);
      g.beginPath(); g.moveTo(x, y - 4); g.lineTo(x, y); g.stroke();
      g.fillText((m / 1000).toFixed(decimals), x, y + 2);
    }
    g.fillText("distance along the line (km)", (MARGIN.left + width - MARGIN.right) / 2, y + 14);
    g.textAlign = "start";
  }

  function drawReadout(g) {
    if (view.cursor === null) return;
    const c = Math.max(0, Math.min(grid.count - 1, Math.floor(view.cursor / 50)));
    const parts = [kmText(view.cursor), "cell " + c + " (" + kindName(grid.kind[c]) + ")",
      "gradient " + (grid.gradient_code[c] - 100) + " \u2030",
      "limit " + grid.speed_limit[c] * 5 + " km/h", "in force " + grid.inForce[c] + " km/h",
      "adhesion " + grid.adhesion[c]];
    g.fillStyle = COLOURS.ink;
    g.font = "12px DejaVu Sans, Helvetica, Arial, sans-serif";
    g.textBaseline = "middle";
    g.fillText(parts.join("  \u00b7  "), MARGIN.left, 10);
  }

  function drawProfiles() {
    const { g, width, height } = prepare(profileCanvas);
    const rows = rowLayout();
    const draw = { gradient: drawGradientRow, speed: drawSpeedRow, adhesion: drawAdhesionRow,
      kinds: drawKindsRow };
    for (const row of rows) {
      g.save();
      g.beginPath();
      g.rect(MARGIN.left, row.top - 1, width - MARGIN.left - MARGIN.right, row.height + 2);
      g.clip();
      rowBackground(g, width, row);
      draw[row.key](g, width, row);
      g.restore();
      rowTicks(g, width, row);
      g.strokeStyle = "#999"; g.lineWidth = 1;
      g.strokeRect(MARGIN.left, row.top, width - MARGIN.left - MARGIN.right, row.height);
      caption(g, row);
    }
    drawKmAxis(g, width, height);
    if (view.cursor !== null && view.cursor >= view.a && view.cursor <= view.b) {
      const x = axisX(width, view.cursor);
      g.strokeStyle = COLOURS.cursor; g.lineWidth = 1;
      g.beginPath(); g.moveTo(x, 18); g.lineTo(x, height - 30); g.stroke();
    }
    drawReadout(g);
  }

  // --- Drawing and the address of the view ------------------------------------------------------

  let drawPending = false;
  let lastRenderMs = 0;

  function drawAll() {
    drawPending = false;
    const started = performance.now();
    drawPlan();
    drawProfiles();
    lastRenderMs = performance.now() - started;
  }

  function scheduleDraw() {
    if (drawPending) return;
    drawPending = true;
    window.requestAnimationFrame(drawAll);
  }

  let hashTimer = null;
  let hashWritten = "";

  function viewHash() {
    const centre = (view.a + view.b) / 2 / 1000;
    const span = (view.b - view.a) / 1000;
    const decimals = span < 0.1 ? 4 : 3;
    return "#km=" + Number(centre.toFixed(decimals)) + "&span=" + Number(span.toFixed(decimals));
  }

  function scheduleHash() {
    if (hashTimer !== null) window.clearTimeout(hashTimer);
    hashTimer = window.setTimeout(() => {
      hashTimer = null;
      hashWritten = viewHash();
      if (window.location.hash !== hashWritten) window.history.replaceState(null, "", hashWritten);
    }, 150);
  }

  // "#km=52.05&span=3": the centre and the span of the window in km.
  function applyHash() {
    const hash = window.location.hash;
    if (!hash || hash === hashWritten) return false;
    const params = new URLSearchParams(hash.slice(1));
    const km = Number.parseFloat(params.get("km"));
    if (!Number.isFinite(km)) return false;
    let span = Number.parseFloat(params.get("span"));
    if (!Number.isFinite(span) || span <= 0) span = 3;
    showAround(km * 1000, span * 1000);
    return true;
  }

  // --- Tooltips and the selected record ---------------------------------------------------------

  const tooltip = document.getElementById("tooltip");

  function kindName(kind) {
    return data.kindNames[kind] !== undefined ? data.kindNames[kind] : "unknown kind " + kind;
  }

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function fieldTable(pairs) {
    const table = element("table");
    for (const [name, value] of pairs) {
      const tr = element("tr");
      tr.append(element("td", "", name), element("td", "", typeof value === "string" ? JSON.stringify(value) : String(value)));
      table.append(tr);
    }
    return table;
  }

  // What a cell's kind means, in words, from its fields.
  function cellNote(cell) {
    const kind = grid.kind[cell];
    if (kind === KIND.signal) {
      const p4 = grid.param4[cell];
      const digits = [grid.param1[cell], grid.param2[cell], grid.param3[cell]];
      return "sx " + Math.floor((p4 % 10) / 3) + ", s1 s2 s3 " + digits.map((v) => Math.floor(v / 10)).join(" ") +
        "; dx " + ((p4 % 10) % 3) + ", d1 d2 d3 " + digits.map((v) => v % 10).join(" ") +
        "; rapp " + Math.floor(p4 / 10);
    }
    if (kind === KIND.speedBoard) {
      const b = boardSpeeds(cell);
      return "speeds a/b/c: s side " + b.s.join("/") + " km/h, d side " + b.d.join("/") +
        " km/h; stripes " + Math.floor(b.stripes / 10) + " and " + (b.stripes % 10);
    }
    if (kind === KIND.indicationBoard) {
      const r = records.get(grid.param1[cell]);
      return "text of record " + grid.param1[cell] + ": " + (r ? JSON.stringify(r.fields.text) : "none");
    }
    if (kind === KIND.codePoint) {
      const origin = codePointOrigin(cell);
      if (origin === "inserted") {
        return data.sources ? "inserted by the compile's cab-code pass"
          : "code " + INSERTED_CODE + ": inserted by the compile's cab-code pass (no sources beside the outputs to compare)";
      }
      return data.sources ? "written in the train source (abbattimento)"
        : "written in the train source (its code is not " + INSERTED_CODE + ")";
    }
    if (kind === KIND.slowStart || kind === KIND.slowEnd) return "slow order at " + grid.param1[cell] + " km/h";
    return "";
  }

  function cellTooltip(cell) {
    const box = element("div");
    box.append(element("div", "head", "cell " + cell + " (" + cell * 50 + " m): " + kindName(grid.kind[cell])));
    box.append(fieldTable(CELL_FIELDS.map((name) => [name, grid[name][cell]])));
    const note = cellNote(cell);
    if (note) box.append(element("div", "note", note));
    return box;
  }

  function recordTable(record) {
    const box = element("div");
    box.append(element("div", "head", "record " + record.index + " (" + record.role + ")"));
    box.append(fieldTable(RECORD_FIELDS.map((name) => [name, record.fields[name]])));
    return box;
  }

  // "FILE:LINE:COLUMN" as far as it is known.
  function diagnosticPlace(d, withColumn) {
    if (!d.file) return "compactor";
    if (d.line <= 0) return d.file;
    return d.file + ":" + d.line + (withColumn ? ":" + d.column : "");
  }

  function diagnosticTooltip(d) {
    const box = element("div");
    box.append(element("div", "head", d.severity + ": " + d.message));
    box.append(element("div", "", diagnosticPlace(d, true) +
      (d.metre !== null ? ", at " + d.metre + " m" : "")));
    return box;
  }

  function targetTooltip(target) {
    if (target.type === "cell") return cellTooltip(target.cell);
    if (target.type === "station") return recordTable(target.station.record);
    if (target.type === "diagnostic") return diagnosticTooltip(diagnostics[target.index]);
    const box = element("div");
    const o = target.order;
    box.append(element("div", "head", "slow order " + o.speed + " km/h"));
    box.append(element("div", "", kmText(o.from) + " to " + kmText(o.to) + " (cells " + o.cell +
      " to " + Math.round(o.to / 50) + ")"));
    return box;
  }

  function showTooltip(content, clientX, clientY) {
    tooltip.replaceChildren(content);
    tooltip.hidden = false;
    const w = tooltip.offsetWidth;
    const h = tooltip.offsetHeight;
    const x = clientX + 14 + w > window.innerWidth ? clientX - 14 - w : clientX + 14;
    const y = clientY + 14 + h > window.innerHeight ? clientY - 14 - h : clientY + 14;
    tooltip.style.left = Math.max(0, x) + "px";
    tooltip.style.top = Math.max(0, y) + "px";
  }

  function hideTooltip() {
    tooltip.hidden = true;
  }

  function selectStation(s) {
    const panel = document.getElementById("selected");
    panel.replaceChildren(element("div", "", s.name + ", " + kmText(s.position)), recordTable(s.record));
  }

  // --- Pointer, wheel, touch and keys -----------------------------------------------------------

  function canvasPoint(canvas, event) {
    const r = canvas.getBoundingClientRect();
    return { x: event.clientX - r.left, y: event.clientY - r.top };
  }

  function planTargetAt(p) {
    let best = null;
    let bestDistance = Infinity;
    for (const target of planTargets) {
      const d = Math.hypot(target.x - p.x, target.y - p.y);
      if (d <= target.r && d < bestDistance) { best = target; bestDistance = d; }
      if (target.label && p.x >= target.label.x0 && p.x <= target.label.x1 &&
          p.y >= target.label.y0 && p.y <= target.label.y1) {
        return target;
      }
    }
    return best;
  }

  // The metre of the track nearest to a point of the plan canvas, or null when no track is near.
  function planMetreAt(p) {
    const t = planTransformNow;
    if (!t) return null;
    const level = levelFor(1 / t.scale);
    let best = null;
    let bestDistance = 40;
    const points = stretch(level, Math.max(view.a, 0), Math.min(view.b, gridEnd));
    for (let i = 0; i + 1 < points.length; i += 1) {
      const ax = t.sx(points[i].x, points[i].y); const ay = t.sy(points[i].x, points[i].y);
      const bx = t.sx(points[i + 1].x, points[i + 1].y); const by = t.sy(points[i + 1].x, points[i + 1].y);
      const len2 = (bx - ax) ** 2 + (by - ay) ** 2;
      const u = len2 > 0 ? Math.max(0, Math.min(1, ((p.x - ax) * (bx - ax) + (p.y - ay) * (by - ay)) / len2)) : 0;
      const d = Math.hypot(p.x - (ax + u * (bx - ax)), p.y - (ay + u * (by - ay)));
      if (d < bestDistance) {
        bestDistance = d;
        best = points[i].m + u * (points[i + 1].m - points[i].m);
      }
    }
    return best;
  }

  function metreAt(canvas, p) {
    if (canvas === planCanvas) {
      const m = planMetreAt(p);
      if (m !== null) return m;
    }
    return axisMetre(canvas.clientWidth, p.x);
  }

  // Where an item the pointer is on stands along the line.
  function targetMetre(target) {
    if (target.type === "cell") return target.cell * 50;
    if (target.type === "station") return target.station.position;
    if (target.type === "diagnostic") return diagnostics[target.index].metre;
    return target.order.from;
  }

  function onHover(canvas, event) {
    const p = canvasPoint(canvas, event);
    if (canvas === planCanvas) {
      const target = planTargetAt(p);
      if (target) showTooltip(targetTooltip(target), event.clientX, event.clientY);
      else hideTooltip();
      view.cursor = target ? targetMetre(target) : planMetreAt(p);
    } else {
      view.cursor = axisMetre(canvas.clientWidth, p.x);
      const kinds = rowLayout()[3];
      const c = Math.floor(view.cursor / 50);
      if (p.y >= kinds.top && p.y <= kinds.top + kinds.height && c >= 0 && c < grid.count &&
          grid.kind[c] !== 0) {
        showTooltip(cellTooltip(c), event.clientX, event.clientY);
      } else {
        hideTooltip();
      }
    }
    scheduleDraw();
  }

  function attachPointer(canvas) {
    const pointers = new Map();
    let drag = null;
    let pinch = null;
    canvas.addEventListener("pointerdown", (event) => {
      canvas.setPointerCapture(event.pointerId);
      pointers.set(event.pointerId, canvasPoint(canvas, event));
      if (pointers.size === 1) drag = { x: event.clientX, a: view.a, b: view.b, moved: false };
      if (pointers.size === 2) pinch = pinchStart(canvas, pointers);
    });
    canvas.addEventListener("pointermove", (event) => {
      if (pointers.has(event.pointerId)) pointers.set(event.pointerId, canvasPoint(canvas, event));
      if (pinch && pointers.size === 2) { pinchMove(canvas, pointers, pinch); return; }
      if (drag && pointers.size === 1) {
        const dx = event.clientX - drag.x;
        if (Math.abs(dx) > 2) drag.moved = true;
        const perPixel = (drag.b - drag.a) / (canvas.clientWidth - MARGIN.left - MARGIN.right);
        setView(drag.a - dx * perPixel, drag.b - dx * perPixel);
        hideTooltip();
        return;
      }
      onHover(canvas, event);
    });
    const end = (event) => {
      pointers.delete(event.pointerId);
      if (pointers.size < 2) pinch = null;
      if (pointers.size === 0) {
        if (drag && !drag.moved && event.type === "pointerup") onClick(canvas, event);
        drag = null;
      }
    };
    canvas.addEventListener("pointerup", end);
    canvas.addEventListener("pointercancel", end);
    canvas.addEventListener("pointerleave", () => { if (pointers.size === 0) hideTooltip(); });
    canvas.addEventListener("wheel", (event) => {
      event.preventDefault();
      const factor = Math.exp(event.deltaY * (event.deltaMode === 1 ? 0.05 : 0.0015));
      zoomAt(metreAt(canvas, canvasPoint(canvas, event)), factor);
    }, { passive: false });
    canvas.addEventListener("dblclick", (event) => {
      zoomAt(metreAt(canvas, canvasPoint(canvas, event)), event.shiftKey ? 2 : 0.5);
    });
  }

  function pinchStart(canvas, pointers) {
    const [p, q] = [...pointers.values()];
    return { distance: Math.hypot(p.x - q.x, p.y - q.y) || 1, a: view.a, b: view.b,
      metre: axisMetre(canvas.clientWidth, (p.x + q.x) / 2) };
  }

  function pinchMove(canvas, pointers, pinch) {
    const [p, q] = [...pointers.values()];
    const factor = pinch.distance / (Math.hypot(p.x - q.x, p.y - q.y) || 1);
    const span = (pinch.b - pinch.a) * factor;
    const t = (pinch.metre - pinch.a) / (pinch.b - pinch.a);
    setView(pinch.metre - t * span, pinch.metre - t * span + span);
  }

  function onClick(canvas, event) {
    if (canvas !== planCanvas) return;
    const target = planTargetAt(canvasPoint(canvas, event));
    if (target && target.type === "station") selectStation(target.station);
    if (target && target.type === "diagnostic") selectDiagnostic(target.index);
  }

  function onKey(event) {
    if (event.target instanceof HTMLInputElement) return;
    const span = view.b - view.a;
    const actions = {
      ArrowLeft: () => panBy(-span * 0.2), ArrowRight: () => panBy(span * 0.2),
      "+": () => zoomAt((view.a + view.b) / 2, 0.5), "=": () => zoomAt((view.a + view.b) / 2, 0.5),
      "-": () => zoomAt((view.a + view.b) / 2, 2), Home: () => showAround(lineLength / 2, lineLength),
      ArrowUp: () => zoomAt((view.a + view.b) / 2, 0.8), ArrowDown: () => zoomAt((view.a + view.b) / 2, 1.25),
    };
    const action = actions[event.key];
    if (!action) return;
    event.preventDefault();
    action();
  }

  // --- Find ---------------------------------------------------------------------------------------

  // A station by its name (whole, then its start, then any part, case ignored) or a distance in
  // km ("52.05", "km 52,05"); null when neither matches.
  function findPlace(query) {
    const text = query.trim();
    const km = /^(?:km\s*)?(-?\d+(?:[.,]\d+)?)\s*(?:km)?$/i.exec(text);
    if (km) return { metre: Number.parseFloat(km[1].replace(",", ".")) * 1000, station: null };
    const lower = text.toLowerCase();
    if (!lower) return null;
    const station = stations.find((s) => s.name.trim().toLowerCase() === lower) ||
      stations.find((s) => s.name.trim().toLowerCase().startsWith(lower)) ||
      stations.find((s) => s.name.toLowerCase().includes(lower));
    return station ? { metre: station.position, station } : null;
  }

  function onFind(event) {
    event.preventDefault();
    const query = document.getElementById("find").value;
    const status = document.getElementById("find-status");
    const place = findPlace(query);
    if (!place) {
      status.textContent = "nothing matches \u201c" + query.trim() + "\u201d";
      return;
    }
    const span = place.station ? Math.max(5000, (place.station.to - place.station.from) * 3)
      : Math.min(view.b - view.a, 3000);
    showAround(place.metre, span);
    view.cursor = place.metre;
    status.textContent = place.station ? place.station.name.trim() + ", " + kmText(place.metre)
      : kmText(place.metre);
    if (place.station) selectStation(place.station);
  }

  // --- The side panel -----------------------------------------------------------------------------

  function selectDiagnostic(index) {
    const d = diagnostics[index];
    if (d.metre !== null) {
      showAround(d.metre, Math.min(Math.max(view.b - view.a, 1000), 4000));
      view.cursor = d.metre;
    }
    const panel = document.getElementById("selected");
    panel.replaceChildren(diagnosticTooltip(d), element("pre", "", d.shown));
  }

  function fillDiagnostics() {
    const list = document.getElementById("diagnostics");
    const title = document.getElementById("diagnostics-title");
    if (!data.sources) {
      title.textContent = "Warnings and errors";
      list.replaceWith(element("p", "", "No sources beside the outputs: nothing to check."));
      return;
    }
    const errors = diagnostics.filter((d) => d.severity === "error").length;
    const notShown = data.sources.warningsNotShown || 0;
    title.textContent = "Warnings and errors (" + (diagnostics.length - errors + notShown) + " warnings, " +
      errors + (errors === 1 ? " error)" : " errors)");
    diagnostics.forEach((d, index) => {
      const li = element("li", d.severity);
      const button = element("button", "", d.severity + " " + diagnosticPlace(d, false) + ": " + d.message +
        (d.metre !== null ? " \u2014 " + kmText(d.metre) : " \u2014 no place on the line"));
      button.type = "button";
      button.addEventListener("click", () => selectDiagnostic(index));
      li.append(button);
      list.append(li);
    });
    if (notShown > 0) list.append(element("li", "warning", notShown + " more warnings not shown"));
  }

  function fillStations() {
    const list = document.getElementById("stations");
    const names = document.getElementById("station-names");
    for (const s of stations) {
      const button = element("button", "", s.name.trim() + " \u2014 " + kmText(s.position, 2));
      button.type = "button";
      button.addEventListener("click", () => {
        showAround(s.position, Math.max(5000, (s.to - s.from) * 3));
        view.cursor = s.position;
        selectStation(s);
      });
      const li = element("li");
      li.dataset.record = String(s.index);
      li.append(button);
      list.append(li);
      const option = element("option");
      option.value = s.name.trim();
      names.append(option);
    }
  }

  function legendSwatch(draw) {
    const c = element("canvas");
    c.width = 44; c.height = 28;
    const g = c.getContext("2d");
    g.scale(2, 2);
    draw(g);
    return c;
  }

  function fillLegend() {
    const list = document.getElementById("legend");
    const bandSwatch = (colour, w) => (g) => {
      g.strokeStyle = colour; g.lineWidth = w; g.beginPath(); g.moveTo(1, 7); g.lineTo(21, 7); g.stroke();
    };
    const symbolSwatch = (style) => (g) => symbol(g, style.shape, 11, 7, style.size, style.fill, style.stroke);
    const entries = [
      ["station", (g) => symbol(g, "circle", 11, 7, 5, "#fff", COLOURS.station)],
      ["tunnel", bandSwatch(tint(COLOURS.tunnel, 0.75), 7)],
      ["slow order", bandSwatch(tint(COLOURS.slowOrder, 0.6), 9)],
      ["signal", symbolSwatch(STYLE.signal)],
      ["speed board", symbolSwatch(STYLE.speedBoard)],
      ["indication board", symbolSwatch(STYLE.indicationBoard)],
      ["code point, written", symbolSwatch(STYLE.written)],
      ["code point, inserted", symbolSwatch(STYLE.inserted)],
      ["point without code", symbolSwatch(STYLE.noCode)],
      ["slow-order warning board", symbolSwatch(STYLE.warningBoard)],
      ["speed limit", bandSwatch(COLOURS.speed, 2)],
      ["limit in force", (g) => { g.setLineDash([5, 3]); bandSwatch(COLOURS.inForce, 2)(g); }],
      ["gradient", bandSwatch(COLOURS.gradient, 2)],
      ["adhesion", bandSwatch(COLOURS.adhesion, 2)],
      ["error", (g) => symbol(g, "circle", 11, 7, 6, COLOURS.error)],
      ["warning", (g) => symbol(g, "circle", 11, 7, 6, COLOURS.warning)],
    ];
    for (const [label, draw] of entries) {
      const li = element("li");
      li.append(legendSwatch(draw), element("span", "", label));
      list.append(li);
    }
  }

  function fillFacts() {
    const signals = items.filter((i) => i.category === "signal").length;
    const inserted = items.filter((i) => i.category === "inserted").length;
    const written = items.filter((i) => i.category === "written").length;
    document.getElementById("facts").textContent = (lineLength / 1000).toFixed(1) + " km, " +
      stations.length + " stations, " + tunnels.length + " tunnels, " + signals + " signals, " +
      slowOrders.length + " slow orders, " + written + " written and " + inserted +
      " inserted code points";
    document.getElementById("stale").hidden = !data.stale;
  }

  // --- Start --------------------------------------------------------------------------------------

  // What the page shows, for tests and scripts: the window, and the items drawn on the plan with
  // their places in page coordinates.
  function drawnOnPlan() {
    const r = planCanvas.getBoundingClientRect();
    return planTargets.map((t) => ({
      type: t.type, category: t.category || t.type, cell: t.cell,
      name: t.station ? t.station.name : undefined,
      labelled: t.type === "station" ? t.label !== null : undefined,
      label: t.label ? { x0: t.label.x0 + r.left, y0: t.label.y0 + r.top, x1: t.label.x1 + r.left,
        y1: t.label.y1 + r.top } : undefined,
      x: t.x + r.left, y: t.y + r.top,
    }));
  }

  function start() {
    const started = performance.now();
    fillFacts();
    fillLegend();
    fillStations();
    fillDiagnostics();
    document.getElementById("find-form").addEventListener("submit", onFind);
    document.getElementById("whole-line").addEventListener("click", () => showAround(lineLength / 2, lineLength));
    document.getElementById("zoom-in").addEventListener("click", () => zoomAt((view.a + view.b) / 2, 0.5));
    document.getElementById("zoom-out").addEventListener("click", () => zoomAt((view.a + view.b) / 2, 2));
    attachPointer(planCanvas);
    attachPointer(profileCanvas);
    document.addEventListener("keydown", onKey);
    window.addEventListener("resize", scheduleDraw);
    window.addEventListener("hashchange", applyHash);
    if (!applyHash()) setView(0, lineLength);
    drawAll();
    const firstRenderMs = performance.now() - started;
    window.compactorView = {
      firstRenderMs,
      readyAt: performance.now(),
      lastRenderMs: () => lastRenderMs,
      window: () => ({ a: view.a, b: view.b }),
      show: (centre, span) => { showAround(centre, span); drawAll(); },
      drawn: drawnOnPlan,
      stations: () => stations.map((s) => ({ name: s.name, position: s.position })),
    };
    document.body.dataset.ready = "true";
  }

  start();
})();
