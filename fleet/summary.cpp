#include "fleet/summary.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "engine/text.h"
#include "record/exit_status.h"
#include "record/sha256.h"

MachineState StateOf(int exitStatus, bool reportOnly) {
  switch (exitStatus) {
    case kExitNothingFound:
      return MachineState::Clean;
    case kExitRemoved:
      return reportOnly ? MachineState::NeedsAttention : MachineState::Cleaned;
    case kExitRestartNeeded:
      return MachineState::RestartPending;
    default:
      return MachineState::NeedsAttention;
  }
}

const char* StateName(MachineState state) {
  switch (state) {
    case MachineState::Clean:
      return "clean";
    case MachineState::Cleaned:
      return "cleaned";
    case MachineState::RestartPending:
      return "cleaned, restart pending";
    case MachineState::NeedsAttention:
      break;
  }
  return "needs attention";
}

FleetEntry ReadEntry(const std::string& file, const std::string& text) {
  FleetEntry entry;
  entry.file = file;
  LineBudget budget;
  budget.bytes = kShownLineBytes;
  entry.readable = ParseRecordJson(text, entry.record, entry.problem, &budget);
  entry.linesLeftOut = budget.leftOut;
  entry.state = entry.readable ? StateOf(entry.record.exitStatus, entry.record.reportOnly) : MachineState::NeedsAttention;
  // Only a machine that needs attention shows its lines.
  if (entry.state != MachineState::NeedsAttention) {
    std::vector<std::string>().swap(entry.record.lines);
    entry.linesLeftOut = 0;
  }
  return entry;
}

FleetEntry UnreadableEntry(const std::string& file, const std::string& problem) {
  FleetEntry entry;
  entry.file = file;
  entry.problem = problem;
  return entry;
}

namespace {

// A name as Windows compares computer names (ASCII case aside).
std::string Key(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

void MarkSameComputer(std::vector<FleetEntry>& entries) {
  std::map<std::string, std::vector<size_t>> byName;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].readable) byName[Key(entries[i].record.computer)].push_back(i);
  }
  constexpr size_t kNamedOthers = 3;
  for (auto& named : byName) {
    std::vector<size_t>& group = named.second;
    if (group.size() < 2) continue;
    std::sort(group.begin(), group.end(), [&](size_t a, size_t b) { return entries[a].file < entries[b].file; });
    for (const size_t i : group) {
      entries[i].state = MachineState::NeedsAttention;
      for (const size_t other : group) {
        if (other == i) continue;
        if (entries[i].sameComputer.size() < kNamedOthers) {
          entries[i].sameComputer.push_back(entries[other].file);
        } else {
          ++entries[i].sameComputerMore;
        }
      }
    }
  }
}

std::vector<std::string> ParseExpectedMachines(const std::string& text) {
  std::vector<std::string> names;
  size_t start = 0;
  // A byte-order mark, as some exports begin.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string name = text.substr(start, end - start);
    start = end + 1;
    const size_t first = name.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    name = name.substr(first, name.find_last_not_of(" \t\r") - first + 1);
    names.push_back(name);
  }
  return names;
}

void MatchExpectedMachines(std::vector<FleetEntry>& entries, const std::vector<std::string>& expected) {
  // Each record by its computer's name: a fleet's list against a fleet's
  // records is a look-up a name, not a pass over all of them.
  std::map<std::string, std::vector<size_t>> byName;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].readable) byName[Key(entries[i].record.computer)].push_back(i);
  }
  std::vector<bool> named(entries.size(), false);
  std::set<std::string> listed;
  std::vector<FleetEntry> missing;
  for (const std::string& name : expected) {
    const std::string full = Key(name);
    if (!listed.insert(full).second) continue;  // listed twice: one machine
    bool found = false;
    for (const std::string& key : {full, full.substr(0, full.find('.'))}) {
      const auto records = byName.find(key);
      if (records == byName.end()) continue;
      for (const size_t i : records->second) named[i] = true;
      found = true;
    }
    if (found) continue;
    FleetEntry entry;
    entry.missing = true;
    entry.record.computer = name;
    missing.push_back(entry);
  }
  for (size_t i = 0; i < entries.size(); ++i) entries[i].unexpected = entries[i].readable && !named[i];
  entries.insert(entries.end(), missing.begin(), missing.end());
}

namespace {

std::string Name(const FleetEntry& e) { return e.readable || e.missing ? e.record.computer : e.file; }

int Severity(MachineState state) { return static_cast<int>(state); }

}  // namespace

void SortEntries(std::vector<FleetEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const FleetEntry& a, const FleetEntry& b) {
    if (a.state != b.state) return Severity(a.state) < Severity(b.state);
    return Name(a) < Name(b);
  });
}

