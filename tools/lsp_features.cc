#include "tools/lsp_features.h"

#include <optional>

#include "compiler/cells.h"
#include "syntax/source_format.h"
#include "tools/source_fixes.h"

namespace compactor::lsp {

using nlohmann::json;

namespace {

// --- Hover -------------------------------------------------------------------------------------

const char* section_phrase(RecordSection section) {
  switch (section) {
    case RecordSection::kLineGeneral:
      return "the general section of the line source";
    case RecordSection::kLineFeatures:
      return "the feature part of the line source";
    case RecordSection::kTrain:
      break;
  }
  return "the train source";
}

std::string type_phrase(FieldType type) {
  switch (type) {
    case FieldType::kText:
      return "A text, up to the next comma or the line end.";
    case FieldType::kInt16:
      return "A whole number of 16 bits: -32768 to 32767.";
    case FieldType::kUint8:
      return "A whole number from 0 to 255.";
    case FieldType::kInt32:
      break;
  }
  return "A whole number of 32 bits: -2147483648 to 2147483647.";
}

// The fields of a kind as a record line: "montagna, start, end, tunnel type".
std::string record_line(const RecordKind& kind) {
  std::string line = kind.keyword;
  for (const FieldDescription& f : kind.fields) line += std::string(", ") + f.name;
  return line;
}

// How a position of metres becomes a cell of the grid (a field whose target has a rule).
const char* rule_text(CellRule rule) {
  switch (rule) {
    case CellRule::kAt:
      return "P / 50, the rule of gradients, code points, speed and adhesion changes and tunnel "
             "starts";
    case CellRule::kAfter:
      return "P / 50 + 1, the rule of boards, signals and slow-order points";
    case CellRule::kBefore:
    case CellRule::kNone:
      break;
  }
  return "P / 50 - 1, the rule of tunnel ends and station stop marks";
}

std::string with_thousands(int64_t v) {
  std::string digits = std::to_string(v < 0 ? -v : v);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return v < 0 ? "-" + out : out;
}

// A field's value when it is a whole number of at most 12 digits, as the compile reads one.
std::optional<int64_t> number_of(std::string_view s) {
  bool negative = !s.empty() && s[0] == '-';
  std::string_view digits = negative ? s.substr(1) : s;
  if (digits.empty() || digits.size() > 12) return std::nullopt;
  int64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return negative ? -v : v;
}

// The cells a slow order's length and start place beyond the start cell.
std::string slow_order_cells(const std::string& field,
                             const std::vector<std::string_view>& values) {
  std::optional<int64_t> x = values.empty() ? std::nullopt : number_of(values[0]);
  if (!x) return "";
  if (field == "x") {
    if (*x <= 1500) return "\n\nNo warning board: the slow order starts within 1500 m.";
    return "\n\nWarning board: " + cell_text(cell_after(*x - 1200)) + " ((x - 1200) / 50 + 1).";
  }
  std::optional<int64_t> l = values.size() > 2 ? number_of(values[2]) : std::nullopt;
  if (field != "l" || !l) return "";
  return "\n\nThe slow order's end cell: " + cell_text(cell_after(*x + *l)) +
         " ((x + l) / 50 + 1).";
}

// Where a field of metres places its record in the grid, or "".
std::string placement(const RecordKind& kind, const FieldDescription& described,
                      std::string_view value, const std::vector<std::string_view>& values) {
  std::string text;
  std::optional<int64_t> p = number_of(value);
  const FieldTarget& target = described.target;
  if (target.rule != CellRule::kNone) {
    if (!p) return "\n\nNot a whole number: the compile cannot read it.";
    text = "\n\n" + cell_text(cell_by_rule(*p, target.rule)) + ": " + target.what + ", " +
           rule_text(target.rule) + ".";
    if (*p % 50 != 0) {
      text +=
          " " + with_thousands(*p) + " m is not a multiple of 50 m: it goes into the nearest cell.";
    }
  }
  if (kind.id == KindId::kSlowOrder) text += slow_order_cells(described.name, values);
  return text;
}

// --- Completion --------------------------------------------------------------------------------

// A snippet placeholder's text: "$", "}" and "\" are escaped.
std::string placeholder(const char* name) {
  std::string out;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c == '$' || *c == '}' || *c == '\\') out.push_back('\\');
    out.push_back(*c);
  }
  return out;
}

