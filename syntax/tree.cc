#include "syntax/tree.h"

#include <algorithm>

namespace compactor {

namespace {

class Parser {
 public:
  Parser(std::string_view bytes, SourceRole role, bool with_plan) : lexer_(bytes) {
    tree_.bytes = bytes;
    tree_.role = role;
    tree_.with_plan = with_plan;
    section_ = role == SourceRole::kLine ? RecordSection::kLineGeneral : RecordSection::kTrain;
  }

  SourceSyntax run() {
    if (tree_.bytes.empty()) return std::move(tree_);
    tree_.end = SourceEnd::kNoGeneral;
    if (skip_to_general() && general_section()) {
      if (tree_.role == SourceRole::kLine) section_ = RecordSection::kLineFeatures;
      uint32_t keyword = 0;
      while (next_keyword(keyword)) records(keyword);
      tree_.end = SourceEnd::kEndOfFile;
    }
    add_node(NodeKind::kTrivia, covered_, static_cast<int64_t>(tree_.bytes.size()));
    return std::move(tree_);
  }

 private:
  std::string_view text(const LexedField& f) const { return field_text(tree_, f); }

  void add_node(NodeKind kind, int64_t start, int64_t end) {
    if (end <= start) return;
    tree_.nodes.push_back(SyntaxNode{kind, start, end});
    covered_ = end;
  }

  uint32_t add_field(const LexedField& f, NodeKind kind) {
    add_node(NodeKind::kTrivia, covered_, f.start);
    add_node(kind, f.start, f.end);
    covered_ = f.end;
    SyntaxField field;
    field.at = f;
    field.kind = kind;
    field.section = section_;
    tree_.fields.push_back(field);
    return static_cast<uint32_t>(tree_.fields.size() - 1);
  }

  // After a field that cannot be read: the rest of its line is passed over.
  void pass_over_line(const LexedField& f) {
    lexer_.skip_line(f);
    int64_t line_end = lexer_.last_line_end();
    int64_t unread_end = line_end >= covered_ ? line_end : lexer_.offset();
    add_node(NodeKind::kUnread, covered_, unread_end);
  }

  // Everything up to the "[generale]" field; false when there is none, or only as the last field.
  bool skip_to_general() {
    while (!lexer_.at_end()) {
      LexedField f = lexer_.text();
      uint32_t index = add_field(f, NodeKind::kBeforeGeneral);
      if (lexer_.at_end()) return false;
      if (is_general_field(text(f))) {
        tree_.general_field = index;
        tree_.fields[index].header = true;
        return true;
      }
    }
    return false;
  }

  // The line source's general section, up to a section header: false when the file ends in it.
  // Up to ten remarks in a row come before a keyword field, with no test of the end in between.
  bool general_section() {
    if (tree_.role != SourceRole::kLine) return true;
    for (;;) {
      if (lexer_.at_end()) return end_with(SourceEnd::kEndOfFile);
      LexedField f = lexer_.text();
      if (lexer_.at_end()) {
        add_field(f, NodeKind::kLast);
        return end_with(SourceEnd::kEndOfFile);
      }
      for (int i = 0; i < 10 && is_remark(text(f)); ++i) {
        add_field(f, NodeKind::kRemark);
        if (lexer_.at_end()) return end_with(SourceEnd::kAfterRemark);
        f = lexer_.text();
      }
      records(add_field(f, NodeKind::kKeyword));
      if (is_section_header(text(f))) return true;
    }
  }

  bool end_with(SourceEnd end) {
    tree_.end = end;
    return false;
  }

  // The next keyword field, past up to two remarks; false at the end of the file, which leaves
  // the last field unread.
  bool next_keyword(uint32_t& keyword) {
    if (lexer_.at_end()) return false;
    LexedField f = lexer_.text();
    for (int i = 0; i < 2 && !lexer_.at_end() && is_remark(text(f)); ++i) {
      add_field(f, NodeKind::kRemark);
      f = lexer_.text();
    }
    if (lexer_.at_end()) {
      add_field(f, NodeKind::kLast);
      return false;
    }
    keyword = add_field(f, NodeKind::kKeyword);
    return true;
  }

