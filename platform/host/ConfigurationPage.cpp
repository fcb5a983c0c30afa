#include "ConfigurationPage.h"

#include "ConfigurationPageSecurity.h"

namespace Oru {

const std::string& ConfigurationPageHtml()
{
    static const std::string page = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Base station access</title>
<style>
  body { font-family: sans-serif; margin: 2em; max-width: 56em; }
  table { border-collapse: collapse; }
  th, td { padding: 0.3em 0.6em; border-bottom: 1px solid #ccc; text-align: left; }
  .error { color: #a00000; }
  .ok { color: #007000; }
  .fingerprint { font-family: monospace; font-size: 0.85em; word-break: break-all; }
</style>
</head>
<body>
<h1>Base station access</h1>
<p>The user name and password with which the gateway reaches each base station.
A stored password is never shown. Save with both fields empty to remove a station's credentials.</p>
<p id="status" role="status"></p>
<table>
  <thead><tr><th>Base station</th><th>User name</th><th>Password</th><th>Change</th></tr></thead>
  <tbody id="stations"></tbody>
</table>
<script>
"use strict";
const explanations = {
  RQE002: "The request could not be carried out: the credentials file is missing, unreadable or not in the expected format, or the values sent are not valid.",
  RQE003: "The change could not be stored: the credentials file could not be read or written, or it has no entry for this base station.",
  RQE004: "Enter both a user name and a password, or leave both empty to remove the credentials.",
  InvalidJson: "The gateway could not read the request of this page.",
  UnknownRequest: "The plug-in does not answer this request.",
  InternalError: "The plug-in failed while handling the request.",
  Unavailable: "The gateway is shutting down.",
  PageToken: "This page is out of date: reload it."
};

function explain(code) {
  return (explanations[code] || "Unexpected answer from the gateway.") + " (" + code + ")";
}

// The credentials file holds the password as Base64 of its UTF-8 bytes.
function base64(text) {
  let binary = "";
  for (const byte of new TextEncoder().encode(text)) {
    binary += String.fromCharCode(byte);
  }
  return btoa(binary);
}

async function call(request, parameters) {
  const response = await fetch("/api/" + request, {
    method: "POST",
    headers: { "Content-Type": "application/json",
               "X-Page-Token": document.querySelector("meta[name=page-token]").content },
    body: JSON.stringify(parameters)
  });
  let answer = {};
  try {
    answer = await response.json();
  } catch (error) {
    answer = { error: "HTTP " + response.status };
  }
  if (!response.ok) {
    throw new Error(explain(answer.error || "HTTP " + response.status));
  }
  return answer;
}

function showStatus(text, ok) {
  const status = document.getElementById("status");
  status.textContent = text;
  status.className = ok ? "ok" : "error";
}

function addStation(rows, station) {
  const row = rows.insertRow();
  row.insertCell().textContent = "Base station " + (station.index + 1);
  row.insertCell().textContent = station.username !== undefined ? station.username : "(none)";
  row.insertCell().textContent = station.credentials ? "stored" : "(none)";

  const form = document.createElement("form");
  const username = document.createElement("input");
  username.name = "username";
  username.placeholder = "user name";
  username.autocomplete = "off";
  const password = document.createElement("input");
  password.name = "password";
  password.type = "password";
  password.placeholder = "password";
  password.autocomplete = "new-password";
  const save = document.createElement("button");
  save.type = "submit";
  save.textContent = "Save";
  form.append(username, " ", password, " ", save);
  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    const parameters = { index: station.index };
    if (username.value !== "") {
      parameters.username = username.value;
    }
    if (password.value !== "") {
      parameters.credentials = base64(password.value);
    }
    try {
      await call("setBaseStationConfig", parameters);
      showStatus("Saved for base station " + (station.index + 1) + ".", true);
      await load();
    } catch (error) {
      showStatus("Base station " + (station.index + 1) + ": " + error.message, false);
    }
  });
  row.insertCell().append(form);
}

async function load() {
  const rows = document.getElementById("stations");
  let config;
  try {
    config = await call("getBaseStationConfig", {});
  } catch (error) {
    showStatus(error.message, false);
    return;
  }
  rows.textContent = "";
  for (const station of config.baseStations || []) {
    addStation(rows, station);
  }
}

)html" + ConfigurationPageSecurityScript() + R"html(
load();
</script>
</body>
</html>
)html";
    return page;
}

}  // namespace Oru
