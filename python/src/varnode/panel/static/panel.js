// The panel's page: a rack view and one view per module, fed by one
// WebSocket; every change goes out as a JSON POST.
const main = document.getElementById("main");
const connection = document.getElementById("connection");
const recordingBadge = document.getElementById("recording-state");

const state = {
  config: null,
  rack: new Map(),      // address -> summary
  module: null,         // the snapshot of the module shown
  view: "rack",
  address: null,
  socket: null,
  recording: null,
  trend: [],            // HX: [time, ch1, ch2, ...] rows
  block: null,          // RA01/RE01: the latest block
  charts: [],
  renders: [],          // [Date.now(), address, values] of the last readings drawn (for benchmarks)
};

// The token of a panel started with --listen arrives in the URL's fragment,
// never in a request line or a log.
if (location.hash.startsWith("#token=")) {
  sessionStorage.setItem("varnode-token", decodeURIComponent(location.hash.slice(7)));
  history.replaceState(null, "", location.pathname + "#/");
}
const token = () => sessionStorage.getItem("varnode-token");

const el = (tag, attributes = {}, ...children) => {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === "class") node.className = value;
    else if (key.startsWith("on")) node.addEventListener(key.slice(2), value);
    else if (value !== undefined && value !== null && value !== false) node.setAttribute(key, value === true ? "" : value);
  }
  for (const child of children.flat(Infinity)) {
    if (child !== null && child !== undefined) node.append(child instanceof Node ? child : String(child));
  }
  return node;
};

const number = (value, digits = 4) => {
  if (value === null || value === undefined) return "—";
  if (typeof value === "string") return value === "inf" ? "+∞" : value === "-inf" ? "−∞" : value;
  if (typeof value === "object") return value.error === "configuration" ? "no sensor" : value.error;
  return Number.isInteger(value) ? String(value) : value.toFixed(digits);
};

const ago = (seconds) => {
  if (!seconds) return "never";
  const d = Math.max(0, Date.now() / 1000 - seconds);
  return d < 90 ? `${d.toFixed(0)} s ago` : d < 5400 ? `${(d / 60).toFixed(0)} min ago` : new Date(seconds * 1000).toLocaleString();
};

async function post(path, body = {}) {
  const headers = { "Content-Type": "application/json" };
  if (token()) headers.Authorization = `Bearer ${token()}`;
  const response = await fetch(path, { method: "POST", headers, body: JSON.stringify(body) });
  const reply = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(reply.error || `${response.status} ${response.statusText}`);
  return reply;
}

function report(where, promise) {
  const box = document.getElementById(where);
  if (box) box.textContent = "";
  return promise.catch((failure) => { if (box) box.textContent = failure.message; });
}

const controls = () => state.config && !state.config.read_only;

// ---- the WebSocket

function connect() {
  const socket = new WebSocket(`${location.protocol === "https:" ? "wss" : "ws"}://${location.host}/ws`);
  state.socket = socket;
  socket.onopen = () => { connection.textContent = "live"; connection.className = "badge ok"; watch(); };
  socket.onclose = () => {
    connection.textContent = "disconnected: retrying"; connection.className = "badge bad";
    setTimeout(connect, 1000);
  };
  socket.onmessage = (event) => receive(JSON.parse(event.data));
}

function watch() {
  if (!state.socket || state.socket.readyState !== WebSocket.OPEN) return;
  state.socket.send(JSON.stringify({ watch: state.view === "module" ? [state.address] : ["rack"] }));
}

function receive(message) {
  switch (message.type) {
    case "hello":
      state.rack = new Map(message.rack.map((m) => [m.address, m]));
      showRecording(message.recording);
      if (state.view === "rack") drawRack();
      break;
    case "rack":
      for (const m of message.modules) state.rack.set(m.address, m);
      if (state.view === "rack") drawRack();
      break;
    case "summary": {
      const known = state.rack.has(message.address);
      state.rack.set(message.address, message.summary);
      if (state.view === "rack") known ? updateRackRow(message.summary) : drawRack();
      break;
    }
    case "module":
      state.rack.set(message.address, message.state);
      if (state.view === "module" && message.address === state.address) {
        const first = state.module === null;
        state.module = message.state;
        first ? drawModule() : updateModule();
        state.renders.push([Date.now(), message.address, message.state.values]);
        if (state.renders.length > 2000) state.renders.splice(0, 1000);
      }
      break;
    case "block":
      if (state.view === "module" && message.address === state.address) drawBlock(message);
      break;
    case "stream":
      if (state.view === "module" && message.address === state.address) {
        const box = document.getElementById("stream-error");
        if (box) box.textContent = `stream stopped: ${message.stopped}`;
      }
      break;
    case "recording":
      showRecording(message);
      break;
    case "scan":
      { const b = document.getElementById("rescan"); if (b) b.disabled = message.scanning; }
      break;
  }
}

