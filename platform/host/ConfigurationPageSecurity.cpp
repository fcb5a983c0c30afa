#include "ConfigurationPageSecurity.h"

namespace Oru {

const std::string& ConfigurationPageSecurityScript()
{
    static const std::string script = R"js(
// A section of its own after the credentials table, made once.
function securitySection(id, title, text) {
  let section = document.getElementById(id);
  if (!section) {
    section = document.createElement("section");
    section.id = id;
    const heading = document.createElement("h2");
    heading.textContent = title;
    const explanation = document.createElement("p");
    explanation.textContent = text;
    const content = document.createElement("div");
    content.className = "content";
    section.append(heading, explanation, content);
    document.body.append(section);
  }
  const content = section.querySelector(".content");
  content.textContent = "";
  return content;
}

async function loadStationKeys() {
  const content = securitySection("station-keys", "Base station identity",
    "The gateway trusts the key each base station showed at its first contact and sends credentials only to " +
    "a station that shows the same key. A station that was reset or got new firmware may show a new key: " +
    "accept it only if you know why it changed.");
  let answer;
  try {
    answer = await call("getStationKeys", {});
  } catch (error) {
    content.textContent = error.message;
    return;
  }
  const stations = answer.stations || [];
  if (stations.length === 0) {
    content.textContent = "No base station has been contacted yet.";
    return;
  }
  const table = document.createElement("table");
  table.createTHead().insertRow().append(...["Station ID", "Trusted key (SHA-256)", "Presented now"].map((text) => {
    const cell = document.createElement("th");
    cell.textContent = text;
    return cell;
  }));
  const rows = table.createTBody();
  rows.id = "station-key-rows";
  for (const station of stations) {
    const row = rows.insertRow();
    row.insertCell().textContent = station.stationId;
    const trusted = row.insertCell();
    trusted.textContent = station.fingerprint;
    trusted.className = "fingerprint";
    const presented = row.insertCell();
    if (station.presented === undefined) {
      presented.textContent = "the trusted key";
      continue;
    }
    const warning = document.createElement("div");
    warning.className = "error fingerprint";
    warning.textContent = "Another key: " + station.presented;
    const accept = document.createElement("button");
    accept.type = "button";
    accept.textContent = "Accept the new key";
    accept.addEventListener("click", async () => {
      try {
        await call("acceptStationKey", { stationId: station.stationId, fingerprint: station.presented });
        showStatus("The new key of base station " + station.stationId + " is trusted.", true);
      } catch (error) {
        showStatus("Base station " + station.stationId + ": " + error.message, false);
      }
      await loadStationKeys();
    });
    presented.append(warning, accept);
  }
  content.append(table);
}

async function loadCredentialsFile() {
  const content = securitySection("credentials-file", "Credentials file", "");
  let answer;
  try {
    answer = await call("getBaseStationConfigFile", {});
  } catch (error) {
    content.textContent = error.message;
    return;
  }
  if (answer.problem === undefined) {
    content.textContent = "The credentials file is in order.";
    return;
  }
  const problem = document.createElement("p");
  problem.className = "error";
  problem.id = "credentials-file-problem";
  problem.textContent = "The plug-in cannot use the credentials file: " + answer.problem + ".";
  const reset = document.createElement("button");
  reset.type = "button";
  reset.textContent = "Start a fresh file";
  reset.addEventListener("click", async () => {
    try {
      const result = await call("resetBaseStationConfig", {});
      showStatus("Started a fresh credentials file; the old one is kept as " + result.keptAs + ".", true);
    } catch (error) {
      showStatus("Credentials file: " + error.message, false);
    }
    await load();
    await loadCredentialsFile();
  });
  const note = document.createElement("p");
  note.textContent = "A fresh file has no credentials: enter them again above. The old file is kept beside it.";
  content.append(problem, note, reset);
}

loadStationKeys();
loadCredentialsFile();
)js";
    return script;
}

}  // namespace Oru
