// The gateway's control page: reads the state from /api/v1, follows /api/v1/events and sends
// changes through the API. Plain script, no libraries, nothing loaded from elsewhere. Texts
// from the gateway (labels, names, reasons) are always set as plain text.
"use strict";

const TOKEN_KEY = "matrix-gateway-token";
const PORTS = 6;
// How long the power button waits for the second tap that switches the switcher off.
const CONFIRM_MS = 4000;
const POWER_ASK = "Tap the power button again to switch the switcher off.";
const SVG_NS = "http://www.w3.org/2000/svg";

const view = {
  state: null,
  socket: null,
  // The state was read and the event socket has not closed since.
  connected: false,
  everConnected: false,
  // Why the gateway is not reachable: "gateway" (no answer) or "events" (the socket closed).
  lost: "gateway",
  // "" while authenticated; "needed" while the page waits for the token.
  auth: "",
  retryMs: 500,
  retryTimer: 0,
  focus: { output: 1, input: 1 },
  // Routes in flight, output -> input, and outputs whose lock request is in flight.
  pending: new Map(),
  lockPending: new Set(),
  powerConfirm: 0,
  // The output whose input is being chosen in the picker (narrow screens).
  picking: 0,
  // The preset being edited, and whether an editor's changes are being sent.
  editingPreset: 0,
  saving: false,
  // Events read from the socket so far.
  events: 0,
};

function $(id) { return document.getElementById(id); }

function token() { return sessionStorage.getItem(TOKEN_KEY) || ""; }