bool AnyNeedsAttention(const std::vector<FleetEntry>& entries) {
  return std::any_of(entries.begin(), entries.end(),
                     [](const FleetEntry& e) { return e.state == MachineState::NeedsAttention; });
}

namespace {

// What else there is to say of a readable record, after its counts.
std::string Notes(const FleetEntry& e) {
  std::string notes;
  if (!e.sameComputer.empty()) {
    notes += "record " + e.file + ", and ";
    for (size_t i = 0; i < e.sameComputer.size(); ++i) notes += (i == 0 ? "" : ", ") + e.sameComputer[i];
    if (e.sameComputerMore > 0) notes += " and " + std::to_string(e.sameComputerMore) + " more";
    notes += e.sameComputer.size() + e.sameComputerMore == 1 ? " names the same computer" : " name the same computer";
  }
  if (e.unexpected) notes += std::string(notes.empty() ? "" : "; ") + "not on the list of expected machines";
  return notes;
}

std::string Detail(const FleetEntry& e) {
  if (e.missing) return "no record";
  if (!e.readable) return "unreadable record: " + e.problem;
  char counts[200];
  std::snprintf(counts, sizeof counts, "exit %d%s, %d scanned, %d infected, %d deleted, %d queued%s, %d services removed",
                e.record.exitStatus, e.record.reportOnly ? " (report only)" : "", e.record.filesScanned,
                e.record.filesInfected, e.record.filesDeleted, e.record.filesQueued,
                e.record.registryRepaired ? ", registry repaired" : "", e.record.servicesRemoved);
  const std::string notes = Notes(e);
  return counts + (notes.empty() ? notes : "; " + notes);
}

std::string Totals(const std::vector<FleetEntry>& entries) {
  int counts[4] = {};
  int missing = 0, unexpected = 0;
  for (const FleetEntry& e : entries) {
    ++counts[Severity(e.state)];
    missing += e.missing ? 1 : 0;
    unexpected += e.unexpected ? 1 : 0;
  }
  char totals[300];
  std::snprintf(totals, sizeof totals,
                "%zu machines: %d clean, %d cleaned, %d cleaned but restart pending, %d need attention",
                entries.size(), counts[Severity(MachineState::Clean)], counts[Severity(MachineState::Cleaned)],
                counts[Severity(MachineState::RestartPending)], counts[Severity(MachineState::NeedsAttention)]);
  std::string text = totals;
  if (missing > 0) text += " (" + std::to_string(missing) + " without a record)";
  if (unexpected > 0) text += "; " + std::to_string(unexpected) + " records of machines not on the list";
  return text;
}

// One cell: escaped as the text output escapes (no control byte or broken
// UTF-8 reaches the spreadsheet), and a cell a spreadsheet would take for a
// formula kept as text.
std::string CsvField(const std::string& text) {
  const std::string shown = EscapeForUtf8Terminal(text);
  std::string field = "\"";
  if (!shown.empty() && std::string("=+-@\t\r").find(shown[0]) != std::string::npos) field += '\'';
  for (const char c : shown) field += c == '"' ? std::string("\"\"") : std::string(1, c);
  return field + "\"";
}

// Text for the page: escaped for a terminal first (the page shows no
// control character either), then for HTML.
std::string Html(const std::string& text) {
  std::string html;
  for (const char c : EscapeForUtf8Terminal(text)) {
    switch (c) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '"': html += "&quot;"; break;
      case '\'': html += "&#39;"; break;
      default: html += c;
    }
  }
  return html;
}

}  // namespace

std::string SummaryText(const std::vector<FleetEntry>& entries) {
  std::string text;
  for (const FleetEntry& e : entries) {
    text += EscapeForUtf8Terminal(Name(e)) + "     " + StateName(e.state) + "     " + EscapeForUtf8Terminal(Detail(e)) +
            "\n";
  }
  return text + Totals(entries) + "\n";
}

std::string SummaryCsv(const std::vector<FleetEntry>& entries) {
  std::string csv = "computer,state,exit status,report only,scanned,infected,deleted,queued,registry repaired,"
                    "services removed,windows,started,ended,problem,record\r\n";
  for (const FleetEntry& e : entries) {
    const ScanRecord& r = e.record;
    const std::string problem = e.missing ? "no record" : e.readable ? Notes(e) : e.problem;
    csv += CsvField(Name(e)) + "," + CsvField(StateName(e.state)) + "," +
           (e.readable ? std::to_string(r.exitStatus) + "," + (r.reportOnly ? "yes" : "no") + "," +
                             std::to_string(r.filesScanned) + "," + std::to_string(r.filesInfected) + "," +
                             std::to_string(r.filesDeleted) + "," + std::to_string(r.filesQueued) + "," +
                             (r.registryRepaired ? "yes" : "no") + "," + std::to_string(r.servicesRemoved)
                       : std::string(",,,,,,,")) +
           "," + CsvField(r.windows) + "," + CsvField(r.started) + "," + CsvField(r.ended) + "," + CsvField(problem) +
           "," + CsvField(e.file) + "\r\n";
  }
  return csv;
}