function showRecording(r) {
  state.recording = r;
  recordingBadge.textContent = r && r.recording ? `recording: ${r.rows} rows` : "";
  recordingBadge.className = r && r.recording ? "badge bad" : "badge";
  const rows = document.getElementById("recording-rows");
  if (rows) rows.textContent = r && r.path ? `${r.recording ? "writing" : "wrote"} ${r.path}: ${r.rows} rows${r.error ? ` (${r.error})` : ""}` : "";
  const button = document.getElementById("record");
  if (button) button.textContent = r && r.recording ? "Stop recording" : "Start recording";
}

// ---- the rack

function stateBadge(m) {
  if (m.state === "silent") return el("span", { class: "badge bad" }, `silent, last seen ${ago(m.last_seen)}`);
  if (m.state === "new") return el("span", { class: "badge" }, "asking…");
  return el("span", { class: "badge ok" }, "answering");
}

function statusCell(m) {
  if (m.status_ok === null || m.status_ok === undefined) return "—";
  if (m.status_ok) return el("span", { class: "muted" }, "all in range");
  return el("span", { class: "bad" }, `out of range: ${m.out_of_range.join(", ")}`);
}

function rackRow(m) {
  return el("tr", { "data-address": m.address, class: m.state === "silent" ? "silent" : "" },
    el("td", {}, m.kind), el("td", {}, el("a", { href: `#/module/${m.address}` }, m.address)),
    el("td", { class: "num" }, m.serial ?? "—"), el("td", {}, m.name || ""),
    el("td", { class: "state" }, stateBadge(m)), el("td", { class: "status" }, statusCell(m)));
}

function updateRackRow(m) {
  const row = main.querySelector(`tr[data-address="${m.address}"]`);
  if (row) row.replaceWith(rackRow(m));
}

function drawRack() {
  const modules = [...state.rack.values()].sort((a, b) => ip(a.address) - ip(b.address));
  main.replaceChildren(
    el("section", {},
      el("h2", {}, `Rack: ${modules.length} module${modules.length === 1 ? "" : "s"}`),
      controls() ? el("div", { class: "row" },
        el("button", { id: "rescan", onclick: () => report("rack-error", post("/api/scan")) }, "Rescan"),
        el("form", { class: "row", onsubmit: (e) => {
          e.preventDefault();
          report("rack-error", post("/api/modules", { address: e.target.address.value }).then(() => { e.target.address.value = ""; }));
        } }, el("input", { name: "address", placeholder: "address, e.g. 10.0.0.5", required: true }),
          el("button", { type: "submit" }, "Add by address"))) : null,
      el("div", { id: "rack-error", class: "error" }),
      el("table", { id: "rack" },
        el("thead", {}, el("tr", {}, ["kind", "address", "serial", "name", "state", "status"].map((h) => el("th", {}, h)))),
        el("tbody", {}, modules.map(rackRow)))),
    controls() ? recordingSection(modules) : null);
}

const ip = (a) => a.split(".").reduce((n, o) => n * 256 + Number(o), 0);

function recordable(m) {
  // The families a row can record: levels, counts and temperatures.
  if (!["KL01", "KL02", "KS01", "QU01", "HX01", "HX02"].includes(m.kind)) return [];
  const n = state.config.channels[m.kind];
  const list = Array.from({ length: n }, (_, i) => String(i + 1));
  return m.kind === "QU01" ? [...list, "reference"] : list;
}