function base64url(text) {
  const bytes = new TextEncoder().encode(text);
  let binary = "";
  bytes.forEach((b) => { binary += String.fromCharCode(b); });
  return btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

// Shows the outcome of the last action beside the routing controls. A message about a lost
// gateway is cleared once it is back.
function say(text, kind, cause) {
  const message = $("message");
  message.textContent = text || "";
  message.dataset.kind = kind || "info";
  message.dataset.cause = cause || "";
}

class ApiError extends Error {
  constructor(message, status, code, retryAfter) {
    super(message);
    this.status = status;
    this.code = code || "";
    this.retryAfter = retryAfter || 0;
  }
}

// One call of the API. It is never repeated: a change asked for before the token was given
// is not carried out afterwards.
async function api(method, path, body) {
  const headers = {};
  if (token()) headers.Authorization = "Bearer " + token();
  const options = { method, headers };
  if (body !== undefined) {
    headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch("/api/v1" + path, options);
  } catch (e) {
    throw new ApiError("the gateway could not be reached", 0, "unreachable");
  }
  let data = null;
  try { data = await response.json(); } catch (e) { data = null; }
  if (!response.ok) {
    throw new ApiError((data && typeof data.message === "string" && data.message)
      || ("the gateway answered " + response.status),
    response.status, data && data.error, Number(response.headers.get("Retry-After")) || 0);
  }
  return data;
}

// What the routing controls can do now, and why not.
function mode() {
  if (view.auth) return "auth";
  if (!view.connected || !view.state) return view.everConnected ? "offline" : "connecting";
  if (!view.state.present) return "absent";
  if (view.state.power === false) return "off";
  if (view.state.power !== true) return "reading";
  // Switched on or found again: the routes read before are not taken as true until read anew.
  if (view.state.routesKnown === false) return "routes";
  return "live";
}

function modeText(m) {
  switch (m) {
    case "auth":
      return "Token needed: this gateway shows and changes nothing without its access token.";
    case "connecting": return "Connecting to the gateway…";
    case "offline": return view.lost === "events"
      ? "The gateway's events stopped; reconnecting… Nothing shown here is current."
      : "The gateway is not reachable; trying again… Nothing shown here is current.";
    case "absent":
      return "The switcher is not present" + (view.state.link ? ": " + view.state.link : ".")
        + " Routing waits until it answers.";
    case "off": return "The switcher is switched off. Switch it on to route.";
    case "reading": return "Reading the switcher's state…";
    case "routes": return "Reading the routes from the switcher… Routing waits until they are known.";
    default: return "";
  }
}

function portName(kind, port) { return (kind === "input" ? "Input " : "Output ") + port; }

function labelText(kind, port) {
  const labels = view.state && view.state[kind + "Labels"];
  const text = Array.isArray(labels) ? labels[port - 1] : "";
  return typeof text === "string" ? text : "";
}

function label(kind, port) {
  const text = labelText(kind, port);
  return text ? portName(kind, port) + ": " + text : portName(kind, port);
}

function routeOf(output) {
  if (!view.state || view.state.routesKnown === false) return null;
  const routes = view.state.routes;
  return Array.isArray(routes) ? routes[output - 1] : null;
}

function lockedOf(output) {
  const locked = view.state && view.state.locked;
  return Array.isArray(locked) && locked[output - 1] === true;
}

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

// A padlock drawn inline, closed or open, so that it shows without an emoji font.
function padlock() {
  const svg = document.createElementNS(SVG_NS, "svg");
  svg.setAttribute("viewBox", "0 0 16 16");
  svg.setAttribute("width", "16");
  svg.setAttribute("height", "16");
  svg.setAttribute("aria-hidden", "true");
  svg.setAttribute("focusable", "false");
  svg.classList.add("padlock");
  const body = document.createElementNS(SVG_NS, "rect");
  body.setAttribute("x", "2.5");
  body.setAttribute("y", "7");
  body.setAttribute("width", "11");
  body.setAttribute("height", "8");
  body.setAttribute("rx", "1.5");
  body.setAttribute("fill", "currentColor");
  const shackle = document.createElementNS(SVG_NS, "path");
  shackle.setAttribute("fill", "none");
  shackle.setAttribute("stroke", "currentColor");
  shackle.setAttribute("stroke-width", "1.8");
  shackle.classList.add("shackle");
  svg.append(body, shackle);
  return svg;
}

function setPadlock(svg, locked) {
  // Closed: the shackle comes down on both sides; open: on one.
  svg.querySelector(".shackle")
    .setAttribute("d", locked ? "M5 7V5a3 3 0 0 1 6 0v2" : "M5 7V5a3 3 0 0 1 6 0");
}

function lockButton(id, output) {
  const button = element("button", "lock");
  button.type = "button";
  button.id = id;
  button.append(padlock(), element("span", "lock-text"));
  button.addEventListener("click", () => toggleLock(output));
  return button;
}

function buildGrid() {
  const head = $("grid-head");
  const body = $("grid-body");
  for (let input = 1; input <= PORTS; ++input) {
    const th = element("th");
    th.scope = "col";
    th.id = "input-" + input;
    th.append(element("span", "port-no", portName("input", input)),
      element("span", "port-label ellipsis"));
    head.appendChild(th);
  }
  const lockHead = element("th", "lock-head", "Lock");
  lockHead.scope = "col";
  head.appendChild(lockHead);
  for (let output = 1; output <= PORTS; ++output) {
    const row = element("tr");
    row.id = "output-row-" + output;
    const th = element("th");
    th.scope = "row";
    th.id = "output-" + output;
    th.append(element("span", "port-no", portName("output", output)),
      element("span", "port-label ellipsis"));
    row.appendChild(th);
    for (let input = 1; input <= PORTS; ++input) {
      const td = element("td");
      const button = element("button", "cell");
      button.type = "button";
      button.id = "route-o" + output + "-i" + input;
      button.dataset.output = output;
      button.dataset.input = input;
      button.setAttribute("aria-pressed", "false");
      button.tabIndex = output === 1 && input === 1 ? 0 : -1;
      button.addEventListener("click", () => route(output, input));
      button.addEventListener("keydown", (event) => moveFocus(event, output, input));
      button.addEventListener("focus", () => {
        view.focus = { output, input };
        rovingTab();
        showCellInfo(button);
      });
      button.addEventListener("mouseenter", () => showCellInfo(button));
      td.appendChild(button);
      row.appendChild(td);
    }
    const lockCell = element("td", "lock-cell");
    lockCell.appendChild(lockButton("lock-o" + output, output));
    row.appendChild(lockCell);
    body.appendChild(row);
  }
}

// The narrow screen's list: one row per output with the input it shows; a tap opens the picker.
function buildList() {
  const list = $("output-list");
  for (let output = 1; output <= PORTS; ++output) {
    const item = element("li", "list-row");
    item.id = "list-o" + output;
    const pick = element("button", "pick");
    pick.type = "button";
    pick.id = "pick-o" + output;
    pick.setAttribute("aria-haspopup", "dialog");
    pick.append(element("span", "pick-output ellipsis"), element("span", "pick-input ellipsis"));
    pick.addEventListener("click", () => openPicker(output));
    item.append(pick, lockButton("list-lock-o" + output, output));
    list.appendChild(item);
  }
  const inputs = $("picker-inputs");
  for (let input = 1; input <= PORTS; ++input) {
    const item = element("li");
    const choose = element("button", "choose ellipsis");
    choose.type = "button";
    choose.id = "choose-i" + input;
    choose.addEventListener("click", () => choosePicked(input));
    item.appendChild(choose);
    inputs.appendChild(item);
  }
  $("picker-cancel").addEventListener("click", () => $("picker").close());
  $("picker").addEventListener("close", () => {
    const output = view.picking;
    view.picking = 0;
    if (output) $("pick-o" + output).focus();
  });
}

function openPicker(output) {
  view.picking = output;
  render();
  const picker = $("picker");
  if (!picker.open) picker.showModal();
  const current = routeOf(output);
  const first = $("choose-i" + (current >= 1 && current <= PORTS ? current : 1));
  if (!first.disabled) first.focus();
}

function choosePicked(input) {
  const output = view.picking;
  $("picker").close();
  if (output) route(output, input);
}

// The full texts of the focused or pointed cell, which the headers may show cut short.
function showCellInfo(button) {
  $("cell-info").textContent = button.getAttribute("aria-label") || "";
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

function renderLockButton(button, output, canLock) {
  const locked = lockedOf(output);
  const name = label("output", output);
  button.setAttribute("aria-pressed", String(locked));
  button.dataset.locked = String(locked);
  button.disabled = !canLock || view.lockPending.has(output);
  setPadlock(button.querySelector(".padlock"), locked);
  button.querySelector(".lock-text").textContent = locked ? "Locked" : "Lock";
  button.setAttribute("aria-label", (locked ? "Unlock " : "Lock ") + name);
  button.title = locked ? name + " is locked; choose to unlock it" : "Lock " + name;
}

function renderHeader(state) {
  const link = $("link");
  const reachable = view.connected && !view.auth;
  link.dataset.present = String(reachable && state.present === true);
  if (view.auth) link.textContent = "Token needed";
  else if (!view.connected) {
    link.textContent = view.everConnected ? "Gateway not reachable" : "Connecting…";
  } else {
    link.textContent = (state.present ? "Device present" : "Device not present")
      + (state.link ? " — " + state.link : "");
  }
  // The switcher's friendly name heads the page; the model follows unless it is the name.
  const name = typeof state.friendlyName === "string" ? state.friendlyName : "";
  $("name").textContent = name || "Matrix Gateway";
  $("name").title = $("name").textContent;
  document.title = name ? name + " · Matrix Gateway" : "Matrix Gateway";
  $("device").textContent = [state.model !== name ? state.model : "", state.version]
    .filter((part) => typeof part === "string" && part).join(" · ");
  $("device").title = $("device").textContent;

  const power = $("power");
  power.disabled = !reachable || !state.present || typeof state.power !== "boolean";
  if (power.disabled) cancelPowerConfirm();
  power.setAttribute("aria-pressed", String(state.power === true));
  power.dataset.confirm = String(Boolean(view.powerConfirm));
  if (view.powerConfirm) power.textContent = "Tap again to switch off";
  else if (state.power === true) power.textContent = "Power: on";
  else if (state.power === false) power.textContent = "Power: off";
  else power.textContent = "Power";
}

function render() {
  const m = mode();
  $("routing").dataset.mode = m;
  $("status").hidden = m === "live";
  $("status-text").textContent = modeText(m);
  $("token-button").hidden = m !== "auth";

  const state = view.state || {};
  renderHeader(state);
  const live = m === "live";
  const canLock = view.connected && !view.auth;

  for (let input = 1; input <= PORTS; ++input) {
    const th = $("input-" + input);
    th.querySelector(".port-label").textContent = labelText("input", input);
    th.title = label("input", input);
  }
  for (let output = 1; output <= PORTS; ++output) {
    const locked = lockedOf(output);
    const current = routeOf(output);
    const pending = view.pending.get(output);
    const name = label("output", output);
    const th = $("output-" + output);
    th.querySelector(".port-label").textContent = labelText("output", output);
    th.title = name;
    const row = $("output-row-" + output);
    row.dataset.locked = String(locked);
    row.setAttribute("aria-busy", String(pending !== undefined));
    for (let input = 1; input <= PORTS; ++input) {
      const cell = $("route-o" + output + "-i" + input);
      const on = current === input;
      cell.setAttribute("aria-pressed", String(on));
      cell.dataset.pending = String(pending === input);
      cell.disabled = !live;
      const text = label("input", input) + " to " + name + (on ? ", routed" : "")
        + (pending === input ? ", switching" : "") + (locked ? ", locked" : "");
      cell.setAttribute("aria-label", text);
      cell.title = text;
    }
    renderLockButton($("lock-o" + output), output, canLock);

    const item = $("list-o" + output);
    item.dataset.pending = String(pending !== undefined);
    item.dataset.locked = String(locked);
    const pick = $("pick-o" + output);
    pick.disabled = !live;
    pick.querySelector(".pick-output").textContent = name;
    let now = current >= 1 && current <= PORTS ? label("input", current)
      : (m === "routes" ? "Reading the routes…" : "Input not known");
    if (pending !== undefined) now = "Switching to " + label("input", pending) + "…";
    pick.querySelector(".pick-input").textContent = now;
    pick.setAttribute("aria-label", name + ", showing " + now + (locked ? ", locked" : ""));
    pick.title = name + ": " + now;
    renderLockButton($("list-lock-o" + output), output, canLock);
  }

  if (view.picking) {
    const output = view.picking;
    $("picker-title").textContent = "Route to " + label("output", output);
    $("picker-title").title = $("picker-title").textContent;
    const current = routeOf(output);
    $("picker-now").textContent = "Now: "
      + (current >= 1 && current <= PORTS ? label("input", current) : "not known");
    $("picker-now").title = $("picker-now").textContent;
    for (let input = 1; input <= PORTS; ++input) {
      const choose = $("choose-i" + input);
      choose.textContent = label("input", input);
      choose.title = label("input", input);
      choose.setAttribute("aria-pressed", String(current === input));
      choose.disabled = !live;
    }
  }

  // Labels and presets are kept by the gateway: they can be edited without the switcher.
  const canEdit = view.connected && !view.auth;
  const presets = $("presets");
  const list = Array.isArray(state.presets) ? state.presets : [];
  while (presets.children.length < list.length) {
    const n = presets.children.length + 1;
    const item = element("li", "preset-item");
    const button = element("button", "preset ellipsis");
    button.type = "button";
    button.id = "preset-" + n;
    button.addEventListener("click", () => applyPreset(n));
    const edit = element("button", "edit", "Edit");
    edit.type = "button";
    edit.id = "edit-preset-" + n;
    edit.setAttribute("aria-haspopup", "dialog");
    edit.addEventListener("click", () => openPresetEditor(n));
    item.append(button, edit);
    presets.appendChild(item);
  }
  list.forEach((preset, index) => {
    const n = index + 1;
    const name = presetName(n);
    const button = $("preset-" + n);
    button.textContent = name;
    button.title = name;
    button.disabled = !live;
    const edit = $("edit-preset-" + n);
    const what = name === "Preset " + n ? name : "preset " + n + ": " + name;
    edit.setAttribute("aria-label", "Edit " + what);
    edit.title = "Edit " + what;
    edit.disabled = !canEdit;
  });
  $("edit-labels").disabled = !canEdit;
  $("preset-take").disabled = !routesAllKnown();
}

function presetOf(n) {
  const presets = view.state && view.state.presets;
  const preset = Array.isArray(presets) ? presets[n - 1] : null;
  return preset && typeof preset === "object" ? preset : {};
}

function presetName(n) {
  const name = presetOf(n).name;
  return typeof name === "string" && name ? name : "Preset " + n;
}

function routesAllKnown() {
  for (let output = 1; output <= PORTS; ++output) {
    const input = routeOf(output);
    if (!(input >= 1 && input <= PORTS)) return false;
  }
  return true;
}

// Editing labels and presets. Each editor is a dialog; the focus goes back to the button that
// opened it. A refused change is told beside its control with the gateway's own message.

function buildEditors() {
  ["input", "output"].forEach((kind) => {
    const box = $("labels-" + kind + "s");
    for (let port = 1; port <= PORTS; ++port) {
      const id = "label-" + kind + "-" + port;
      const field = element("div", "field");
      const caption = element("label", null, portName(kind, port));
      caption.htmlFor = id;
      const input = element("input");
      input.type = "text";
      input.id = id;
      input.autocomplete = "off";
      input.spellcheck = false;
      input.dataset.kind = kind;
      input.dataset.port = String(port);
      input.setAttribute("aria-describedby", id + "-error");
      const error = element("p", "field-error");
      error.id = id + "-error";
      field.append(caption, input, error);
      box.appendChild(field);
    }
  });
  const routes = $("preset-routes");
  for (let output = 1; output <= PORTS; ++output) {
    const id = "preset-route-o" + output;
    const field = element("div", "field");
    const caption = element("label", "ellipsis");
    caption.htmlFor = id;
    caption.id = id + "-label";
    const select = element("select");
    select.id = id;
    select.append(new Option("Leave as it is", ""));
    for (let input = 1; input <= PORTS; ++input) select.append(new Option("", String(input)));
    field.append(caption, select);
    routes.appendChild(field);
  }

  ["labels-dialog", "preset-dialog"].forEach((id) => {
    const dialog = $(id);
    dialog.addEventListener("close", () => {
      const opener = dialog.returnFocusTo;
      dialog.returnFocusTo = null;
      if (opener && opener.isConnected && !opener.disabled) opener.focus();
    });
  });
  $("edit-labels").addEventListener("click", openLabelEditor);
  $("labels-cancel").addEventListener("click", () => $("labels-dialog").close());
  $("labels-form").addEventListener("submit", saveLabels);
  $("preset-cancel").addEventListener("click", () => $("preset-dialog").close());
  $("preset-take").addEventListener("click", takeCurrentRoutes);
  $("preset-form").addEventListener("submit", savePreset);
}

function openEditor(dialog, opener) {
  dialog.returnFocusTo = opener;
  if (!dialog.open) dialog.showModal();
}

function showFieldError(field, text) {
  const error = $(field.id + "-error");
  error.textContent = text;
  if (text) field.setAttribute("aria-invalid", "true");
  else field.removeAttribute("aria-invalid");
}

// What a refused change says: the gateway's message as it stands.
function refusal(error) {
  if (error.status === 0) return "Not saved: the gateway could not be reached.";
  if (error.status === 401) return "Not saved: the gateway asks for its access token first.";
  return error.message;
}

function openLabelEditor() {
  document.querySelectorAll("#labels-dialog input").forEach((field) => {
    const text = labelText(field.dataset.kind, Number(field.dataset.port));
    field.value = text;
    field.dataset.was = text;
    showFieldError(field, "");
  });
  $("labels-error").textContent = "";
  openEditor($("labels-dialog"), $("edit-labels"));
  $("label-input-1").focus();
}

// Sends the labels that were changed, one by one; the dialog stays open while any was refused.
async function saveLabels(event) {
  event.preventDefault();
  if (view.saving) return;
  const fields = Array.from(document.querySelectorAll("#labels-dialog input"));
  fields.forEach((field) => showFieldError(field, ""));
  $("labels-error").textContent = "";
  const changed = fields.filter((field) => field.value.trim() !== field.dataset.was);
  const refused = [];
  let stop = null;
  view.saving = true;
  $("labels-save").textContent = "Saving…";
  for (const field of changed) {
    const text = field.value.trim();
    try {
      await change("PUT", "/labels/" + field.dataset.kind + "s/" + field.dataset.port,
        { label: text });
      field.dataset.was = text;
      field.value = text;
    } catch (error) {
      refused.push(field);
      showFieldError(field, refusal(error));
      if (error.status === 401 || error.status === 0) {
        stop = error;
        break;
      }
    }
  }
  view.saving = false;
  $("labels-save").textContent = "Save labels";
  render();
  if (stop && stop.status === 401) {
    $("labels-dialog").close();
    needToken("");
    return;
  }
  if (stop) lose("gateway");
  if (!refused.length) {
    $("labels-dialog").close();
    say(changed.length ? "The labels are saved." : "");
    return;
  }
  $("labels-error").textContent = refused.length === 1
    ? label(refused[0].dataset.kind, Number(refused[0].dataset.port))
      + " was not saved; the reason is beside it."
    : refused.length + " labels were not saved; the reasons are beside them.";
  refused[0].focus();
}

function openPresetEditor(n) {
  const preset = presetOf(n);
  view.editingPreset = n;
  $("preset-dialog-title").textContent = "Edit " + (presetName(n) === "Preset " + n
    ? presetName(n) : "preset " + n + ": " + presetName(n));
  $("preset-dialog-title").title = $("preset-dialog-title").textContent;
  $("preset-name").value = typeof preset.name === "string" ? preset.name : "";
  const routes = Array.isArray(preset.routes) ? preset.routes : [];
  for (let output = 1; output <= PORTS; ++output) {
    const caption = $("preset-route-o" + output + "-label");
    caption.textContent = label("output", output);
    caption.title = caption.textContent;
    const select = $("preset-route-o" + output);
    for (let input = 1; input <= PORTS; ++input)
      select.options[input].textContent = label("input", input);
    const input = routes[output - 1];
    select.value = input >= 1 && input <= PORTS ? String(input) : "";
  }
  $("preset-take-note").textContent = "";
  $("preset-error").textContent = "";
  render();
  openEditor($("preset-dialog"), $("edit-preset-" + n));
  $("preset-name").focus();
}

function takeCurrentRoutes() {
  if (!routesAllKnown()) return;
  for (let output = 1; output <= PORTS; ++output)
    $("preset-route-o" + output).value = String(routeOf(output));
  $("preset-take-note").textContent = "The current routes are filled in; Save preset keeps them.";
}

async function savePreset(event) {
  event.preventDefault();
  const n = view.editingPreset;
  if (view.saving || !n) return;
  const routes = [];
  for (let output = 1; output <= PORTS; ++output) {
    const value = $("preset-route-o" + output).value;
    routes.push(value ? Number(value) : null);
  }
  const name = $("preset-name").value.trim();
  $("preset-error").textContent = "";
  view.saving = true;
  $("preset-save").textContent = "Saving…";
  let stop = null;
  try {
    await change("PUT", "/presets/" + n, { name, routes });
  } catch (error) {
    stop = error;
    $("preset-error").textContent = refusal(error);
  }
  view.saving = false;
  $("preset-save").textContent = "Save preset";
  render();
  if (!stop) {
    $("preset-dialog").close();
    say(presetName(n) + " is saved.");
  } else if (stop.status === 401) {
    $("preset-dialog").close();
    needToken("");
  } else if (stop.status === 0) {
    lose("gateway");
  }
}

// Why an action was not done, as the operator reads it.
function reason(error) {
  if (error.status === 401) return "the gateway asks for its access token first";
  return error.message.replace(/\.$/, "");
}

function failed(what, error) {
  if (error.status === 401) needToken("");
  else if (error.status === 0) lose("gateway");
  say(what + ": " + reason(error) + ".", "error", error.status === 0 ? "network" : "");
}

// A change through the API. Its answer is the whole state as it was when the gateway answered;
// the event socket tells the same changes, and those after it, in order. An event read while
// the answer was on its way may be newer than the answer, which is then not taken: it would
// take the page back in time (routes read just after switching on, shown as unknown again).
async function change(method, path, body) {
  const events = view.events;
  const answer = await api(method, path, body);
  if (answer && Array.isArray(answer.routes) && (!view.socket || view.events === events))
    view.state = answer;
  return answer;
}

async function route(output, input) {
  if (mode() !== "live") return;
  view.pending.set(output, input);
  say(label("output", output) + ": switching to " + label("input", input) + "…");
  render();
  try {
    await change("PUT", "/routes/" + output, { input });
    say(label("output", output) + " shows " + label("input", input) + ".");
  } catch (error) {
    failed(label("output", output) + " was not switched to " + portName("input", input), error);
  } finally {
    if (view.pending.get(output) === input) view.pending.delete(output);
    render();
  }
}

async function applyPreset(n) {
  if (mode() !== "live") return;
  const button = $("preset-" + n);
  try {
    await change("POST", "/presets/" + n + "/apply");
    say(button.textContent + " applied.");
  } catch (error) {
    failed(button.textContent + " was not applied", error);
  }
  render();
}

async function toggleLock(output) {
  const lock = !lockedOf(output);
  const name = label("output", output);
  view.lockPending.add(output);
  render();
  try {
    const events = view.events;
    const answer = await api("PUT", "/locks/" + output, { locked: lock, force: false });
    // As with other answers: a lock event read meanwhile is as new or newer.
    if (answer && typeof answer.locked === "boolean" && Array.isArray(view.state.locked)
      && (!view.socket || view.events === events))
      view.state.locked[output - 1] = answer.locked;
    say(name + (lock ? " is locked." : " is unlocked."));
  } catch (error) {
    if (error.status === 404 || error.status === 405) {
      say(name + " was not " + (lock ? "locked" : "unlocked")
        + ": this gateway cannot lock outputs from the page.", "error");
    } else {
      failed(name + " was not " + (lock ? "locked" : "unlocked"), error);
    }
  } finally {
    view.lockPending.delete(output);
    render();
  }
}

function cancelPowerConfirm() {
  if (!view.powerConfirm) return;
  clearTimeout(view.powerConfirm);
  view.powerConfirm = 0;
}

// Switching on is one tap; switching off takes a second tap within a few seconds.
async function powerClick() {
  const state = view.state;
  if (!state || typeof state.power !== "boolean") return;
  if (state.power && !view.powerConfirm) {
    view.powerConfirm = setTimeout(() => {
      view.powerConfirm = 0;
      if ($("message").textContent === POWER_ASK) say("");
      render();
    }, CONFIRM_MS);
    say(POWER_ASK);
    render();
    return;
  }
  cancelPowerConfirm();
  const on = !state.power;
  render();
  try {
    await change("PUT", "/power", { on });
    // Switched off, the status box above says so; the message line does not repeat it.
    say(on ? "The switcher is switched on." : "");
  } catch (error) {
    failed("The switcher was not switched " + (on ? "on" : "off"), error);
  }
  render();
}

// Applies one event to the state the page shows. Events and fields the page does not know
// are left alone.
function apply(event) {
  if (!event || typeof event !== "object") return;
  ++view.events;
  if (event.type === "state") {
    if (event.state && Array.isArray(event.state.routes)) {
      view.state = event.state;
      view.connected = true;
      view.everConnected = true;
      recovered();
      render();
    }
    return;
  }
  const state = view.state;
  if (!state) return;
  switch (event.type) {
    case "route":
      if (Array.isArray(state.routes)) state.routes[event.output - 1] = event.input;
      break;
    case "label": {
      const labels = state[event.side + "Labels"];
      if (Array.isArray(labels)) labels[event.port - 1] = event.label;
      break;
    }
    case "power": state.power = event.on; break;
    case "present":
      state.present = event.present;
      state.link = event.link;
      if (typeof event.routesKnown === "boolean") state.routesKnown = event.routesKnown;
      break;
    case "device":
      ["model", "version", "friendlyName"].forEach((key) => {
        if (key in event) state[key] = event[key];
      });
      break;
    case "preset":
      if (Array.isArray(state.presets) && event.preset)
        state.presets[event.preset.n - 1] = event.preset;
      break;
    case "lock":
      if (Array.isArray(state.locked)) state.locked[event.output - 1] = event.locked;
      break;
    default: return;
  }
  render();
}

// Once the gateway answers again, a message about losing it no longer holds.
function recovered() {
  view.retryMs = 500;
  if ($("message").dataset.cause === "network") say("");
}

// Closes the event socket and drops what was in flight: the page shows nothing it cannot
// stand behind while it waits.
function disconnect() {
  view.connected = false;
  view.pending.clear();
  if (view.socket) {
    const socket = view.socket;
    view.socket = null;
    socket.close();
  }
  if ($("picker").open) $("picker").close();
}

function lose(what) {
  view.lost = what;
  disconnect();
  render();
  retry();
}

function retry(ms) {
  clearTimeout(view.retryTimer);
  view.retryTimer = setTimeout(start, ms || view.retryMs);
  view.retryMs = Math.min(view.retryMs * 2, 5000);
}

function listen() {
  const scheme = location.protocol === "https:" ? "wss://" : "ws://";
  const protocols = ["matrix-gateway"];
  if (token()) protocols.push("bearer." + base64url(token()));
  const socket = new WebSocket(scheme + location.host + "/api/v1/events", protocols);
  view.socket = socket;
  socket.addEventListener("message", (message) => {
    if (view.socket !== socket) return;
    let event = null;
    try { event = JSON.parse(message.data); } catch (e) { return; }
    apply(event);
  });
  socket.addEventListener("close", () => {
    if (view.socket !== socket) return;
    view.socket = null;
    // Reading the state again tells a refused token from a gateway that is gone.
    lose("events");
  });
}

async function start() {
  clearTimeout(view.retryTimer);
  if (view.auth === "needed" && !$("token-dialog").open && !token()) return;
  try {
    const state = await api("GET", "/state");
    if (!state || !Array.isArray(state.routes))
      throw new ApiError("the gateway's state could not be read", 500);
    view.auth = "";
    view.state = state;
    view.connected = true;
    view.everConnected = true;
    recovered();
    render();
    if (!view.socket) listen();
  } catch (error) {
    if (error.status === 401) {
      needToken(token() ? "That token was not accepted." : "");
      return;
    }
    if (error.status === 429 && view.auth) {
      askToken(reason(error) + ". Try again in " + (error.retryAfter || 15) + " s.");
      return;
    }
    view.connected = false;
    view.lost = "gateway";
    render();
    retry(error.retryAfter * 1000);
  }
}

// The page stops and waits for the token; nothing the user did before is carried out later.
function needToken(problem) {
  view.auth = "needed";
  cancelPowerConfirm();
  disconnect();
  render();
  askToken(problem);
}

function askToken(problem) {
  const dialog = $("token-dialog");
  $("token-error").textContent = problem || "";
  $("token").value = "";
  if (!dialog.open) dialog.showModal();
  $("token").focus();
}

function setUpTokenDialog() {
  const dialog = $("token-dialog");
  $("token-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const value = $("token").value.trim();
    if (!value) return;
    sessionStorage.setItem(TOKEN_KEY, value);
    dialog.close("given");
    start();
  });
  $("token-later").addEventListener("click", () => dialog.close("later"));
  // Escape, or "Not now": the page says that it needs the token and offers to take it.
  dialog.addEventListener("close", () => {
    if (dialog.returnValue === "given") return;
    sessionStorage.removeItem(TOKEN_KEY);
    render();
    $("token-button").focus();
  });
  dialog.addEventListener("cancel", () => { dialog.returnValue = "later"; });
  $("token-button").addEventListener("click", () => {
    dialog.returnValue = "";
    askToken("");
  });
}

document.addEventListener("DOMContentLoaded", () => {
  buildGrid();
  buildList();
  buildEditors();
  setUpTokenDialog();
  $("power").addEventListener("click", powerClick);
  render();
  start();
});