// The keyword of a snippet, and how many tab stops it takes: a curve's side and class and a
// signal repetition's number of codes are chosen in the keyword itself.
std::string snippet_keyword(const RecordKind& kind, int& stops) {
  if (kind.id == KindId::kCurve) {
    stops = 2;
    return std::string(kind.keyword) + "${1|d,s|}${2|1,2,3,4,5,6|}";
  }
  if (kind.id == KindId::kSignalRepetition) {
    stops = 1;
    return std::string(kind.keyword) + " ${1|9,4|} codici";
  }
  stops = 0;
  return kind.keyword;
}

// The record with each field's name where its value goes, for a client that takes no snippets:
// the curve's side and class and the signal repetition's number of codes as the first choice.
std::string plain_template(const RecordKind& kind) {
  std::string text = kind.keyword;
  if (kind.id == KindId::kCurve) text += "d1";
  if (kind.id == KindId::kSignalRepetition) text += " 9 codici";
  for (const FieldDescription& f : kind.fields) text.append(", ").append(f.name);
  return text;
}

std::string snippet(const RecordKind& kind) {
  int stop = 0;
  std::string text = snippet_keyword(kind, stop);
  for (const FieldDescription& f : kind.fields) {
    text += ", ${" + std::to_string(++stop) + ":" + placeholder(f.name) + "}";
  }
  return text;
}

// The section headers that the sources written by `compactor sources` use.
constexpr const char* kLineHeaders[] = {"generale", "curve",       "pendenze", "montagne",
                                        "cartelli", "indicazioni", "fine"};
constexpr const char* kTrainHeaders[] = {"generale",      "aderenze", "vel_limite", "stazioni",
                                         "rallentamenti", "segnali",  "codici",     "fine"};

json section_items(const DocumentView& doc, const Range& replaced) {
  json items = json::array();
  auto add = [&](const char* name) {
    std::string label = std::string("[") + name + "]";
    items.push_back({{"label", label},
                     {"kind", 22},  // struct: a section
                     {"textEdit", {{"range", to_json(replaced)}, {"newText", label}}}});
  };
  if (doc.outline.kind == SourceKind::kTrain) {
    for (const char* h : kTrainHeaders) add(h);
  } else {
    for (const char* h : kLineHeaders) add(h);
  }
  return items;
}

json keyword_items(RecordSection section, const Range& replaced, bool snippets) {
  json items = json::array();
  for (const RecordKind& kind : record_kinds()) {
    if (kind.section != section) continue;
    json item = {{"label", kind.keyword},
                 {"kind", 14},  // keyword
                 {"detail", kind.meaning},
                 {"documentation", {{"kind", "markdown"}, {"value", describe_keyword(kind)}}}};
    std::string text = snippets ? snippet(kind) : plain_template(kind);
    item["textEdit"] = {{"range", to_json(replaced)}, {"newText", text}};
    item["insertTextFormat"] = snippets ? 2 : 1;
    items.push_back(std::move(item));
  }
  return items;
}

// --- Symbols -----------------------------------------------------------------------------------

Range range_of(const DocumentView& doc, int64_t start, int64_t end) {
  return Range{doc.lines.position_of(start, doc.encoding),
               doc.lines.position_of(end, doc.encoding)};
}

std::string field_or(const DocumentView& doc, const OutlineRecord& r, size_t i, const char* none) {
  if (i >= r.fields.size() || r.fields[i].end == r.fields[i].start) return none;
  return std::string(span_text(doc.text, r.fields[i]));
}

// The symbol of an outlined record, or null for a kind the outline does not list.
json record_symbol(const DocumentView& doc, const OutlineRecord& r) {
  const std::string keyword = r.kind->keyword;
  const KindId id = r.kind->id;
  std::string name;
  int kind = 0;
  Span selected = r.keyword;
  if (id == KindId::kStation) {
    name = field_or(doc, r, 16, "");
    if (r.fields.size() > 16 && !name.empty()) selected = r.fields[16];
    if (name.empty()) name = keyword + " at " + field_or(doc, r, 0, "?") + " m";
    kind = 23;  // struct
  } else if (id == KindId::kTunnel) {
    name = keyword + " " + field_or(doc, r, 0, "?") + " to " + field_or(doc, r, 1, "?") + " m";
    kind = 2;  // module
  } else if (id == KindId::kSlowOrder) {
    name = keyword + " at " + field_or(doc, r, 0, "?") + " m, " + field_or(doc, r, 1, "?") +
           " km/h over " + field_or(doc, r, 2, "?") + " m";
    kind = 25;  // operator
  } else if (id == KindId::kSignal) {
    name = keyword + " at " + field_or(doc, r, 0, "?") + " m";
    kind = 24;  // event
  } else {
    return nullptr;
  }
  return {
      {"name", name},
      {"detail", id == KindId::kStation ? keyword + " at " + field_or(doc, r, 0, "?") + " m" : ""},
      {"kind", kind},
      {"range", to_json(range_of(doc, r.keyword.start, r.end()))},
      {"selectionRange", to_json(range_of(doc, selected.start, selected.end))}};
}