function recordingSection(modules) {
  const rows = modules.filter((m) => recordable(m).length).map((m) => el("tr", {},
    el("td", {}, `${m.kind} ${m.address}`),
    el("td", {}, recordable(m).map((c) => el("label", { class: "muted" },
      el("input", { type: "checkbox", "data-record": `${m.address}/${c}` }), ` ${c} `)))));
  return el("section", {},
    el("h2", {}, "Recording"),
    el("div", { class: "row" },
      el("label", {}, "File name prefix ", el("input", { id: "record-prefix", value: "panel" })),
      el("label", {}, "Interval (s) ", el("input", { id: "record-interval", type: "number", value: "1", min: "0.05", step: "0.05" })),
      el("label", {}, "Format ", el("select", { id: "record-format" }, el("option", {}, "csv"), el("option", {}, "jsonl"))),
      el("button", { id: "record", class: "primary", onclick: toggleRecording },
        state.recording && state.recording.recording ? "Stop recording" : "Start recording")),
    el("div", { id: "recording-rows", class: "muted" }),
    el("div", { id: "record-error", class: "error" }),
    el("table", {}, el("tbody", {}, rows)));
}

function toggleRecording() {
  if (state.recording && state.recording.recording) {
    report("record-error", post("/api/recording/stop").then(showRecording));
    return;
  }
  const channels = [...main.querySelectorAll("input[data-record]:checked")].map((box) => {
    const [address, channel] = box.dataset.record.split("/");
    return { address, channel };
  });
  report("record-error", post("/api/recording/start", {
    channels, prefix: document.getElementById("record-prefix").value,
    interval: Number(document.getElementById("record-interval").value),
    format: document.getElementById("record-format").value,
  }).then(showRecording));
}

// ---- one module

function identity(m) {
  const i = m.info || {};
  const fields = [["kind", m.kind], ["serial", i.serial], ["name", i.name], ["address", m.address],
    ["description", i.description], ["maker", i.maker], ["firmware", i.firmware], ["hardware", i.hardware],
    ["MAC", i.mac], ["netmask", i.netmask], ["gateway", i.gateway]];
  return el("dl", { class: "grid" }, fields.map(([k, v]) => [el("dt", {}, k), el("dd", {}, v ?? "—")]));
}

function statusTable(m) {
  return el("table", { id: "status" },
    el("thead", {}, el("tr", {}, ["item", "value", "unit", "lower", "upper", ""].map((h) => el("th", {}, h)))),
    el("tbody", {}, (m.status.items || []).map((s) => el("tr", { class: s.in_range ? "" : "bad" },
      el("td", {}, s.name), el("td", { class: "num" }, number(s.value)), el("td", {}, s.unit),
      el("td", { class: "num" }, number(s.lower)), el("td", { class: "num" }, number(s.upper)),
      el("td", {}, s.in_range ? "" : "out of range")))));
}

const channels = (n) => Array.from({ length: n }, (_, i) => i + 1);
const op = (name, body) => report("module-error", post(`/api/modules/${state.address}/${name}`, body));