namespace {

// The page's own style and script: the only ones its Content-Security-Policy
// allows (by their SHA-256), so that text slipping past the escaping could
// neither run script nor load anything.
constexpr char kStyle[] =
    "body{font-family:sans-serif;margin:1em}table{border-collapse:collapse}"
    "th,td{border:1px solid #999;padding:2px 6px;vertical-align:top}"
    "th{background:#eee;cursor:pointer;white-space:nowrap}th button{font:inherit;border:0;background:none;padding:0;cursor:pointer}td.t{white-space:nowrap}"
    "th[aria-sort=ascending]::after{content:\" \\25B2\"}th[aria-sort=descending]::after{content:\" \\25BC\"}"
    "td.n{text-align:right}.attention{background:#fdd}.restart{background:#ffd}"
    "pre{margin:0;white-space:pre-wrap;max-width:60em}";

constexpr char kScript[] =
    "(function () {\n"
    "  var table = document.getElementById('fleet');\n"
    "  var heads = table.tHead.rows[0].cells;\n"
    "  Array.prototype.forEach.call(heads, function (th, column) {\n"
    "    th.addEventListener('click', function () {\n"
    "      var ascending = th.getAttribute('aria-sort') !== 'ascending';\n"
    "      Array.prototype.forEach.call(heads, function (h) { h.removeAttribute('aria-sort'); });\n"
    "      th.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');\n"
    "      var numeric = th.getAttribute('data-type') === 'number';\n"
    "      var key = function (row) {\n"
    "        var cell = row.cells[column], value = cell.getAttribute('data-sort');\n"
    "        if (value === null) value = cell.textContent;\n"
    "        return numeric ? Number(value) : value.toLowerCase();\n"
    "      };\n"
    "      var body = table.tBodies[0];\n"
    "      var rows = Array.prototype.slice.call(body.rows);\n"
    "      rows.sort(function (a, b) {\n"
    "        var x = key(a), y = key(b);\n"
    "        return (x < y ? -1 : x > y ? 1 : 0) * (ascending ? 1 : -1);\n"
    "      });\n"
    "      rows.forEach(function (row) { body.appendChild(row); });\n"
    "    });\n"
    "  });\n"
    "})();\n";

std::string NumberCell(bool known, int value) {
  if (!known) return "<td class=\"n\" data-sort=\"-1\"></td>";
  return "<td class=\"n\">" + std::to_string(value) + "</td>";
}

std::string DetailCell(const FleetEntry& e) {
  std::string cell = "<td>" + Html(Detail(e));
  if (!e.record.lines.empty()) {
    const size_t total = e.record.lines.size() + e.linesLeftOut;
    cell += "<details><summary>Result lines (" + std::to_string(total) + ")</summary><pre>";
    for (const std::string& line : e.record.lines) cell += Html(line) + "\n";
    if (e.linesLeftOut > 0) cell += Html("... " + std::to_string(e.linesLeftOut) + " more lines in the record") + "\n";
    cell += "</pre></details>";
  }
  return cell + "</td>";
}

}  // namespace

bool WriteSummaryHtml(const std::vector<FleetEntry>& entries, const HtmlWriter& write) {
  std::string html = std::string(
                         "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
                         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                         "script-src 'sha256-") +
                     Sha256Base64(kScript) + "'; style-src 'sha256-" + Sha256Base64(kStyle) +
                     "'; base-uri 'none'; form-action 'none'\">\n"
                     "<title>Scourix: the fleet</title>\n<style>" +
                     kStyle +
                     "</style>\n</head><body>\n<h1>Scourix: the fleet</h1>\n<p id=\"totals\">" + Html(Totals(entries)) +
                     "</p>\n<table id=\"fleet\"><thead><tr>"
                     "<th><button type=\"button\">Computer</button></th>"
                     "<th data-type=\"number\"><button type=\"button\">State</button></th>"
                     "<th data-type=\"number\"><button type=\"button\">Scanned</button></th>"
                     "<th data-type=\"number\"><button type=\"button\">Infected</button></th>"
                     "<th data-type=\"number\"><button type=\"button\">Deleted</button></th>"
                     "<th data-type=\"number\"><button type=\"button\">Queued</button></th>"
                     "<th><button type=\"button\">Windows</button></th>"
                     "<th><button type=\"button\">Ended</button></th>"
                     "<th><button type=\"button\">Record</button></th>"
                     "<th><button type=\"button\">Details</button></th>"
                     "</tr></thead><tbody>\n";
  // A row at a time: the page of a large fleet is never held whole.
  if (!write(html)) return false;
  for (const FleetEntry& e : entries) {
    const char* row = e.state == MachineState::NeedsAttention   ? " class=\"attention\""
                      : e.state == MachineState::RestartPending ? " class=\"restart\""
                                                                : "";
    const ScanRecord& r = e.record;
    html = std::string("<tr") + row + "><td>" + Html(Name(e)) + "</td><td data-sort=\"" +
            std::to_string(Severity(e.state)) + "\">" + StateName(e.state) + "</td>" +
            NumberCell(e.readable, r.filesScanned) + NumberCell(e.readable, r.filesInfected) +
            NumberCell(e.readable, r.filesDeleted) + NumberCell(e.readable, r.filesQueued) + "<td title=\"" +
            Html(r.windows) + "\">" + Html(WindowsName(r.windows)) + "</td><td class=\"t\">" + Html(r.ended) + "</td><td>" +
            Html(e.file) + "</td>" + DetailCell(e) + "</tr>\n";
    if (!write(html)) return false;
  }
  return write("</tbody></table>\n<script>" + std::string(kScript) + "</script>\n</body></html>\n");
}