// --- Code actions ------------------------------------------------------------------------------

bool overlaps(const Span& s, int64_t start, int64_t end) {
  return s.start <= end && s.end >= start;
}

// Of a diagnostic the editor sends back, the members this server's own diagnostics carry; the
// rest (its "data", say) is the editor's and is not sent back.
constexpr const char* kDiagnosticMembers[] = {"range",  "severity", "code",
                                              "source", "message",  "relatedInformation"};

// The diagnostics of the request's context that the action fixes: those named `name` that start
// where `at` does (any place when `at` is null).
json fixed_diagnostics(const json& context, const std::string& name, const json& at) {
  json fixed = json::array();
  if (!context.is_object() || !context.contains("diagnostics")) return fixed;
  for (const json& d : context["diagnostics"]) {
    if (!d.is_object() || d.value("code", json()) != name) continue;
    if (!at.is_null() && d.value("range", json()).value("start", json()) != at) continue;
    json kept = json::object();
    for (const char* member : kDiagnosticMembers) {
      if (d.contains(member)) kept[member] = d[member];
    }
    fixed.push_back(std::move(kept));
  }
  return fixed;
}

// Whether the request's "only" allows quick fixes.
bool wants_quick_fixes(const json& context) {
  if (!context.is_object() || !context.contains("only")) return true;
  for (const json& kind : context["only"]) {
    if (kind.is_string() && std::string_view("quickfix").starts_with(kind.get<std::string>())) {
      return true;
    }
  }
  return false;
}

// The closest keyword over a misspelt one, and "[generale]" over a field close to it in a source
// that has none.
json keyword_fixes(const DocumentView& doc, int64_t start, int64_t end, const json& context) {
  json actions = json::array();
  std::vector<SourceFix> fixes = compactor::keyword_fixes(doc.text, doc.outline);
  if (doc.outline.kind != SourceKind::kOther) {
    std::vector<SourceFix> general =
        general_field_fixes(doc.text, doc.outline.kind == SourceKind::kLine);
    fixes.insert(fixes.end(), general.begin(), general.end());
  }
  for (const SourceFix& fix : fixes) {
    if (!overlaps(Span{fix.start, fix.end}, start, end)) continue;
    std::string_view field = span_text(doc.text, Span{fix.start, fix.end});
    Range r = range_of(doc, fix.start, fix.end);
    actions.push_back(
        {{"title", "Change \"" + std::string(field) + "\" to \"" + fix.new_text + "\""},
         {"kind", "quickfix"},
         {"isPreferred", true},
         {"diagnostics", fixed_diagnostics(context, std::string(fix.mends), to_json(r.start))},
         {"edit",
          {{"changes",
            {{std::string(doc.uri), {{{"range", to_json(r)}, {"newText", fix.new_text}}}}}}}}});
  }
  return actions;
}

json line_end_fix(const DocumentView& doc, const json& context) {
  std::vector<SourceFix> fixes = line_end_fixes(doc.text);
  if (fixes.empty()) return nullptr;
  json changes = json::array();
  for (const SourceFix& f : fixes) {
    changes.push_back({{"range", to_json(range_of(doc, f.start, f.end))}, {"newText", f.new_text}});
  }
  return {{"title", "Convert the lone CR line ends to CR LF"},
          {"kind", "quickfix"},
          {"diagnostics", fixed_diagnostics(context, "lone-cr", nullptr)},
          {"edit", {{"changes", {{std::string(doc.uri), std::move(changes)}}}}}};
}

}  // namespace

json to_json(const Position& p) {
  return {{"line", p.line}, {"character", p.character}};
}

json to_json(const Range& r) {
  return {{"start", to_json(r.start)}, {"end", to_json(r.end)}};
}

std::string cell_text(int64_t cell) {
  return "cell " + std::to_string(cell) + ", " + with_thousands(cell * 50) + " m";
}

std::string describe_keyword(const RecordKind& kind) {
  std::string text = "`";
  text.append(kind.keyword).append("`: ").append(kind.meaning).append(".\n\n```\n");
  text.append(record_line(kind)).append("\n```\n\nRead in ").append(section_phrase(kind.section));
  text.append(". A keyword field starts this record when it holds ")
      .append(keyword_test_text(kind));
  text.push_back('.');
  return text;
}