function familyControls(m) {
  const k = m.kind, ctl = controls();
  if (k === "KL01" || k === "KL02") {
    return el("table", { id: "levels" },
      el("thead", {}, el("tr", {}, ["channel", "level", "direction", "output"].map((h) => el("th", {}, h)))),
      el("tbody", {}, channels(m.channels).map((c) => el("tr", {},
        el("td", {}, c), el("td", { class: "num", "data-value": c }, number(m.values[c])),
        el("td", {}, ctl ? el("button", { "data-direction": c, onclick: () => op("direction", { channels: { [c]: !m.directions[c] } }) },
          m.directions[c] === undefined ? "set output" : m.directions[c] ? "output" : "input") : ""),
        el("td", {}, ctl ? el("button", { "data-level": c, onclick: () => op("write", { channels: { [c]: !(state.module.values[c] === 1) } }) }, "toggle") : "")))));
  }
  if (k === "KS01" || k === "KS02") {
    return el("table", { id: "outputs" },
      el("thead", {}, el("tr", {}, ["channel", "output", k === "KS01" ? "measured" : ""].map((h) => el("th", {}, h)))),
      el("tbody", {}, channels(m.channels).map((c) => el("tr", {},
        el("td", {}, c),
        el("td", {}, ctl ? el("button", { "data-output": c, class: m.outputs[c] ? "on" : "",
          onclick: () => op("write", { channels: { [c]: !state.module.outputs[c] } }) }, m.outputs[c] ? "on" : m.outputs[c] === false ? "off" : "off?") :
          m.outputs[c] ? "on" : "off"),
        el("td", { class: "num", "data-value": c }, k === "KS01" ? number(m.values[c]) : "")))));
  }
  if (k === "QU01") {
    return el("div", {},
      el("p", {}, "Reference: ", el("span", { id: "reference", class: "num" }, number(m.values.reference))),
      el("table", { id: "counts" },
        el("thead", {}, el("tr", {}, ["counter", "count", "", "mode"].map((h) => el("th", {}, h)))),
        el("tbody", {}, channels(m.channels).map((c) => el("tr", {},
          el("td", {}, c), el("td", { class: "num", "data-value": c }, number(m.values[c])),
          el("td", {}, ctl ? ["enable", "disable", "clear"].map((o) => el("button", { "data-op": `${o}-${c}`, onclick: () => op(o, { channels: [c] }) }, o)) : ""),
          el("td", {}, ctl ? el("select", { "data-mode": c, onchange: (e) => op("mode", { channels: { [c]: Number(e.target.value) } }) },
            ["0 rising", "1 falling", "2 both", "3 down"].map((t, i) => el("option", { value: i }, t))) : ""))))));
  }
  if (k === "WE01") {
    return el("table", { id: "volts" },
      el("thead", {}, el("tr", {}, ["channel", "value (V)", "", "", "set"].map((h) => el("th", {}, h)))),
      el("tbody", {}, channels(m.channels).map((c) => {
        const apply = () => {
          const value = Number(main.querySelector(`input[data-volts="${c}"]`).value);
          return op("set", { channels: { [c]: value } });
        };
        return el("tr", {},
          el("td", {}, c),
          el("td", {}, el("input", { type: "number", step: "0.001", "data-volts": c, value: m.outputs[c] ?? 0, disabled: !ctl,
            onkeydown: (e) => { if (e.key === "Enter") apply(); },
            oninput: (e) => { main.querySelector(`input[data-slider="${c}"]`).value = e.target.value; } })),
          el("td", {}, el("input", { type: "range", min: "-10", max: "10", step: "0.01", "data-slider": c, value: m.outputs[c] ?? 0, disabled: !ctl,
            oninput: (e) => { main.querySelector(`input[data-volts="${c}"]`).value = e.target.value; } })),
          el("td", {}, ctl ? el("button", { "data-apply": c, class: "primary", onclick: apply }, "Apply") : ""),
          el("td", { class: "num", "data-set": c }, m.outputs[c] === undefined ? "—" : number(m.outputs[c], 3)));
      })));
  }
  if (k === "HX01" || k === "HX02") {
    const sensors = state.config.sensors[k];
    return el("div", {},
      frequencyRow(),
      el("table", { id: "temperatures" },
        el("thead", {}, el("tr", {}, ["channel", "sensor", "", "K (V for a voltage input)", "°C"].map((h) => el("th", {}, h)))),
        el("tbody", {}, channels(m.channels).map((c) => el("tr", {},
          el("td", {}, c),
          el("td", {}, el("select", { "data-sensor": c, disabled: !ctl },
            el("option", { value: "" }, m.sensors[c] ? m.sensors[c] : "as the module has it"),
            sensors.map((s) => el("option", { value: s }, s)))),
          el("td", {}, ctl ? el("button", { "data-apply-sensor": c, onclick: () => {
            const s = main.querySelector(`select[data-sensor="${c}"]`).value;
            if (s) op("sensor", { channels: { [c]: s } });
          } }, "Set") : ""),
          el("td", { class: "num", "data-kelvin": c }, kelvin(c, m.values[c])),
          el("td", { class: "num", "data-celsius": c }, celsius(c, m.values[c])))))),
      el("div", { id: "trend" }));
  }
  if (k === "RA01" || k === "RE01") {
    const s = m.stream;
    return el("div", {},
      el("div", { class: "row" },
        el("label", {}, "Frequency ", el("select", { id: "stream-frequency", disabled: !ctl },
          state.config.frequencies.map((f) => el("option", { value: f, selected: f === (s ? s.frequency : 3000) }, `${f} Hz`)))),
        el("label", {}, "Samples per block ", el("input", { id: "stream-samples", type: "number", min: 1, max: 100000, value: s ? s.samples : 1500, disabled: !ctl })),
        el("span", {}, "Channels ", channels(m.channels).map((c) => el("label", {}, el("input", { type: "checkbox", "data-stream": c, checked: s ? s.channels.includes(c) : c <= 3, disabled: !ctl }), ` ${c} `))),
        ctl ? el("button", { id: "stream-start", class: "primary", onclick: () => op("start", {
          channels: [...main.querySelectorAll("input[data-stream]:checked")].map((b) => Number(b.dataset.stream)),
          samples: Number(document.getElementById("stream-samples").value),
          frequency: Number(document.getElementById("stream-frequency").value),
        }) }, "Start") : null,
        ctl ? el("button", { id: "stream-stop", onclick: () => op("stop") }, "Stop") : null,
        el("a", { id: "csv", href: `/api/modules/${m.address}/block.csv`, download: "" }, "Download the last block (CSV)")),
      el("div", { id: "stream-state", class: "muted" }, s ? `streaming: block ${s.blocks}` : "stopped"),
      el("div", { id: "stream-error", class: "error" }),
      el("div", { id: "chart" }),
      el("table", { id: "stats", class: "stats" }));
  }
  return el("p", { class: "muted" }, "No controls for this kind.");
}

