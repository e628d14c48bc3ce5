"use strict";
// The handheld's page: every use of the screen or of the world's events is
// one scenario line sent to the server, which runs it on the live device
// and keeps it in the story.
const token = new URLSearchParams(location.search).get("token") || "";
const $ = (id) => document.getElementById(id);
const SCALE = 360 / 240;  // the screen is drawn at 240 x 320 and shown larger
let story = {name: "", position: 0, count: 0, stopped: false, lines: []};
let regions = [];
let queue = Promise.resolve();

// The world's events no tap can make: a verb, then its words' inputs.
const EVENTS = [
  ["start client", [["select", ["2002", "2003"]]]],
  ["close client", []],
  ["browser open", [["text", "URL (optional)", ""]]],
  ["browser height", [["number", "", "268"], ["fixed", "pixels"]]],
  ["front", [["select", ["browser", "client", "player", "tasks", "desktop"]]]],
  ["advance", [["number", "", "1"], ["ticks"]]],
  ["send", [["select", ["1124", "1125", "1126"]]]],
  ["shell open", [["text", "link or file", "mms://media.quorvix.net/news.asf"]]],
  ["launch", [["select", ["2002", "2003"]], ["text", "command line", "mms://media.quorvix.net/news.asf"]]],
  ["install", [["text", "directory", "\\Program Files\\Quorvix2003"], ["package", "package .reg (optional)", ""]]],
  ["uninstall", [["text", "directory", "\\Program Files\\Quorvix2003"]]],
  ["dial", [["text", "entry", "Office GPRS"]]],
  ["toolhelp", [["select", ["absent", "present"]]]],
  ["fail", [["text", "call", "RegOpenKeyExW"], ["number", "", "1"]]],
  ["reset", []],
];