std::string SummaryHtml(const std::vector<FleetEntry>& entries) {
  std::string html;
  WriteSummaryHtml(entries, [&](const std::string& part) {
    html += part;
    return true;
  });
  return html;
}

namespace {

struct KnownWindows {
  const char* version;  // major.minor, or "" for any (build numbers of Windows 10 and 11)
  int build;
  const char* name;
};

// From Microsoft's release information for each version (the build numbers
// of the release and of its service packs, which keep the build).
constexpr KnownWindows kKnownWindows[] = {
    {"4.0", 950, "Windows 95"},
    {"4.0", 1111, "Windows 95 OSR2"},
    {"4.10", 1998, "Windows 98"},
    {"4.10", 2222, "Windows 98 SE"},
    {"4.90", 3000, "Windows Me"},
    {"4.0", 1381, "Windows NT 4.0"},
    {"5.0", 2195, "Windows 2000"},
    {"5.1", 2600, "Windows XP"},
    {"5.2", 3790, "Windows XP x64 / Server 2003"},
    {"6.0", 6000, "Windows Vista"},
    {"6.0", 6001, "Windows Vista"},
    {"6.0", 6002, "Windows Vista"},
    {"6.1", 7600, "Windows 7"},
    {"6.1", 7601, "Windows 7"},
    {"6.2", 9200, "Windows 8"},
    {"6.3", 9600, "Windows 8.1"},
    {"", 10240, "Windows 10 1507"},
    {"", 10586, "Windows 10 1511"},
    {"", 14393, "Windows 10 1607"},
    {"", 15063, "Windows 10 1703"},
    {"", 16299, "Windows 10 1709"},
    {"", 17134, "Windows 10 1803"},
    {"", 17763, "Windows 10 1809"},
    {"", 18362, "Windows 10 1903"},
    {"", 18363, "Windows 10 1909"},
    {"", 19041, "Windows 10 2004"},
    {"", 19042, "Windows 10 20H2"},
    {"", 19043, "Windows 10 21H1"},
    {"", 19044, "Windows 10 21H2"},
    {"", 19045, "Windows 10 22H2"},
    {"", 22000, "Windows 11 21H2"},
    {"", 22621, "Windows 11 22H2"},
    {"", 22631, "Windows 11 23H2"},
    {"", 26100, "Windows 11 24H2"},
};

}  // namespace

std::string WindowsName(const std::string& version) {
  // major.minor.build, then what the system says of its service pack.
  const size_t firstDot = version.find('.');
  const size_t secondDot = firstDot == std::string::npos ? firstDot : version.find('.', firstDot + 1);
  if (secondDot == std::string::npos) return version;
  size_t end = secondDot + 1;
  while (end < version.size() && end - secondDot <= 6 && std::isdigit(static_cast<unsigned char>(version[end]))) ++end;
  if (end == secondDot + 1 || end - secondDot > 6) return version;
  const std::string majorMinor = version.substr(0, secondDot);
  const int build = std::stoi(version.substr(secondDot + 1, end - secondDot - 1));
  for (const KnownWindows& known : kKnownWindows) {
    if (known.build != build || (known.version[0] != '\0' && majorMinor != known.version)) continue;
    std::string name = known.name;
    const std::string rest = version.substr(end);
    const size_t pack = rest.find("Service Pack ");
    if (pack != std::string::npos) {
      const size_t number = pack + 13;
      size_t digits = number;
      while (digits < rest.size() && digits - number < 2 && std::isdigit(static_cast<unsigned char>(rest[digits]))) {
        ++digits;
      }
      if (digits > number) name += " SP" + rest.substr(number, digits - number);
    }
    return name;
  }
  return version;
}
