// The page of `velmora ui`. Every fact about the hand (joints, fingers, poses, readings,
// fingertip layout) comes from /api/model; readings arrive on /api/events.
"use strict";

(function () {
  const TRACE_SECONDS = 10;
  const COLORS = ["#37c6b0", "#f2b84b", "#7aa2ff", "#ef6fa5", "#b48cff", "#9bd35a"];
  const $ = (id) => document.getElementById(id);

  const ui = {
    model: null,
    state: null,
    updates: 0,
    latencyMs: [],
    rate: 0,
  };
  window.velmoraUi = ui;  // for people poking around, and for the browser test

  // The token travels in the URL's fragment, never to the server in a request line; it is
  // kept for this tab only and taken out of the address bar.
  const fromHash = /(?:^#|&)token=([^&]+)/.exec(location.hash);
  if (fromHash) {
    sessionStorage.setItem("velmora-token", decodeURIComponent(fromHash[1]));
    history.replaceState(null, "", location.pathname + location.search);
  }
  const token = () => sessionStorage.getItem("velmora-token") || "";

  function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  let toastTimer = 0;
  function toast(text) {
    let t = document.querySelector(".toast");
    if (!t) {
      t = el("div", "toast");
      t.setAttribute("role", "alert");
      document.body.appendChild(t);
    }
    t.textContent = text;
    clearTimeout(toastTimer);
    toastTimer = setTimeout(() => t.remove(), 4000);
  }

  async function post(path, body) {
    const headers = { "Content-Type": "application/json" };
    headers[ui.model.tokenHeader] = token() || "-";
    try {
      const res = await fetch(path, { method: "POST", headers, body: JSON.stringify(body || {}) });
      if (!res.ok) {
        const why = await res.json().catch(() => ({ error: res.statusText }));
        toast(res.status + ": " + (why.error || res.statusText));
      }
      return res.ok;
    } catch (e) {
      toast("the server did not answer: " + e.message);
      return false;
    }
  }

  // Slider drags send the newest targets, one request at a time: what the server has not sent
  // yet is replaced anyway.
  let wanted = null, sending = false;
  async function sendTargets() {
    if (sending || !wanted) return;
    sending = true;
    const positions = wanted;
    wanted = null;
    await post("/api/command", { positions });
    sending = false;
    sendTargets();
  }

  // ---- building the page from the catalogue -------------------------------------------------

  const joints = [];     // {slot, name, label, finger, row, fill, tick, value, slider, dragging}
  const traces = [];     // {slots, canvas, name}
  const tips = [];       // {canvas, peak}
  const history_ = [];   // {t, positions}

  function reading(name) {
    return ui.model.readings.find((r) => r.name === name) || { unit: "", answers: false };
  }

  function groupName(finger) {
    return finger >= 0 ? ui.model.fingers[finger] : "other joints";
  }

  function buildJoints() {
    const m = ui.model;
    $("joints-unit").textContent = reading("positions").unit;
    const groups = new Map();
    for (const j of m.joints) {
      if (!groups.has(j.finger)) groups.set(j.finger, []);
      groups.get(j.finger).push(j);
    }
    const order = [...groups.keys()].sort((a, b) => (a < 0) - (b < 0) || a - b);
    for (const finger of order) {
      const box = el("div", "finger");
      box.appendChild(el("h3", "", groupName(finger)));
      for (const j of groups.get(finger)) {
        const row = el("div", "joint");
        row.dataset.slot = j.slot;
        row.dataset.name = j.name;
        const head = el("div", "jhead");
        head.append(el("span", "jlabel", j.label), el("span", "jname", j.name));
        const value = el("span", "jval", "–");
        head.appendChild(value);
        const bar = el("div", "bar");
        const fill = el("div", "fill"), tick = el("div", "tick");
        bar.append(fill, tick);
        const slider = el("input");
        slider.type = "range";
        slider.min = 0;
        slider.max = 255;
        slider.step = 1;
        slider.setAttribute("aria-label", j.name + " target");
        const joint = Object.assign({ row, fill, tick, value, slider, dragging: false, lastInput: 0 }, j);
        const start = () => { joint.dragging = true; };
        const end = () => { joint.dragging = false; };
        slider.addEventListener("pointerdown", start);
        slider.addEventListener("pointerup", end);
        slider.addEventListener("pointercancel", end);
        slider.addEventListener("blur", end);
        slider.addEventListener("input", () => {
          joint.lastInput = performance.now();
          wanted = joints.map((x) => Number(x.slider.value));
          sendTargets();
        });
        row.append(head, bar, slider);
        box.appendChild(row);
        joints.push(joint);
      }
      $("joints").appendChild(box);
    }
  }

  function buildTraces() {
    const m = ui.model;
    const groups = m.fingers.map((name, f) => ({ name, slots: m.fingerJoints[f] }));
    const others = m.joints.filter((j) => j.finger < 0).map((j) => j.slot);
    if (others.length) groups.push({ name: "other joints", slots: others });
    for (const g of groups) {
      if (!g.slots.length) continue;
      const box = el("div", "trace");
      const canvas = el("canvas");
      const legend = el("div", "legend");
      g.slots.forEach((slot, i) => {
        const j = m.joints.find((x) => x.slot === slot);
        const item = el("span", "", j ? j.label : "#" + slot);
        item.style.color = COLORS[i % COLORS.length];
        legend.appendChild(item);
      });
      box.append(canvas, el("span", "name", g.name), legend);
      $("traces").appendChild(box);
      traces.push({ slots: g.slots, canvas });
    }
  }

  function buildTips() {
    const f = ui.model.fingertips;
    const cell = 11;
    for (let i = 0; i < f.fingers; i++) {
      const box = el("div", "tip");
      const canvas = el("canvas");
      canvas.width = f.columns;
      canvas.height = f.rows;
      canvas.style.width = f.columns * cell + "px";
      canvas.style.height = f.rows * cell + "px";
      const name = el("div", "name");
      const peak = el("span", "peak", "–");
      name.append(el("span", "finger-name", ui.model.fingers[i]), " ", peak);
      box.append(canvas, name);
      $("tips").appendChild(box);
      tips.push({ canvas, peak });
    }
    const scale = el("div", "scale");
    const ramp = el("canvas");
    ramp.width = 64;
    ramp.height = 1;
    const g = ramp.getContext("2d");
    for (let x = 0; x < 64; x++) {
      g.fillStyle = heat((x * 255) / 63);
      g.fillRect(x, 0, 1, 1);
    }
    scale.append(el("span", "", "0"), ramp, el("span", "", "255"));
    $("tips").after(scale);
  }

  function buildControls() {
    const m = ui.model;
    for (const name of m.poses) {
      const b = el("button", "", name);
      b.type = "button";
      b.dataset.pose = name;
      b.addEventListener("click", () => post("/api/pose", { name }));
      $("poses").appendChild(b);
    }
    $("stop").addEventListener("click", () => {
      wanted = null;
      post("/api/stop");
    });
    $("save").addEventListener("click", savePose);
    showSaved();
  }

  // Saved poses live in this browser, per model: a lab's own grasps next to the hand's poses.
  const savedKey = () => "velmora-poses-" + ui.model.model;
  function saved() {
    try {
      return JSON.parse(localStorage.getItem(savedKey()) || "[]");
    } catch (e) {
      return [];
    }
  }
  function savePose() {
    const s = ui.state;
    if (!s || !s.positions) return toast("no positions read yet");
    const list = saved();
    list.push({ name: "pose " + (list.length + 1), positions: joints.map((j) => s.positions[j.slot]) });
    localStorage.setItem(savedKey(), JSON.stringify(list));
    showSaved();
  }
  function showSaved() {
    const box = $("saved");
    box.textContent = "";
    saved().forEach((p, i) => {
      const b = el("button", "", p.name);
      b.type = "button";
      const x = el("span", "x", "×");
      x.title = "forget " + p.name;
      x.addEventListener("click", (e) => {
        e.stopPropagation();
        const list = saved();
        list.splice(i, 1);
        localStorage.setItem(savedKey(), JSON.stringify(list));
        showSaved();
      });
      b.appendChild(x);
      b.addEventListener("click", () => {
        if (p.positions.length === joints.length) post("/api/command", { positions: p.positions });
      });
      box.appendChild(b);
    });
  }

  // ---- drawing readings ------------------------------------------------------------------

  // A dark-to-bright ramp: deep blue, teal, yellow, white.
  function heat(v) {
    const stops = [[12, 17, 22], [24, 70, 130], [40, 170, 160], [240, 200, 80], [255, 250, 235]];
    const x = Math.max(0, Math.min(1, v / 255)) * (stops.length - 1);
    const i = Math.min(stops.length - 2, Math.floor(x)), t = x - i;
    const c = stops[i].map((a, k) => Math.round(a + (stops[i + 1][k] - a) * t));
    return "rgb(" + c.join(",") + ")";
  }

  function showJoints(s) {
    for (const j of joints) {
      const v = s.positions ? s.positions[j.slot] : undefined;
      j.value.textContent = v === undefined ? "–" : v;
      j.fill.style.width = v === undefined ? "0" : (v / 255) * 100 + "%";
      j.row.dataset.value = v === undefined ? "" : v;
      const target = s.target ? s.target[j.slot] : undefined;
      j.row.classList.toggle("targeted", target !== undefined);
      if (target !== undefined) j.tick.style.left = (target / 255) * 100 + "%";
      // A slider follows the hand unless a person moves it (and a moment after, until the
      // command is back as the target).
      if (!j.dragging && performance.now() - j.lastInput > 600) {
        const where = target !== undefined ? target : v;
        if (where !== undefined) j.slider.value = where;
      }
    }
    $("stop").classList.toggle("held", !!s.held);
  }

  function fitCanvas(canvas) {
    const ratio = window.devicePixelRatio || 1;
    const w = Math.max(1, Math.round(canvas.clientWidth * ratio));
    const h = Math.max(1, Math.round(canvas.clientHeight * ratio));
    if (canvas.width !== w || canvas.height !== h) {
      canvas.width = w;
      canvas.height = h;
    }
    return ratio;
  }

  function drawTraces() {
    const now = performance.now();
    while (history_.length && now - history_[0].t > TRACE_SECONDS * 1000) history_.shift();
    for (const tr of traces) {
      const c = tr.canvas, ratio = fitCanvas(c), g = c.getContext("2d");
      const w = c.width, h = c.height, pad = 4 * ratio;
      g.clearRect(0, 0, w, h);
      g.strokeStyle = "#1d2732";
      g.lineWidth = 1;
      for (let s = 1; s < TRACE_SECONDS; s++) {
        const x = Math.round((s / TRACE_SECONDS) * w) + 0.5;
        g.beginPath();
        g.moveTo(x, 0);
        g.lineTo(x, h);
        g.stroke();
      }
      g.lineWidth = 1.6 * ratio;
      tr.slots.forEach((slot, i) => {
        g.strokeStyle = COLORS[i % COLORS.length];
        g.beginPath();
        let started = false;
        for (const p of history_) {
          if (!p.positions) {
            started = false;
            continue;
          }
          const x = w - ((now - p.t) / (TRACE_SECONDS * 1000)) * w;
          const y = pad + (1 - p.positions[slot] / 255) * (h - 2 * pad);
          if (started) g.lineTo(x, y);
          else g.moveTo(x, y);
          started = true;
        }
        g.stroke();
      });
    }
  }

  function showTips(s) {
    const f = ui.model.fingertips;
    tips.forEach((tip, i) => {
      const finger = (s.force || [])[i];
      const g = tip.canvas.getContext("2d");
      let peak = 0;
      for (let r = 0; r < f.rows; r++) {
        for (let c = 0; c < f.columns; c++) {
          const v = finger && finger[r] ? finger[r][c] || 0 : 0;
          peak = Math.max(peak, v);
          g.fillStyle = heat(v);
          g.fillRect(c, r, 1, 1);
        }
      }
      tip.peak.textContent = finger ? "peak " + peak : "–";
    });
  }

  function chips(box, values, mark) {
    box.textContent = "";
    for (const v of values) {
      const c = el("span", "chip" + (mark ? " " + mark(v) : ""));
      c.append(el("b", "", v.label), document.createTextNode(v.value));
      box.appendChild(c);
    }
  }

  function pairs(box, list) {
    box.textContent = "";
    for (const [k, v] of list) box.append(el("dt", "", k), el("dd", "", v));
  }

  let lastFrames = null, lastFramesAt = 0, framesPerSecond = 0, lastSlowShow = 0;
  function showStatus(s) {
    const now = performance.now();
    if (now - lastSlowShow < 250) return;  // text that people read need not redraw 30 times a second
    lastSlowShow = now;
    const temps = reading("temperatures"), faults = reading("faults");
    if (!temps.answers) $("temperatures").textContent = "not reported by this hand";
    else if (!s.temperatures) $("temperatures").textContent = "–";
    else chips($("temperatures"), s.temperatures);
    if (!faults.answers) $("faults").textContent = "not reported by this hand";
    else if (!s.faults) $("faults").textContent = "–";
    else {
      const bad = s.faults.filter((v) => v.value !== 0);
      if (bad.length) chips($("faults"), bad, () => "bad");
      else chips($("faults"), [{ label: "none", value: "" }], () => "ok");
    }
    const h = s.health;
    if (lastFrames !== null && now > lastFramesAt) {
      framesPerSecond = ((h.framesReceived - lastFrames) * 1000) / (now - lastFramesAt);
    }
    lastFrames = h.framesReceived;
    lastFramesAt = now;
    const latency = ui.latencyMs.slice().sort((a, b) => a - b)[Math.floor(ui.latencyMs.length / 2)];
    pairs($("health"), [
      ["channel", h.channelUp ? "up" : "DOWN"],
      ["last frame", h.lastFrameAgeMs === null ? "none yet" : h.lastFrameAgeMs.toFixed(0) + " ms ago"],
      ["frames", h.framesReceived + " (" + framesPerSecond.toFixed(0) + "/s)"],
      ["dropped", h.framesDropped + " · ignored " + h.framesIgnored],
      ["errors", h.sendFailures + " send · " + h.receiveErrors + " receive"],
      ["reconnects", h.reconnects],
      ["updates", ui.rate.toFixed(0) + "/s" + (latency === undefined ? "" : " · " + latency.toFixed(0) + " ms late")],
    ]);
    const version = (s.version || "").split("\n").filter((l) => l.trim());
    pairs($("firmware"), version.length
      ? version.map((l) => {
          const at = l.indexOf(":");
          return at < 0 ? ["", l] : [l.slice(0, at).trim(), l.slice(at + 1).trim()];
        })
      : [["version", "not answered yet"]]);
    $("problem").hidden = !s.problem;
    $("problem").textContent = s.problem || "";
  }

  const link = { open: false, lastAt: 0 };
  function showLink() {
    const s = ui.state;
    const stale = performance.now() - link.lastAt > 1500;
    let text = "connecting", cls = "down";
    if (link.open && s) {
      if (!s.positions) { text = "hand not answering"; cls = "stale"; }
      else if (stale) { text = "no readings"; cls = "stale"; }
      else if (!s.health.channelUp) { text = "channel down"; cls = "down"; }
      else { text = "live"; cls = "up"; }
    } else if (ui.model) {
      text = "server gone: retrying";
    }
    $("link").className = "link " + cls;
    $("link-text").textContent = text;
  }

  let rateCount = 0, rateSince = performance.now();
  function onState(s) {
    ui.state = s;
    ui.updates++;
    link.lastAt = performance.now();
    ui.latencyMs.push(Date.now() - s.time);
    if (ui.latencyMs.length > 90) ui.latencyMs.shift();
    rateCount++;
    const now = performance.now();
    if (now - rateSince >= 1000) {
      ui.rate = (rateCount * 1000) / (now - rateSince);
      rateCount = 0;
      rateSince = now;
    }
    history_.push({ t: now, positions: s.positions });
    showJoints(s);
    showTips(s);
    showStatus(s);
    showLink();
  }

  function frame() {
    drawTraces();
    requestAnimationFrame(frame);
  }

  function listen() {
    const events = new EventSource("/api/events");
    events.onopen = () => { link.open = true; showLink(); };
    events.onerror = () => { link.open = false; showLink(); };
    events.onmessage = (e) => onState(JSON.parse(e.data));
  }

  async function start() {
    const res = await fetch("/api/model");
    ui.model = await res.json();
    const m = ui.model;
    document.title = m.model + " " + m.side + " · velmora ui";
    $("hand").textContent = m.description + " · " + m.model + " " + m.side + " · " + m.channel +
      (m.simulated ? " (simulated)" : "");
    $("temp-unit").textContent = reading("temperatures").unit;
    $("footer").textContent = m.className + " · " + m.joints.length + " joints in " + m.slots +
      " slots · readings up to " + m.rate + "/s";
    if (m.tokenRequired && !token()) {
      $("notice").hidden = false;
      $("notice").textContent = "Watching only: commands need the token. Open the address " +
        "that velmora ui printed (it ends in #token=…).";
    }
    buildControls();
    buildJoints();
    buildTraces();
    buildTips();
    listen();
    setInterval(showLink, 500);
    requestAnimationFrame(frame);
  }

  start().catch((e) => {
    $("hand").textContent = "cannot load the hand: " + e.message;
  });
})();
