#include "fleet/summary.h"

#include <algorithm>
#include <cstdio>

#include "engine/text.h"

MachineState StateOf(int exitStatus, bool reportOnly) {
  switch (exitStatus) {
    case 0:
      return MachineState::Clean;
    case 1:
      return reportOnly ? MachineState::NeedsAttention : MachineState::Cleaned;
    case 3010:
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
  entry.readable = ParseRecordJson(text, entry.record, entry.problem);
  entry.state = entry.readable ? StateOf(entry.record.exitStatus, entry.record.reportOnly) : MachineState::NeedsAttention;
  return entry;
}

void SortEntries(std::vector<FleetEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const FleetEntry& a, const FleetEntry& b) {
    if (a.state != b.state) return a.state < b.state;
    const std::string& left = a.readable ? a.record.computer : a.file;
    const std::string& right = b.readable ? b.record.computer : b.file;
    return left < right;
  });
}

bool AnyNeedsAttention(const std::vector<FleetEntry>& entries) {
  return std::any_of(entries.begin(), entries.end(),
                     [](const FleetEntry& e) { return e.state == MachineState::NeedsAttention; });
}

namespace {

std::string Name(const FleetEntry& e) { return e.readable ? e.record.computer : e.file; }

std::string Detail(const FleetEntry& e) {
  if (!e.readable) return "unreadable record: " + e.problem;
  char counts[200];
  std::snprintf(counts, sizeof counts, "exit %d%s, %d scanned, %d infected, %d deleted, %d queued%s, %d services removed",
                e.record.exitStatus, e.record.reportOnly ? " (report only)" : "", e.record.filesScanned,
                e.record.filesInfected, e.record.filesDeleted, e.record.filesQueued,
                e.record.registryRepaired ? ", registry repaired" : "", e.record.servicesRemoved);
  return counts;
}

std::string Totals(const std::vector<FleetEntry>& entries) {
  int counts[4] = {};
  for (const FleetEntry& e : entries) ++counts[static_cast<int>(e.state)];
  char totals[200];
  std::snprintf(totals, sizeof totals,
                "%zu machines: %d clean, %d cleaned, %d cleaned but restart pending, %d need attention",
                entries.size(), counts[static_cast<int>(MachineState::Clean)],
                counts[static_cast<int>(MachineState::Cleaned)], counts[static_cast<int>(MachineState::RestartPending)],
                counts[static_cast<int>(MachineState::NeedsAttention)]);
  return totals;
}

std::string CsvField(const std::string& text) {
  std::string field = "\"";
  for (const char c : text) field += c == '"' ? std::string("\"\"") : std::string(1, c);
  // A leading =, +, - or @ would make a spreadsheet run it as a formula.
  if (!text.empty() && std::string("=+-@").find(text[0]) != std::string::npos) field.insert(1, "'");
  return field + "\"";
}

std::string Html(const std::string& text) {
  std::string html;
  for (const char c : text) {
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
                    "services removed,windows,started,ended,problem\r\n";
  for (const FleetEntry& e : entries) {
    const ScanRecord& r = e.record;
    csv += CsvField(Name(e)) + "," + CsvField(StateName(e.state)) + "," +
           (e.readable ? std::to_string(r.exitStatus) + "," + (r.reportOnly ? "yes" : "no") + "," +
                             std::to_string(r.filesScanned) + "," + std::to_string(r.filesInfected) + "," +
                             std::to_string(r.filesDeleted) + "," + std::to_string(r.filesQueued) + "," +
                             (r.registryRepaired ? "yes" : "no") + "," + std::to_string(r.servicesRemoved)
                       : std::string(",,,,,,,")) +
           "," + CsvField(r.windows) + "," + CsvField(r.started) + "," + CsvField(r.ended) + "," +
           CsvField(e.problem) + "\r\n";
  }
  return csv;
}

std::string SummaryHtml(const std::vector<FleetEntry>& entries) {
  std::string html =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Scourix: the fleet</title>\n"
      "<style>body{font-family:sans-serif}table{border-collapse:collapse}th,td{border:1px solid #999;"
      "padding:2px 6px}th{cursor:pointer;background:#eee}.attention{background:#fdd}.restart{background:#ffd}"
      "</style>\n</head><body>\n<h1>Scourix: the fleet</h1>\n<p>" +
      Html(Totals(entries)) +
      "</p>\n<table id=\"fleet\"><thead><tr><th>Computer</th><th>State</th><th>Details</th><th>Windows</th>"
      "<th>Ended</th></tr></thead><tbody>\n";
  for (const FleetEntry& e : entries) {
    const char* row = e.state == MachineState::NeedsAttention ? " class=\"attention\""
                      : e.state == MachineState::RestartPending ? " class=\"restart\""
                                                                 : "";
    html += std::string("<tr") + row + "><td>" + Html(Name(e)) + "</td><td>" + StateName(e.state) + "</td><td>" +
            Html(Detail(e)) + "</td><td>" + Html(e.record.windows) + "</td><td>" + Html(e.record.ended) +
            "</td></tr>\n";
  }
  // Sorting by a column's header, with no script from elsewhere.
  html += "</tbody></table>\n<script>\n"
          "document.querySelectorAll('#fleet th').forEach(function(th, column) {\n"
          "  th.addEventListener('click', function() {\n"
          "    var body = document.querySelector('#fleet tbody');\n"
          "    var rows = Array.prototype.slice.call(body.rows);\n"
          "    var down = th.dataset.down !== 'true'; th.dataset.down = down;\n"
          "    rows.sort(function(a, b) { var x = a.cells[column].textContent, y = b.cells[column].textContent;\n"
          "      return (x < y ? -1 : x > y ? 1 : 0) * (down ? 1 : -1); });\n"
          "    rows.forEach(function(r) { body.appendChild(r); });\n"
          "  });\n"
          "});\n</script>\n</body></html>\n";
  return html;
}
