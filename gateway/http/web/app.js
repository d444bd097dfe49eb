// The gateway's control page: reads the state from /api/v1, follows /api/v1/events and sends
// changes through the API. Plain script, no libraries, nothing loaded from elsewhere.
"use strict";

const TOKEN_KEY = "matrix-gateway-token";
const PORTS = 6;

const view = {
  state: null,
  socket: null,
  retryMs: 500,
  focus: { output: 1, input: 1 },
};

function $(id) { return document.getElementById(id); }

function token() { return sessionStorage.getItem(TOKEN_KEY) || ""; }

function base64url(text) {
  const bytes = new TextEncoder().encode(text);
  let binary = "";
  bytes.forEach((b) => { binary += String.fromCharCode(b); });
  return btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

function say(text, kind) {
  const message = $("message");
  message.textContent = text || "";
  message.dataset.kind = kind || "info";
}

// One call of the API. A 401 asks for the token and repeats the call once it is given.
async function api(method, path, body) {
  const headers = {};
  if (token()) headers.Authorization = "Bearer " + token();
  const options = { method, headers };
  if (body !== undefined) {
    headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body);
  }
  const response = await fetch("/api/v1" + path, options);
  let data = null;
  try { data = await response.json(); } catch (e) { data = null; }
  if (response.status === 401) {
    await askToken(token() ? "That token was not accepted." : "");
    return api(method, path, body);
  }
  if (!response.ok) {
    const error = new Error((data && data.message) || ("The gateway answered " + response.status + "."));
    error.status = response.status;
    throw error;
  }
  return data;
}

function askToken(problem) {
  return new Promise((resolve) => {
    const dialog = $("token-dialog");
    $("token-error").textContent = problem || "";
    $("token").value = "";
    const form = $("token-form");
    const submitted = (event) => {
      event.preventDefault();
      const value = $("token").value.trim();
      if (!value) return;
      sessionStorage.setItem(TOKEN_KEY, value);
      form.removeEventListener("submit", submitted);
      dialog.close();
      resolve();
    };
    form.addEventListener("submit", submitted);
    if (!dialog.open) dialog.showModal();
    $("token").focus();
  });
}

function label(kind, port) {
  const text = view.state && view.state[kind + "Labels"][port - 1];
  const noun = kind === "input" ? "Input" : "Output";
  return text ? noun + " " + port + ": " + text : noun + " " + port;
}

function buildGrid() {
  const head = $("grid-head");
  const body = $("grid-body");
  for (let input = 1; input <= PORTS; ++input) {
    const th = document.createElement("th");
    th.scope = "col";
    th.id = "input-" + input;
    head.appendChild(th);
  }
  for (let output = 1; output <= PORTS; ++output) {
    const row = document.createElement("tr");
    row.id = "output-row-" + output;
    const th = document.createElement("th");
    th.scope = "row";
    th.id = "output-" + output;
    row.appendChild(th);
    for (let input = 1; input <= PORTS; ++input) {
      const td = document.createElement("td");
      const button = document.createElement("button");
      button.type = "button";
      button.className = "cell";
      button.id = "route-o" + output + "-i" + input;
      button.dataset.output = output;
      button.dataset.input = input;
      button.setAttribute("aria-pressed", "false");
      button.tabIndex = output === 1 && input === 1 ? 0 : -1;
      button.addEventListener("click", () => route(output, input));
      button.addEventListener("keydown", (event) => moveFocus(event, output, input));
      button.addEventListener("focus", () => { view.focus = { output, input }; rovingTab(); });
      td.appendChild(button);
      row.appendChild(td);
    }
    body.appendChild(row);
  }
}

// One cell of the grid takes Tab; arrow keys, Home and End move within it.
function moveFocus(event, output, input) {
  let o = output;
  let i = input;
  switch (event.key) {
    case "ArrowUp": o = Math.max(1, o - 1); break;
    case "ArrowDown": o = Math.min(PORTS, o + 1); break;
    case "ArrowLeft": i = Math.max(1, i - 1); break;
    case "ArrowRight": i = Math.min(PORTS, i + 1); break;
    case "Home": i = 1; break;
    case "End": i = PORTS; break;
    default: return;
  }
  event.preventDefault();
  view.focus = { output: o, input: i };
  rovingTab();
  $("route-o" + o + "-i" + i).focus();
}

function rovingTab() {
  document.querySelectorAll(".cell").forEach((cell) => {
    const here = Number(cell.dataset.output) === view.focus.output
      && Number(cell.dataset.input) === view.focus.input;
    cell.tabIndex = here ? 0 : -1;
  });
}