std::string describe_field(const RecordKind& kind, size_t index,
                           const std::vector<std::string_view>& values) {
  const FieldDescription& described = kind.fields[index];
  std::string text = "`";
  text.append(kind.keyword).append("` (").append(kind.meaning).append("), field ");
  text.append(std::to_string(index + 1)).append(" of ").append(std::to_string(kind.fields.size()));
  text.append(": `").append(described.name).append("`");
  if (described.unit[0] != '\0') text += ", " + std::string(described.unit);
  if (described.meaning[0] != '\0') text += "\n\n" + std::string(described.meaning);
  text += "\n\n" + type_phrase(described.type);
  std::string_view value = index < values.size() ? values[index] : std::string_view();
  return text + placement(kind, described, value, values);
}

json hover(const DocumentView& doc, const Position& at) {
  int64_t offset = doc.lines.offset_of(at, doc.encoding);
  RecordAt found = record_at(doc.outline, offset);
  if (found.record == nullptr) return nullptr;
  const OutlineRecord& r = *found.record;
  std::string text;
  Span span = r.keyword;
  if (found.field < 0) {
    text = describe_keyword(*r.kind);
  } else {
    std::vector<std::string_view> values;
    for (const Span& s : r.fields) values.push_back(span_text(doc.text, s));
    span = r.fields[static_cast<size_t>(found.field)];
    text = describe_field(*r.kind, static_cast<size_t>(found.field), values);
  }
  return {{"contents", {{"kind", "markdown"}, {"value", text}}},
          {"range", to_json(range_of(doc, span.start, span.end))}};
}

json completion(const DocumentView& doc, const Position& at, bool snippets) {
  int64_t offset = doc.lines.offset_of(at, doc.encoding);
  Position line_start{at.line, 0};
  int64_t start = doc.lines.offset_of(line_start, doc.encoding);
  std::string_view before =
      doc.text.substr(static_cast<size_t>(start), static_cast<size_t>(offset - start));
  size_t first = before.find_first_not_of(" \t");
  if (before.find(',') != std::string_view::npos) return json::array();  // in a value
  first = first == std::string_view::npos ? before.size() : first;
  Range replaced{doc.lines.position_of(start + static_cast<int64_t>(first), doc.encoding), at};
  if (first < before.size() && before[first] == '[') {
    if (before.find(']') != std::string_view::npos) return json::array();
    return section_items(doc, replaced);
  }
  if (doc.outline.kind == SourceKind::kOther) return json::array();
  return keyword_items(section_at(doc.outline, offset), replaced, snippets);
}

json document_symbols(const DocumentView& doc) {
  const Outline& o = doc.outline;
  std::vector<json> sections(o.headers.size(), json::array());
  json top = json::array();
  std::vector<int64_t> section_end(o.headers.size());
  for (size_t i = 0; i < o.headers.size(); ++i) section_end[i] = o.headers[i].span.end;
  for (const OutlineRecord& r : o.records) {
    json symbol = record_symbol(doc, r);
    if (symbol.is_null()) continue;
    if (r.section < 0) {
      top.push_back(std::move(symbol));
      continue;
    }
    size_t s = static_cast<size_t>(r.section);
    sections[s].push_back(std::move(symbol));
    section_end[s] = r.end();
  }
  for (size_t i = 0; i < o.headers.size(); ++i) {
    if (sections[i].empty()) continue;
    const Span& h = o.headers[i].span;
    top.push_back({{"name", o.headers[i].name},
                   {"kind", 3},  // namespace
                   {"range", to_json(range_of(doc, h.start, section_end[i]))},
                   {"selectionRange", to_json(range_of(doc, h.start, h.end))},
                   {"children", std::move(sections[i])}});
  }
  return top;
}

json code_actions(const DocumentView& doc, const Range& range, const json& context) {
  if (!wants_quick_fixes(context)) return json::array();
  int64_t start = doc.lines.offset_of(range.start, doc.encoding);
  int64_t end = doc.lines.offset_of(range.end, doc.encoding);
  json actions = keyword_fixes(doc, start, end, context);
  json line_ends = line_end_fix(doc, context);
  if (!line_ends.is_null()) actions.push_back(std::move(line_ends));
  return actions;
}

json formatting_edits(const DocumentView& doc) {
  const std::string formatted = format_source(doc.text);
  json edits = json::array();
  if (formatted == doc.text) return edits;
  const Range whole{Position{},
                    doc.lines.position_of(static_cast<int64_t>(doc.text.size()), doc.encoding)};
  edits.push_back({{"range", to_json(whole)}, {"newText", formatted}});
  return edits;
}

}  // namespace compactor::lsp
