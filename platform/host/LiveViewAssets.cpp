#include "LiveViewAssets.h"

namespace Oru {

const std::string& LiveViewStyle()
{
    static const std::string style = R"css(
#live { margin-top: 2em; }
#live section.station, #live-gateway { border: 1px solid #bbb; border-radius: 6px; padding: 0.6em 1em; margin: 1em 0; }
#live h3 { margin: 0.2em 0 0.4em; }
#live .state { font-weight: bold; }
#live .problem { color: #a00000; }
#live .fine { color: #006000; }
#live .when { color: #555; font-size: 0.85em; white-space: nowrap; }
#live table { width: 100%; }
#live input[type=number] { width: 5em; }
#live label { margin-right: 0.3em; }
#live button, #live input, #live select { font-size: 1em; padding: 0.2em 0.4em; }
#live :focus-visible { outline: 3px solid #1a5fb4; outline-offset: 1px; }
#live form { display: inline-flex; flex-wrap: wrap; gap: 0.3em; align-items: center; }
@media (max-width: 40em) {
  body { margin: 0.6em; }
  #live table, #live thead, #live tbody, #live tr, #live td { display: block; width: auto; }
  #live thead { position: absolute; left: -10000px; }
  #live tr { border-bottom: 1px solid #ccc; padding: 0.4em 0; }
  #live td { border: none; padding: 0.15em 0; }
  #live td[data-label]::before { content: attr(data-label) ": "; font-weight: bold; }
  #live-gateway th { display: none; }
  #stations input { width: 9em; }
}
)css";
    return style;
}