function render() {
  const state = view.state;
  if (!state) return;
  const link = $("link");
  link.dataset.present = String(state.present);
  link.textContent = (state.present ? "Device present" : "Device not present")
    + (state.link ? " — " + state.link : "");
  $("device").textContent = [state.model, state.version].filter(Boolean).join(" ");

  const power = $("power");
  power.disabled = !state.present || state.power === null;
  power.setAttribute("aria-pressed", String(state.power === true));
  power.textContent = state.power === null ? "Power" : (state.power ? "Power: on" : "Power: off");

  for (let input = 1; input <= PORTS; ++input) $("input-" + input).textContent = label("input", input);
  for (let output = 1; output <= PORTS; ++output) {
    $("output-" + output).textContent = label("output", output);
    const locked = state.locked[output - 1];
    $("output-row-" + output).dataset.locked = String(locked);
    for (let input = 1; input <= PORTS; ++input) {
      const cell = $("route-o" + output + "-i" + input);
      const on = state.routes[output - 1] === input;
      cell.setAttribute("aria-pressed", String(on));
      cell.disabled = !state.present || locked;
      cell.setAttribute("aria-label", label("input", input) + " to " + label("output", output)
        + (on ? ", routed" : "") + (locked ? ", locked by a panel" : ""));
    }
  }

  const presets = $("presets");
  while (presets.children.length < state.presets.length) {
    const n = presets.children.length + 1;
    const button = document.createElement("button");
    button.type = "button";
    button.id = "preset-" + n;
    button.addEventListener("click", () => applyPreset(n));
    presets.appendChild(button);
  }
  state.presets.forEach((preset, index) => {
    const button = presets.children[index];
    button.textContent = preset.name || ("Preset " + preset.n);
    button.disabled = !state.present;
  });
}

async function command(action, doneText) {
  try {
    const state = await action();
    if (state && state.routes) { view.state = state; render(); }
    say(doneText);
  } catch (error) {
    say(error.message, "error");
  }
}

function route(output, input) {
  return command(() => api("PUT", "/routes/" + output, { input }),
    label("input", input) + " to " + label("output", output) + ".");
}

function applyPreset(n) {
  return command(() => api("POST", "/presets/" + n + "/apply"), "Preset " + n + " applied.");
}

function togglePower() {
  const on = !(view.state && view.state.power === true);
  return command(() => api("PUT", "/power", { on }), on ? "Power on." : "Power off.");
}

// Applies one event to the state the page shows.
function apply(event) {
  const state = view.state;
  if (event.type === "state") { view.state = event.state; render(); return; }
  if (!state) return;
  switch (event.type) {
    case "route": state.routes[event.output - 1] = event.input; break;
    case "label": state[event.side + "Labels"][event.port - 1] = event.label; break;
    case "power": state.power = event.on; break;
    case "present": state.present = event.present; state.link = event.link; break;
    case "device": state.model = event.model; state.version = event.version; break;
    case "preset": state.presets[event.preset.n - 1] = event.preset; break;
    case "lock": state.locked[event.output - 1] = event.locked; break;
    default: return;
  }
  render();
}

function listen() {
  const scheme = location.protocol === "https:" ? "wss://" : "ws://";
  const protocols = ["matrix-gateway"];
  if (token()) protocols.push("bearer." + base64url(token()));
  const socket = new WebSocket(scheme + location.host + "/api/v1/events", protocols);
  view.socket = socket;
  socket.addEventListener("open", () => { view.retryMs = 500; });
  socket.addEventListener("message", (message) => {
    try { apply(JSON.parse(message.data)); } catch (e) { /* not an event of ours */ }
  });
  socket.addEventListener("close", () => {
    view.socket = null;
    const link = $("link");
    link.dataset.present = "false";
    link.textContent = "Gateway not reachable; trying again…";
    // The token may have been refused: reading the state asks for it again when so.
    setTimeout(start, view.retryMs);
    view.retryMs = Math.min(view.retryMs * 2, 10000);
  });
}

async function start() {
  try {
    view.state = await api("GET", "/state");
    render();
    listen();
  } catch (error) {
    say(error.message, "error");
    setTimeout(start, view.retryMs);
    view.retryMs = Math.min(view.retryMs * 2, 10000);
  }
}

document.addEventListener("DOMContentLoaded", () => {
  buildGrid();
  $("power").addEventListener("click", togglePower);
  start();
});