  // The records of every kind of the section whose keyword the field holds, in table order, up
  // to one that cannot be read.
  void records(uint32_t keyword) {
    std::string_view field = text(tree_.fields[keyword].at);
    tree_.fields[keyword].header = is_section_header(field);
    auto first = static_cast<uint32_t>(tree_.records.size());
    for (const RecordKind& kind : record_kinds()) {
      if (kind.section != section_ || !matches(kind, field)) continue;
      SyntaxRecord r;
      r.kind = &kind;
      r.keyword = keyword;
      r.first_value = static_cast<uint32_t>(tree_.fields.size());
      r.passed_over = kind.plan_only && !tree_.with_plan;
      bool whole = r.passed_over || read_values(r);
      tree_.records.push_back(r);
      if (!whole) break;
    }
    tree_.fields[keyword].first_record = first;
    tree_.fields[keyword].record_count = static_cast<uint32_t>(tree_.records.size()) - first;
  }

  // Reads the record's values; false, with its failure, when one cannot be read.
  bool read_values(SyntaxRecord& r) {
    const auto& described = r.kind->fields;
    for (size_t i = 0; i < described.size(); ++i) {
      r.failure.field = static_cast<uint16_t>(i);
      r.failure.line_end = lexer_.last_line_end();
      if (lexer_.at_end()) return end_of_file(r);
      if (!read_value(r, described[i])) return false;
      ++r.value_count;
    }
    r.failure = FieldFailure{};
    return true;
  }

  bool end_of_file(SyntaxRecord& r) {
    FieldFailure& failure = r.failure;
    failure.kind = FieldFailure::kEndOfFile;
    failure.at.start = failure.at.end = lexer_.offset();
    failure.at.line = lexer_.line();
    failure.at.column = lexer_.column();
    failure.at.line_end_before = lexer_.line_end_after_last();
    failure.ends_line = true;
    return false;
  }

  bool read_value(SyntaxRecord& r, const FieldDescription& described) {
    FieldFailure& failure = r.failure;
    const FieldLexer before = lexer_;
    if (described.type == FieldType::kText) {
      LexedField f = lexer_.text();
      add_field(f, NodeKind::kValue);
      if (static_cast<size_t>(f.end - f.start) <= kMaxText) return true;
      return fail(failure, FieldFailure::kTooLong, f);
    }
    LexedField f = lexer_.number();
    NumberRead n = read_number(text(f), field_type_min(described.type),
                               field_type_max(described.type));
    if (n.kind == NumberRead::kValue) {
      tree_.fields[add_field(f, NodeKind::kValue)].value = n.value;
      return true;
    }
    if (n.kind == NumberRead::kNotANumber && f.line_end_before >= 0) {
      // The field is missing from the line before: this line is read again from its start.
      failure.kind = FieldFailure::kNotANumber;
      failure.at = f;
      failure.missing_above = true;
      lexer_ = before;
      return false;
    }
    add_field(f, NodeKind::kValue);
    return fail(failure,
                n.kind == NumberRead::kNotANumber ? FieldFailure::kNotANumber
                                                  : FieldFailure::kOutOfRange,
                f);
  }

  bool fail(FieldFailure& failure, FieldFailure::Kind kind, const LexedField& f) {
    failure.kind = kind;
    failure.at = f;
    size_t after = static_cast<size_t>(f.end);
    while (after < tree_.bytes.size() && is_blank(tree_.bytes[after])) ++after;
    failure.ends_line = after >= tree_.bytes.size() || line_end_length(tree_.bytes, after) != 0;
    pass_over_line(f);
    return false;
  }

  SourceSyntax tree_;
  FieldLexer lexer_;
  RecordSection section_;
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
  return Parser(bytes, role, with_plan).run();
}

std::string print_tree(const SourceSyntax& tree) {
  std::string out;
  for (const SyntaxNode& n : tree.nodes) {
    out.append(tree.bytes.substr(static_cast<size_t>(n.start), static_cast<size_t>(n.end - n.start)));
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