// A word as a scenario line writes it (the runner's quoting: \" and \\).
function word(text) {
  if (text !== "" && !text.startsWith("#") && !/[\s"]/.test(text)) return text;
  return "\"" + text.replace(/[\\"]/g, (c) => "\\" + c) + "\"";
}

async function call(method, path, body) {
  const response = await fetch(path, {method, body, headers: {"X-Qxsim-Token": token, "Content-Type": "text/plain; charset=utf-8"}});
  const text = await response.text();
  if (!response.ok) throw new Error(text || response.status + " " + response.statusText);
  return text;
}

// One request at a time, in the order the user asked; the page says it is
// busy while any is waiting (its cursor, and for whoever drives it).
let pending = 0;
function later(work) {
  pending += 1;
  document.body.classList.add("busy");
  queue = queue.then(work).catch((error) => say(error.message, true)).finally(() => {
    pending -= 1;
    if (pending === 0) document.body.classList.remove("busy");
  });
  return queue;
}

function say(text, isError) {
  $("status").textContent = text;
  $("status").className = isError ? "error" : "";
}

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function showPlace(place) {
  story.name = place.name;
  story.position = place.position;
  story.count = place.count;
  story.stopped = place.stopped;
  regions = place.regions;
  const screen = $("screen");
  screen.innerHTML = place.screen;
  $("name").textContent = "\u2014 " + place.name;
  $("where").textContent = "(step " + place.position + " of " + place.count + (place.stopped ? ", ended" : "") + ")";
}

function renderStory() {
  const list = $("steps");
  list.replaceChildren();
  let current = null;
  for (const line of story.lines) {
    const quiet = line.steps.length === 0 && line.notes.length === 0;
    if (quiet && line.number !== story.position) continue;  // comments and blank lines
    const item = el("li", line.number > story.position ? "undone" : line.number === story.position ? "current" : "");
    item.dataset.number = line.number;
    const head = el("div", "head");
    head.append(el("span", "number", String(line.number)), el("span", "line", line.text));
    item.append(head);
    for (const note of line.notes) item.append(el("div", "note", note));
    for (const step of line.steps) {
      if (step.command !== line.text.trim()) item.append(el("div", "head", step.command));
      if (step.output) item.append(el("pre", "output", step.output.replace(/^ {4}/gm, "")));
      if (step.effects.length) {
        const effects = el("ul", "effects");
        for (const effect of step.effects) effects.append(el("li", "", effect));
        item.append(effects);
      }
      if (step.registry.length) {
        const registry = el("div", "registry", "registry:");
        for (const change of step.registry) {
          const row = el("div", change.kind + (change.value ? " value" : ""), change.text);
          if (!change.value) row.dataset.key = change.text.replace(/^[+~-] /, "").replace(/^\[|\]$/g, "");
          registry.append(row);
        }
        item.append(registry);
      }
    }
    if (line.number === story.position) current = item;
    list.append(item);
  }
  if (current) current.scrollIntoView({block: "nearest"});
}

async function refreshRegistry() {
  try {
    $("values").textContent = await call("GET", "/registry?key=" + encodeURIComponent($("key").value.trim()));
  } catch (error) {
    $("values").textContent = error.message;
  }
}

async function loadStory() {
  const data = JSON.parse(await call("GET", "/story"));
  story.lines = data.lines;
  showPlace(data);
  renderStory();
  await refreshRegistry();
}

function step(line) {
  return later(async () => {
    closeOverlay();
    const data = JSON.parse(await call("POST", "/steps", line));
    story.lines.length = data.position - 1;
    story.lines.push(data.line);
    showPlace(data);
    renderStory();
    say(data.line.number + ": " + data.line.text, false);
    await refreshRegistry();
  });
}

function rewind(to) {
  return later(async () => {
    closeOverlay();
    const data = JSON.parse(await call("POST", "/rewind?to=" + to));
    if (data.count !== story.lines.length) {
      await loadStory();
    } else {
      showPlace(data);
      renderStory();
      await refreshRegistry();
    }
    say("back to the state after step " + data.position, false);
  });
}

// ---- The screen: a tap becomes the step it stands for.

function closeOverlay() {
  for (const overlay of document.querySelectorAll("#screen .overlay")) overlay.remove();
}

function overlay(tag, region) {
  closeOverlay();
  const node = el(tag, "overlay");
  Object.assign(node.style, {left: region.x * SCALE + "px", top: region.y * SCALE + "px",
                             width: Math.max(region.w, 60) * SCALE + "px", minHeight: region.h * SCALE + "px"});
  node.addEventListener("click", (event) => event.stopPropagation());
  node.addEventListener("keydown", (event) => { if (event.key === "Escape") closeOverlay(); });
  $("screen").append(node);
  return node;
}

function openField(region) {
  const input = overlay("input", region);
  input.type = region.password ? "password" : "text";
  input.value = region.text;
  input.dataset.step = region.step;
  input.addEventListener("keydown", (event) => {
    if (event.key === "Enter") step(region.step + " " + word(input.value));
  });
  input.focus();
  input.select();
}

function openList(region) {
  const select = overlay("select", region);
  select.dataset.step = region.step;
  region.items.forEach((item, index) => {
    const option = el("option", "", item);
    option.selected = index === region.selection;
    select.append(option);
  });
  select.addEventListener("change", () => step(region.step + " " + word(region.items[select.selectedIndex])));
  select.focus();
}

$("screen").addEventListener("click", (event) => {
  const svg = $("screen").querySelector("svg");
  if (!svg) return;
  const box = svg.getBoundingClientRect();
  const x = Math.floor((event.clientX - box.left) * 240 / box.width);
  const y = Math.floor((event.clientY - box.top) * 320 / box.height);
  const region = regions.find((r) => x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h);
  if (!region || region.kind === "window") return step("tap " + x + " " + y);
  if (region.kind === "step") return step(region.step);
  if (region.kind === "field") return openField(region);
  if (region.kind === "list") return openList(region);
});

// ---- The world's events, any line, the story and the registry.

function buildEvents() {
  for (const [verb, inputs] of EVENTS) {
    const row = el("form", "event");
    row.dataset.verb = verb;
    const run = el("button", "", verb);
    run.type = "submit";
    row.append(run);
    const parts = [];
    for (const [kind, a, b] of inputs) {
      if (kind === "fixed") {
        row.append(el("span", "", a));
        parts.push(() => a);
        continue;
      }
      if (kind === "ticks") {
        const count = row.querySelector("input");
        row.append(el("span", "", "ticks"));
        parts.push(() => (count.value === "1" ? "tick" : "ticks"));
        continue;
      }
      let input;
      if (kind === "select") {
        input = el("select");
        for (const choice of a) input.append(el("option", "", choice));
      } else {
        input = el("input");
        input.type = kind === "number" ? "number" : "text";
        input.placeholder = a;
        input.value = b;
      }
      row.append(input);
      parts.push(() => (input.value === "" ? "" : kind === "package" ? "package " + word(input.value) : word(input.value)));
    }
    row.addEventListener("submit", (event) => {
      event.preventDefault();
      step([verb, ...parts.map((part) => part())].filter((part) => part !== "").join(" "));
    });
    $("events").append(row);
  }
}

$("any").addEventListener("submit", (event) => {
  event.preventDefault();
  const line = $("line").value;
  step(line).then(() => { if ($("status").className !== "error") $("line").value = ""; });
});

$("steps").addEventListener("click", (event) => {
  const key = event.target.closest("[data-key]");
  if (key) {
    $("key").value = key.dataset.key;
    later(refreshRegistry);
    return;
  }
  const item = event.target.closest("li[data-number]");
  if (item) rewind(Number(item.dataset.number));
});

$("show").addEventListener("submit", (event) => {
  event.preventDefault();
  later(refreshRegistry);
});

$("download").addEventListener("click", () => later(async () => {
  const text = await call("GET", "/scenario");
  const link = el("a");
  link.href = URL.createObjectURL(new Blob([text], {type: "text/plain"}));
  link.download = story.name;
  document.body.append(link);
  link.click();
  link.remove();
  say("downloaded " + story.name + ": steps 1 to " + story.position, false);
}));

buildEvents();
later(loadStory);