const std::string& LiveViewScript()
{
    static const std::string script = R"js("use strict";
(function () {
  const token = document.querySelector("meta[name=page-token]").content;
  const pollMilliseconds = 2000;
  const explanations = {
    InvalidRequest: "The gateway could not read the request of this page.",
    NotAnInput: "This value cannot be set.",
    InvalidValue: "The value is not valid here.",
    PageToken: "This page is out of date: reload it.",
    CrossOrigin: "The request did not come from this page.",
    Unavailable: "The gateway is shutting down."
  };
  let layout = "";
  let lastState = null;

  async function call(request, parameters) {
    const response = await fetch("/host/" + request, {
      method: "POST",
      headers: { "Content-Type": "application/json", "X-Page-Token": token },
      body: JSON.stringify(parameters || {})
    });
    let answer = {};
    try { answer = await response.json(); } catch (error) { answer = { error: "HTTP " + response.status }; }
    if (!response.ok) {
      const code = answer.error || "HTTP " + response.status;
      throw new Error((explanations[code] || "Unexpected answer from the gateway.") + " (" + code + ")");
    }
    return answer;
  }

  function element(tag, text, className) {
    const node = document.createElement(tag);
    if (text !== undefined) { node.textContent = text; }
    if (className) { node.className = className; }
    return node;
  }

  function age(time, now) {
    if (!time) { return ""; }
    const seconds = Math.max(0, Math.round((now - time) / 1000));
    const clock = new Date(time).toLocaleTimeString();
    return seconds < 90 ? clock + " (" + seconds + " s ago)" : clock + " (" + Math.round(seconds / 60) + " min ago)";
  }

  function show(entry, format) {
    if (!entry) { return "–"; }
    if (entry.words !== undefined) { return entry.words; }
    return format ? format(entry.value) : String(entry.value);
  }

  const degrees = (value) => typeof value === "number" ? value.toFixed(1) + " °C" : String(value);

  // One value with the time it last changed, in two cells of a row.
  function valueCells(row, key, label) {
    const value = element("td", "–");
    value.dataset.key = key;
    value.dataset.label = label;
    const when = element("td", "", "when");
    when.dataset.key = key + ".time";
    when.dataset.label = "changed";
    row.append(value, when);
  }

  function setForm(labelText, id, input, co, toValue, done) {
    const form = element("form");
    const label = element("label", labelText);
    label.htmlFor = id;
    input.id = id;
    const button = element("button", "Set");
    button.type = "submit";
    form.append(label, input, button);
    form.addEventListener("submit", async (event) => {
      event.preventDefault();
      try {
        for (const [target, value] of toValue()) {
          await call("set", { co: target, value: value });
        }
        status("Sent: " + labelText + (done ? " " + done() : "") + ". The page shows the value once the base station confirms it.", true);
      } catch (error) {
        status(labelText + ": " + error.message, false);
      }
    });
    return form;
  }

  function numberInput(min, max, step) {
    const input = element("input");
    input.type = "number";
    input.min = min; input.max = max; input.step = step;
    input.required = true;
    return input;
  }

  // The outcome of the last value set from the page.
  function status(text, ok) {
    const line = document.getElementById("live-result");
    line.textContent = text;
    line.className = ok ? "fine" : "problem";
  }

  function pollStatus(text, ok) {
    const line = document.getElementById("live-status");
    line.textContent = text;
    line.className = ok ? "when" : "problem";
  }

  function buildGateway(container) {
    const box = element("section");
    box.setAttribute("aria-labelledby", "live-gateway-title");
    const title = element("h3", "Gateway");
    title.id = "live-gateway-title";
    const table = element("table");
    const body = element("tbody");
    for (const [key, label] of [["gateway.led", "LED code"], ["gateway.lastError", "Last error"],
                                ["gateway.hasError", "Gateway has an error"],
                                ["gateway.stationError", "A base station reports an error"],
                                ["gateway.stationErrorText", "Last base station error"],
                                ["gateway.leavingHome", "Leaving home"], ["gateway.arrivalDate", "Arrival"],
                                ["gateway.heating", "Heating or cooling"]]) {
      const row = body.insertRow();
      row.append(element("th", label));
      valueCells(row, key, label);
    }
    table.append(body);

    const leave = element("input");
    leave.type = "checkbox";
    const date = element("input");
    date.type = "date";
    const time = element("input");
    time.type = "time";
    const leaveForm = setForm("Leaving home", "live-leaving", leave, 510, () => {
      const steps = [];
      if (leave.checked && date.value && time.value) {
        steps.push([512, date.value + "T00:00"], [514, time.value]);
      }
      steps.push([510, leave.checked ? "true" : "false"]);
      return steps;
    });
    const dateLabel = element("label", "arrival date");
    dateLabel.htmlFor = "live-arrival-date";
    date.id = "live-arrival-date";
    const timeLabel = element("label", "arrival time");
    timeLabel.htmlFor = "live-arrival-time";
    time.id = "live-arrival-time";
    leaveForm.insertBefore(timeLabel, leaveForm.lastChild);
    leaveForm.insertBefore(time, leaveForm.lastChild);
    leaveForm.insertBefore(dateLabel, timeLabel);
    leaveForm.insertBefore(date, timeLabel);

    const mode = element("select");
    for (const [value, text] of [["true", "heating"], ["false", "cooling"]]) {
      const option = element("option", text);
      option.value = value;
      mode.append(option);
    }
    const modeForm = setForm("Heating or cooling", "live-mode", mode, 516, () => [[516, mode.value]]);
    const forms = element("p");
    forms.append(leaveForm, " ", modeForm);
    box.append(title, table, forms);
    container.append(box);
  }

  function buildStation(container, station) {
    const box = element("section", undefined, "station");
    const titleId = "live-station-" + station.number;
    box.setAttribute("aria-labelledby", titleId);
    const title = element("h3", "Base station " + station.number + " · " + station.id);
    title.id = titleId;
    const state = element("p", "", "state");
    state.dataset.key = "stations." + (station.number - 1) + ".state";
    state.setAttribute("aria-live", "polite");
    box.append(title, state);

    // One table per kind of row: its caption, the name cell, its two values
    // and the form that sets the CO the row takes.
    const kinds = [
      {list: station.thermostats, path: "thermostats", caption: "Room thermostats", label: "Thermostat",
       name: (thermostat) => thermostat.number + " · " + thermostat.id,
       values: [["temperature", "Room temperature"], ["setpoint", "Setpoint"]], newValue: "New setpoint",
       input: () => numberInput(5, 35, 0.5), inputCo: (thermostat) => thermostat.setpointInput,
       formLabel: (thermostat) => "Setpoint of station " + station.number + " thermostat " + thermostat.number + " in °C",
       formId: (thermostat) => "live-setpoint-" + station.number + "-" + thermostat.number, unit: " °C"},
      {list: station.slots, path: "slots", caption: "Actor module slots", label: "Slot",
       name: (slot) => slot.number + " · actor module " + slot.actorModule,
       values: [["level", "Power level"], ["percent", "Percent"]], newValue: "New power level",
       input: () => numberInput(0, 10, 1), inputCo: (slot) => slot.levelInput,
       formLabel: (slot) => "Power level of station " + station.number + " slot " + slot.number + " (0 to 10)",
       formId: (slot) => "live-level-" + station.number + "-" + slot.number, unit: ""},
    ];
    for (const kind of kinds.filter((kind) => kind.list.length > 0)) {
      const table = element("table");
      table.createCaption().textContent = kind.caption;
      const head = table.createTHead().insertRow();
      for (const text of [kind.label, kind.values[0][1], "changed", kind.values[1][1], "changed", kind.newValue]) {
        head.append(element("th", text));
      }
      const body = table.createTBody();
      kind.list.forEach((item, index) => {
        const row = body.insertRow();
        const key = "stations." + (station.number - 1) + "." + kind.path + "." + index;
        const name = element("td", kind.name(item));
        name.dataset.label = kind.label;
        row.append(name);
        for (const [field, label] of kind.values) {
          valueCells(row, key + "." + field, label);
        }
        const input = kind.input();
        row.insertCell().append(setForm(kind.formLabel(item), kind.formId(item), input, 0,
                                        () => [[kind.inputCo(item), input.value]], () => input.value + kind.unit));
      });
      box.append(table);
    }
    container.append(box);
  }

  function lookup(state, key) {
    return key.split(".").reduce((value, part) => value === undefined || value === null ? undefined : value[part], state);
  }

  function format(key, entry) {
    if (key.endsWith("temperature") || key.endsWith("setpoint")) { return show(entry, degrees); }
    if (key.endsWith("percent")) { return show(entry, (value) => Math.round(value * 100 / 255) + " % (" + value + ")"); }
    if (key === "gateway.led") { return entry ? entry.words + " (" + entry.value + ")" : "–"; }
    if (key === "gateway.heating") { return show(entry, (value) => value ? "heating" : "cooling"); }
    if (key === "gateway.leavingHome") { return show(entry, (value) => value ? "leaving home" : "at home"); }
    if (key === "gateway.arrivalDate") {
      const time = lastState.gateway.arrivalTime;
      return show(entry, (value) => value === "none" ? "none" : value.slice(0, 10) + (time ? " " + time.value : ""));
    }
    return show(entry, (value) => value === true ? "yes" : value === false ? "no" : String(value));
  }

  function render(state) {
    lastState = state;
    const signature = JSON.stringify(state.stations.map((s) => [s.id, s.thermostats.length, s.slots.length]));
    if (signature !== layout) {
      layout = signature;
      const gateway = document.getElementById("live-gateway");
      const stations = document.getElementById("live-stations");
      gateway.textContent = "";
      stations.textContent = "";
      buildGateway(gateway);
      for (const station of state.stations) { buildStation(stations, station); }
    }
    for (const node of document.querySelectorAll("#live [data-key]")) {
      const key = node.dataset.key;
      if (key.endsWith(".time")) {
        const entry = lookup(state, key.slice(0, -5));
        node.textContent = entry ? age(entry.time, state.now) : "";
      } else if (key.endsWith(".state")) {
        const text = lookup(state, key);
        node.textContent = "State: " + text;
        node.className = "state " + (text === "no error" ? "fine" : "problem");
      } else {
        node.textContent = format(key, lookup(state, key));
      }
    }
  }

  async function poll() {
    try {
      render(await call("state"));
      pollStatus("Updated " + new Date().toLocaleTimeString() + ", every " + pollMilliseconds / 1000 + " s.", true);
    } catch (error) {
      pollStatus("No answer from the gateway: " + error.message, false);
    }
    setTimeout(poll, pollMilliseconds);
  }

  document.getElementById("live-diagnostics").addEventListener("click", async () => {
    try {
      const diagnostics = await call("diagnostics");
      const link = element("a");
      link.href = URL.createObjectURL(new Blob([JSON.stringify(diagnostics, null, 2)], { type: "application/json" }));
      link.download = "keldra-diagnostics.json";
      document.body.append(link);
      link.click();
      link.remove();
    } catch (error) {
      status("Diagnostics: " + error.message, false);
    }
  });
  poll();
})();
)js";
    return script;
}

}  // namespace Oru
