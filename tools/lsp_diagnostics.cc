#include "tools/lsp_diagnostics.h"

#include <algorithm>
#include <vector>

#include "compiler/compile.h"
#include "model/errors.h"
#include "tools/check.h"
#include "tools/lsp_features.h"

namespace compactor::lsp {

using nlohmann::json;

namespace {

// The positions of one source, made once per compile.
struct SourceLines {
  std::string path;
  std::string uri;
  std::optional<LineIndex> lines;
};

// The range of a diagnostic's field: from its byte offset over end_column - column bytes. A
// diagnostic on a line has the offset of its SourcePos (diagnostics.cc).
Range range_of(const Diagnostic& d, const SourceLines& source, PositionEncoding encoding) {
  if (d.line <= 0 || !source.lines) return Range{};
  int64_t end = d.offset + std::max(0, d.end_column - d.column);
  return Range{source.lines->position_of(d.offset, encoding),
               source.lines->position_of(end, encoding)};
}

// The source a diagnostic is about; one about no file is shown on the line source.
const SourceLines& source_of(const Diagnostic& d, const std::vector<SourceLines>& sources) {
  for (const SourceLines& s : sources) {
    if (s.path == d.file) return s;
  }
  return sources.front();
}

int severity_number(Diagnostic::Severity s) {
  switch (s) {
    case Diagnostic::Severity::kError:
      return 1;
    case Diagnostic::Severity::kWarning:
      return 2;
    case Diagnostic::Severity::kNote:
      break;
  }
  return 3;
}

json lsp_diagnostic(const Diagnostic& d, const std::vector<SourceLines>& sources,
                    PositionEncoding encoding) {
  json j = {{"range", to_json(range_of(d, source_of(d, sources), encoding))},
            {"severity", severity_number(d.severity)},
            {"source", "compactor"},
            {"message", d.message}};
  if (!d.name.empty()) {
    j["code"] = d.name;  // a warning's, or an error of the program's own
  } else if (d.severity == Diagnostic::Severity::kError) {
    j["code"] = d.code;
  }
  if (d.notes.empty()) return j;
  json related = json::array();
  for (const Diagnostic& n : d.notes) {
    const SourceLines& at = source_of(n, sources);
    related.push_back(
        {{"location", {{"uri", at.uri}, {"range", to_json(range_of(n, at, encoding))}}},
         {"message", n.message}});
  }
  j["relatedInformation"] = std::move(related);
  return j;
}

// A note that stands in the other source (where an error of the line source stopped the train
// half) is shown there too, with the error it belongs to as related information.
json note_elsewhere(const Diagnostic& note, const Diagnostic& error,
                    const std::vector<SourceLines>& sources, PositionEncoding encoding) {
  const SourceLines& at = source_of(error, sources);
  return {{"range", to_json(range_of(note, source_of(note, sources), encoding))},
          {"severity", severity_number(note.severity)},
          {"source", "compactor"},
          {"message", note.message},
          {"relatedInformation",
           {{{"location", {{"uri", at.uri}, {"range", to_json(range_of(error, at, encoding))}}},
             {"message", error.message}}}}};
}

CheckReport compile_report(ScenarioSources& sources) {
  Model m;
  m.line_id = sources.line_id;
  m.train_number = sources.train_number;
  Sources s;
  s.line = sources.line;
  s.train = sources.train;
  std::vector<Warning> warnings;
  s.warnings = &warnings;
  s.max_kept_warnings = kShownWarnings;
  PassOutcome outcome = compile_model(m, 1, s);
  CheckReport report = make_report(m, warnings, s.warnings_not_kept, s.errors_not_kept);
  if (outcome == PassOutcome::kStampsSet) add_run_error(report, kErrStampsSet);
  if (outcome == PassOutcome::kCodesSet) add_run_error(report, kErrCodesSet);
  return report;
}

}  // namespace

std::map<std::string, json> scenario_diagnostics(
    ScenarioSources& sources, PositionEncoding encoding,
    const std::function<std::string(const std::string& path)>& uri_of) {
  CheckReport report = compile_report(sources);
  std::vector<SourceLines> files;
  for (const SourceFile* f : {&sources.line, &sources.train}) {
    if (f != &sources.line && !f->bytes) continue;
    SourceLines s{f->name, uri_of(f->name), std::nullopt};
    if (f->bytes) s.lines.emplace(*f->bytes);
    files.push_back(std::move(s));
  }
  std::map<std::string, json> by_path;
  for (const SourceLines& s : files) by_path[s.path] = json::array();
  for (Diagnostic& d : report.diagnostics) {
    if (d.code == kErrNoLineSource && !sources.line_unreadable.empty()) {
      d.message = "the line source file cannot be read: " + sources.line_unreadable;
    }
    const SourceLines& at = source_of(d, files);
    by_path[at.path].push_back(lsp_diagnostic(d, files, encoding));
    for (const Diagnostic& n : d.notes) {
      const SourceLines& note_at = source_of(n, files);
      if (note_at.path == at.path || n.line <= 0) continue;
      by_path[note_at.path].push_back(note_elsewhere(n, d, files, encoding));
    }
  }
  return by_path;
}

}  // namespace compactor::lsp
