#include "syntax/tree.h"

#include <algorithm>

namespace compactor {

SourceParser::SourceParser(std::string_view bytes, SourceRole role, bool with_plan)
    : bytes_(bytes),
      lexer_(bytes),
      with_plan_(with_plan),
      line_source_(role == SourceRole::kLine),
      section_(role == SourceRole::kLine ? RecordSection::kLineGeneral : RecordSection::kTrain) {
  if (bytes.empty()) phase_ = Phase::kDone;
}

std::string_view SourceParser::text(const LexedField& f) const {
  return field_text(bytes_, f);
}

bool SourceParser::finish(SourceEnd end) {
  end_ = end;
  phase_ = Phase::kDone;
  return false;
}

void SourceParser::take(SyntaxItem& item, const LexedField& f, NodeKind kind) {
  item.field = SyntaxField{};
  item.field.at = f;
  item.field.kind = kind;
  item.field.section = section_;
  item.records.clear();
  item.values.clear();
  item.unread_start = item.unread_end = -1;
}

bool SourceParser::next(SyntaxItem& item) {
  switch (phase_) {
    case Phase::kSeekGeneral:
      return seek_general(item);
    case Phase::kGeneral:
      return general(item);
    case Phase::kRecords:
      return records_part(item);
    case Phase::kDone:
      break;
  }
  return false;
}

// The fields up to the "[generale]" field, one by one; none is found when it is the last field.
bool SourceParser::seek_general(SyntaxItem& item) {
  if (lexer_.at_end()) return finish(SourceEnd::kNoGeneral);
  LexedField f = lexer_.text();
  take(item, f, NodeKind::kBeforeGeneral);
  if (lexer_.at_end()) {
    end_ = SourceEnd::kNoGeneral;
    phase_ = Phase::kDone;
  } else if (is_general_field(text(f))) {
    item.field.header = true;
    phase_ = line_source_ ? Phase::kGeneral : Phase::kRecords;
  }
  return true;
}

// The line source's general section, up to a section header. Up to ten remarks in a row come
// before a keyword field, with no test of the end of the file in between: a file that ends after
// a remark ends where a keyword should follow.
bool SourceParser::general(SyntaxItem& item) {
  if (remarks_ == 0 && lexer_.at_end()) return finish(SourceEnd::kEndOfFile);
  LexedField f = lexer_.text();
  if (remarks_ == 0 && lexer_.at_end()) {
    take(item, f, NodeKind::kLast);
    finish(SourceEnd::kEndOfFile);
    return true;
  }
  if (remarks_ < 10 && is_remark(text(f))) {
    take(item, f, NodeKind::kRemark);
    ++remarks_;
    if (lexer_.at_end()) finish(SourceEnd::kAfterRemark);
    return true;
  }
  remarks_ = 0;
  take(item, f, NodeKind::kKeyword);
  read_records(item);
  if (item.field.header) {
    phase_ = Phase::kRecords;
    section_ = RecordSection::kLineFeatures;
  }
  return true;
}

// The records after the general section, or the train's: up to two remarks before a keyword
// field; the last field of the file is not read as a keyword.
bool SourceParser::records_part(SyntaxItem& item) {
  if (remarks_ == 0 && lexer_.at_end()) return finish(SourceEnd::kEndOfFile);
  LexedField f = lexer_.text();
  if (lexer_.at_end()) {
    take(item, f, NodeKind::kLast);
    finish(SourceEnd::kEndOfFile);
    return true;
  }
  if (remarks_ < 2 && is_remark(text(f))) {
    take(item, f, NodeKind::kRemark);
    ++remarks_;
    return true;
  }
  remarks_ = 0;
  take(item, f, NodeKind::kKeyword);
  read_records(item);
  return true;
}

// The records of every kind of the section whose keyword the field holds, in table order, up to
// one that cannot be read.
void SourceParser::read_records(SyntaxItem& item) {
  std::string_view field = text(item.field.at);
  item.field.header = is_section_header(field);
  for (const RecordKind& kind : record_kinds()) {
    if (kind.section != section_ || !matches(kind, field)) continue;
    SyntaxRecord r;
    r.kind = &kind;
    r.first_value = static_cast<uint32_t>(item.values.size());
    r.passed_over = kind.plan_only && !with_plan_;
    bool whole = r.passed_over || read_values(item, r);
    item.records.push_back(r);
    if (!whole) break;
  }
  item.field.record_count = static_cast<uint32_t>(item.records.size());
}

// Reads the record's values; false, with its failure, when one cannot be read.
bool SourceParser::read_values(SyntaxItem& item, SyntaxRecord& r) {
  const auto& described = r.kind->fields;
  for (size_t i = 0; i < described.size(); ++i) {
    r.failure.field = static_cast<uint16_t>(i);
    r.failure.line_end = lexer_.last_line_end();
    if (lexer_.at_end()) return end_of_file(r);
    if (!read_value(item, r, described[i])) return false;
    ++r.value_count;
  }
  r.failure = FieldFailure{};
  return true;
}

bool SourceParser::end_of_file(SyntaxRecord& r) {
  FieldFailure& failure = r.failure;
  failure.kind = FieldFailure::kEndOfFile;
  failure.at.start = failure.at.end = lexer_.offset();
  failure.at.line = lexer_.line();
  failure.at.column = lexer_.column();
  failure.at.line_end_before = lexer_.line_end_after_last();
  failure.ends_line = true;
  return false;
}

bool SourceParser::read_value(SyntaxItem& item, SyntaxRecord& r,
                              const FieldDescription& described) {
  SyntaxField value;
  value.kind = NodeKind::kValue;
  value.section = section_;
  if (described.type == FieldType::kText) {
    value.at = lexer_.text();
    item.values.push_back(value);
    if (static_cast<size_t>(value.at.end - value.at.start) <= kMaxText) return true;
    return fail(item, r.failure, FieldFailure::kTooLong, value.at);
  }
  const FieldLexer before = lexer_;
  value.at = lexer_.number();
  NumberRead n =
      read_number(text(value.at), field_type_min(described.type), field_type_max(described.type));
  value.value = n.value;
  if (n.kind == NumberRead::kValue) {
    item.values.push_back(value);
    return true;
  }
  if (n.kind == NumberRead::kNotANumber && value.at.line_end_before >= 0) {
    // The field is missing from the line before: this line is read again from its start.
    r.failure.kind = FieldFailure::kNotANumber;
    r.failure.at = value.at;
    r.failure.missing_above = true;
    lexer_ = before;
    return false;
  }
  item.values.push_back(value);
  return fail(
      item, r.failure,
      n.kind == NumberRead::kNotANumber ? FieldFailure::kNotANumber : FieldFailure::kOutOfRange,
      value.at);
}

// A field that cannot be read: the rest of its line is passed over.
bool SourceParser::fail(SyntaxItem& item, FieldFailure& failure, FieldFailure::Kind kind,
                        const LexedField& f) {
  failure.kind = kind;
  failure.at = f;
  size_t after = static_cast<size_t>(f.end);
  while (after < bytes_.size() && is_blank(bytes_[after])) ++after;
  failure.ends_line = after >= bytes_.size() || line_end_length(bytes_, after) != 0;
  lexer_.skip_line(f);
  int64_t line_end = lexer_.last_line_end();
  item.unread_start = f.end;
  item.unread_end = line_end >= f.end ? line_end : lexer_.offset();
  return false;
}

namespace {

// Builds the whole tree from the items: every byte in a node.
class TreeBuilder {
 public:
  explicit TreeBuilder(SourceSyntax& tree) : tree_(tree) {}