function frequencyRow() {
  if (!controls()) return null;
  return el("div", { class: "row" }, "Converter frequency ",
    el("select", { id: "frequency" }, state.config.frequencies.map((f) => el("option", { value: f }, `${f} Hz`))),
    el("button", { onclick: () => op("frequency", { frequency: Number(document.getElementById("frequency").value) }) }, "Set"));
}

// The module does not say which channels are voltage inputs: one set so
// here, or a reading below 1 (no sensor reads below 1 K), is shown in volts.
const volts = (c, v) => typeof v === "number" && (state.module?.sensors?.[c] === "voltage" || Math.abs(v) < 1);
const kelvin = (c, v) => (volts(c, v) ? `${v.toPrecision(6)} V` : number(v));
const celsius = (c, v) => (volts(c, v) ? "" : typeof v === "number" ? (v - 273.15).toFixed(3) : number(v));

function drawModule() {
  destroyCharts();
  const m = state.module;
  if (!m) {
    main.replaceChildren(el("p", { class: "muted" }, `Waiting for ${state.address}…`));
    return;
  }
  main.replaceChildren(
    el("p", {}, el("a", { href: "#/" }, "← rack")),
    el("section", {}, el("h2", {}, `${m.kind} ${m.address} `, el("span", { id: "module-state" }, stateBadge(m))), identity(m)),
    el("section", {}, el("h2", {}, "Controls"), el("div", { id: "module-error", class: "error" }), familyControls(m)),
    el("section", {}, el("h2", {}, "Status"), el("div", { id: "status-box" }, statusTable(m)),
      el("div", { class: "row" }, "Time-out ",
        el("input", { id: "timeout", type: "number", min: 1, max: 65535, value: m.timeout, disabled: !controls() }), " ms",
        controls() ? el("button", { id: "timeout-set", onclick: () => op("timeout", { milliseconds: Number(document.getElementById("timeout").value) }) }, "Set") : null)));
  if (m.kind === "HX01" || m.kind === "HX02") makeTrend(m);
}

function updateModule() {
  const m = state.module;
  document.getElementById("module-state")?.replaceChildren(stateBadge(m));
  for (const cell of main.querySelectorAll("[data-value]")) cell.textContent = number(m.values[cell.dataset.value]);
  for (const cell of main.querySelectorAll("[data-kelvin]")) cell.textContent = kelvin(cell.dataset.kelvin, m.values[cell.dataset.kelvin]);
  for (const cell of main.querySelectorAll("[data-celsius]")) cell.textContent = celsius(cell.dataset.celsius, m.values[cell.dataset.celsius]);
  for (const cell of main.querySelectorAll("[data-set]")) cell.textContent = m.outputs[cell.dataset.set] === undefined ? "—" : number(m.outputs[cell.dataset.set], 3);
  for (const b of main.querySelectorAll("button[data-output]")) {
    const on = m.outputs[b.dataset.output];
    b.textContent = on ? "on" : on === false ? "off" : "off?";
    b.className = on ? "on" : "";
  }
  for (const b of main.querySelectorAll("button[data-direction]")) {
    const d = m.directions[b.dataset.direction];
    b.textContent = d === undefined ? "set output" : d ? "output" : "input";
    b.onclick = () => op("direction", { channels: { [b.dataset.direction]: !d } });
  }
  const ref = document.getElementById("reference");
  if (ref) ref.textContent = number(m.values.reference);
  const stream = document.getElementById("stream-state");
  if (stream) stream.textContent = m.stream ? `streaming: block ${m.stream.blocks}` : "stopped";
  document.getElementById("status-box")?.replaceChildren(statusTable(m));
  if (m.kind === "HX01" || m.kind === "HX02") pushTrend(m);
}

