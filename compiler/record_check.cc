#include "compiler/record_check.h"

#include <string>
#include <string_view>

#include "model/errors.h"
#include "syntax/tree.h"

namespace compactor {

namespace {

// A place in a source.
struct Place {
  int32_t line = 1;
  int32_t column = 1;
};

// What is wrong with a number field's text, as a phrase after the field's noun.
std::string number_problem(std::string_view token, FieldFailure::Kind kind,
                           const FieldDescription& expected) {
  std::string shown(token.substr(0, 40));
  if (token.size() > 40) shown += "...";
  if (kind == FieldFailure::kNotANumber) return "\"" + shown + "\" is not a whole number";
  bool large = !token.empty() && token[0] != '-';
  if (large) {
    return shown + " is too large (at most " + std::to_string(field_type_max(expected.type)) + ")";
  }
  return shown + " is too small (at least " + std::to_string(field_type_min(expected.type)) + ")";
}

const char* type_phrase(const FieldDescription& expected) {
  return expected.type == FieldType::kText ? "a text" : "a whole number";
}

std::string missing(const FieldDescription& expected) {
  return "the " + std::string(expected.noun) + " (" + type_phrase(expected) + ") is missing";
}

// The failed records of one source's tree, as check lists them.
class FailureList {
 public:
  FailureList(std::string_view bytes, const std::string& file, RecordCheck& out)
      : bytes_(bytes), file_(file), out_(out) {}

  void add(const SyntaxRecord& r) {
    const FieldFailure& f = r.failure;
    const FieldDescription& expected = r.kind->fields[f.field];
    Place at{f.at.line, f.at.column};
    if (f.kind == FieldFailure::kEndOfFile) {
      // At the end of the last line: the line that holds text, not the empty one after it.
      Place shown = at.column > 1 || f.line_end < 0 ? at : place_of(f.line_end);
      list(r, at, shown, missing(expected) + "; the file ends here");
    } else if (f.kind == FieldFailure::kTooLong) {
      list(r, at, at,
           "the " + std::string(expected.noun) + " is too long (" +
               std::to_string(f.at.end - f.at.start) + " bytes; at most " +
               std::to_string(kMaxText) + ")");
    } else if (f.missing_above) {
      list(r, at, place_of(f.line_end), missing(expected) + "; the line ends here");
    } else if (f.at.end == f.at.start) {
      list(r, at, at, missing(expected) + (f.ends_line ? "; the line ends here" : ""));
    } else {
      std::string_view token = field_text(bytes_, f.at);
      list(r, at, at,
           "the " + std::string(expected.noun) + " " + number_problem(token, f.kind, expected),
           token.size());
    }
  }

 private:
  Place place_of(int64_t offset) const {
    LineColumn p = line_column(bytes_, offset);
    return Place{p.line, p.column};
  }

  // Lists a failure at `shown`; `stop` is where the field reader stops.
  void list(const SyntaxRecord& r, Place stop, Place shown, const std::string& text,
            size_t width = 0) {
    if (out_.failures.size() >= kListedRecordFailures) {
      ++out_.not_listed;
      return;
    }
    RecordFailure failure;
    Diagnostic& d = failure.diagnostic;
    d.file = file_;
    d.line = shown.line;
    d.column = shown.column;
    d.end_column = shown.column + static_cast<int32_t>(width);
    d.severity = Diagnostic::Severity::kError;
    d.code = kErrReadFailure;
    d.message = std::string(r.kind->keyword) + ": " + text;
    failure.stop_line = stop.line;
    failure.stop_column = stop.column;
    out_.failures.push_back(std::move(failure));
  }

  std::string_view bytes_;
  const std::string& file_;
  RecordCheck& out_;
};

// The failed records of one source, as the parse meets them: no tree is held.
void list_failures(std::string_view bytes, SourceRole role, bool with_plan, const std::string& file,
                   RecordCheck& out) {
  FailureList list(bytes, file, out);
  SourceParser parser(bytes, role, with_plan);
  SyntaxItem item;
  while (parser.next(item)) {
    for (const SyntaxRecord& r : item.records) {
      if (r.failure.kind != FieldFailure::kNone) list.add(r);
    }
  }
}

}  // namespace

RecordCheck check_records(const Sources& s, bool with_plan) {
  RecordCheck out;
  if (s.line.bytes) {
    list_failures(*s.line.bytes, SourceRole::kLine, with_plan, s.line.name, out);
  }
  if (s.train.bytes) {
    list_failures(*s.train.bytes, SourceRole::kTrain, with_plan, s.train.name, out);
  }
  return out;
}

}  // namespace compactor