  void add(const SyntaxItem& item) {
    auto keyword = static_cast<uint32_t>(tree_.fields.size());
    if (item.field.kind == NodeKind::kBeforeGeneral && item.field.header) {
      tree_.general_field = keyword;
    }
    add_field(item.field);
    tree_.fields.back().first_record = static_cast<uint32_t>(tree_.records.size());
    auto first_value = static_cast<uint32_t>(tree_.fields.size());
    for (const SyntaxField& v : item.values) add_field(v);
    for (SyntaxRecord r : item.records) {
      r.keyword = keyword;
      r.first_value += first_value;
      tree_.records.push_back(r);
    }
    add_node(NodeKind::kUnread, item.unread_start, item.unread_end);
  }

  void finish() { add_node(NodeKind::kTrivia, covered_, static_cast<int64_t>(tree_.bytes.size())); }

 private:
  void add_node(NodeKind kind, int64_t start, int64_t end) {
    if (start < 0 || end <= start) return;
    tree_.nodes.push_back(SyntaxNode{kind, start, end});
    covered_ = end;
  }
  void add_field(const SyntaxField& f) {
    add_node(NodeKind::kTrivia, covered_, f.at.start);
    add_node(f.kind, f.at.start, f.at.end);
    covered_ = std::max(covered_, f.at.end);
    tree_.fields.push_back(f);
  }

  SourceSyntax& tree_;
  int64_t covered_ = 0;  // the bytes before this offset are in nodes
};

}  // namespace

bool is_remark(std::string_view field) {
  return field.find('-') != std::string_view::npos;
}

bool is_section_header(std::string_view field) {
  if (field.find('[') == std::string_view::npos || field.find(']') == std::string_view::npos) {
    return false;
  }
  size_t first = field.find_first_not_of(" \t");
  return first == std::string_view::npos || field[first] != '-';
}

bool is_general_field(std::string_view field) {
  return contains_any_case(field, "[generale]");
}

SourceSyntax parse_source(std::string_view bytes, SourceRole role, bool with_plan) {
  SourceSyntax tree;
  tree.bytes = bytes;
  tree.role = role;
  tree.with_plan = with_plan;
  SourceParser parser(bytes, role, with_plan);
  TreeBuilder builder(tree);
  SyntaxItem item;
  while (parser.next(item)) builder.add(item);
  builder.finish();
  tree.end = parser.end();
  return tree;
}

std::string print_tree(const SourceSyntax& tree) {
  std::string out;
  out.reserve(tree.bytes.size());
  for (const SyntaxNode& n : tree.nodes) {
    out.append(
        tree.bytes.substr(static_cast<size_t>(n.start), static_cast<size_t>(n.end - n.start)));
  }
  return out;
}

LineColumn line_column(std::string_view bytes, int64_t offset) {
  LineColumn p;
  size_t line_start = 0;
  size_t end = std::min(static_cast<size_t>(std::max<int64_t>(offset, 0)), bytes.size());
  for (size_t i = 0; i < end; ++i) {
    if (bytes[i] == '\n') {
      ++p.line;
      line_start = i + 1;
    }
  }
  p.column = static_cast<int32_t>(end >= line_start ? end - line_start + 1 : 1);
  return p;
}

}  // namespace compactor