// ---- charts

const palette = ["#2457c5", "#c53a24", "#1d7a3a", "#8a4fc5", "#c58a24", "#247ac5", "#c5247a", "#555"];

function destroyCharts() {
  for (const c of state.charts) c.destroy();
  state.charts = [];
  state.trend = [];
}

function makeTrend(m) {
  const series = [{}, ...channels(m.channels).map((c, i) => ({ label: `ch ${c} (K)`, stroke: palette[i], spanGaps: false }))];
  const chart = new uPlot({ width: Math.min(1100, main.clientWidth - 40), height: 260, series, scales: { x: { time: true } } },
    [[], ...channels(m.channels).map(() => [])], document.getElementById("trend"));
  state.charts.push(chart);
  state.trendChart = chart;
  pushTrend(m);
}

function pushTrend(m) {
  if (!state.trendChart || m.state !== "ok") return;
  state.trend.push([m.time, ...channels(m.channels).map((c) => (typeof m.values[c] === "number" && !volts(c, m.values[c]) ? m.values[c] : null))]);
  if (state.trend.length > 600) state.trend.shift();
  const columns = state.trend[0].map((_, i) => state.trend.map((row) => row[i]));
  state.trendChart.setData(columns);
}

function drawBlock(b) {
  state.block = b;
  const n = b.samples, step = 1 / b.frequency;
  const x = new Float64Array(n);
  for (let i = 0; i < n; i++) x[i] = i * step;
  const data = [x, ...b.data];
  const box = document.getElementById("chart");
  if (!box) return;
  const shape = `${b.channels.join(",")}/${n}/${b.frequency}`;
  if (!state.blockChart || state.blockShape !== shape) {
    for (const c of state.charts) c.destroy();
    state.charts = [];
    box.replaceChildren();
    state.blockChart = new uPlot({
      width: Math.min(1100, main.clientWidth - 40), height: 320,
      scales: { x: { time: false } },
      axes: [{ label: "seconds in block" }, { label: state.module.kind === "RA01" ? "A" : "V" }],
      series: [{ label: "s" }, ...b.channels.map((c, i) => ({ label: `ch ${c}`, stroke: palette[i % 8], width: 1 }))],
    }, data, box);
    state.blockShape = shape;
    state.charts.push(state.blockChart);
  } else {
    state.blockChart.setData(data);
  }
  const unit = state.module.kind === "RA01" ? "A" : "V";
  document.getElementById("stats")?.replaceChildren(
    el("thead", {}, el("tr", {}, ["channel", `min (${unit})`, `mean (${unit})`, `max (${unit})`].map((h) => el("th", {}, h)))),
    el("tbody", {}, b.channels.map((c, i) => el("tr", { "data-stats": c },
      el("td", {}, c), el("td", { class: "num" }, number(b.stats[i].min, 6)),
      el("td", { class: "num" }, number(b.stats[i].mean, 6)), el("td", { class: "num" }, number(b.stats[i].max, 6))))));
  const stream = document.getElementById("stream-state");
  if (stream) stream.textContent = `streaming: block ${b.block}, ${n} samples per channel`;
}

// ---- routing

function route() {
  const match = location.hash.match(/^#\/module\/([0-9.]+)$/);
  state.blockChart = null;
  state.trendChart = null;
  destroyCharts();
  if (match) {
    state.view = "module";
    state.address = match[1];
    state.module = null;
    drawModule();
  } else {
    state.view = "rack";
    state.address = null;
    drawRack();
  }
  watch();
}

// For the tests and the benchmark: what the page holds, read without scraping.
window.panel = {
  state,
  blockSamples: () => (state.blockChart ? state.blockChart.data[1].length : 0),
  renders: () => state.renders,
};

(async () => {
  state.config = await (await fetch("/api/config")).json();
  window.addEventListener("hashchange", route);
  route();
  connect();
  setInterval(() => { // keep "last seen … ago" current
    if (state.view === "rack") for (const m of state.rack.values()) if (m.state === "silent") updateRackRow(m);
  }, 5000);
})();
