#include "tools/document_check.h"

#include <cctype>
#include <cstdint>

#include "compiler/document_facts.h"
#include "model/documents.h"

namespace compactor {

namespace {

// What ends the train number in the form's phrase and in the card's box.
constexpr const char* kFormTrainEnd = " di ";
constexpr const char* kCardTrainEnd = "|";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> cells_of(const std::string& line) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (size_t bar = line.find('|'); bar != std::string::npos; bar = line.find('|', start)) {
    cells.push_back(line.substr(start, bar - start));
    start = bar + 1;
  }
  cells.push_back(line.substr(start));
  return cells;
}

// The whole number, with its sign, at the start of `text` (after blanks); nullopt when there is
// none or it has more than nine digits.
std::optional<int32_t> leading_number(const std::string& text) {
  const std::string t = trimmed(text);
  const size_t sign = !t.empty() && t[0] == '-' ? 1 : 0;
  size_t digits = 0;
  while (sign + digits < t.size() && std::isdigit(static_cast<unsigned char>(t[sign + digits]))) {
    ++digits;
  }
  if (digits == 0 || digits > 9) return std::nullopt;
  const int32_t magnitude = std::stoi(t.substr(sign, digits));
  return sign != 0 ? -magnitude : magnitude;
}

// "19.450" or "19" as metres; nullopt when the text is no kilometre or its metres do not fit.
std::optional<int32_t> kilometre_metres(const std::string& text) {
  const std::string t = trimmed(text);
  const size_t dot = t.find('.');
  const std::optional<int32_t> whole = leading_number(t.substr(0, dot));
  if (!whole) return std::nullopt;
  int64_t fraction = 0;
  if (dot != std::string::npos) {
    std::string decimals = t.substr(dot + 1, 3);
    for (char c : decimals) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    decimals.resize(3, '0');
    fraction = std::stoi(decimals);
  }
  const bool negative = t[0] == '-';
  const int64_t metres = int64_t{*whole} * 1000 + (negative ? -fraction : fraction);
  if (metres < INT32_MIN || metres > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(metres);
}

// The text after `marker` on the first line that holds it, up to `end` (or the line's end).
std::optional<NamedTrain> named_after(const std::string& text, const std::string& marker,
                                      const std::string& end) {
  const std::vector<std::string> lines = lines_of(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t at = lines[i].find(marker);
    if (at == std::string::npos) continue;
    const size_t from = at + marker.size();
    const size_t to = lines[i].find(end, from);
    const std::string number =
        trimmed(lines[i].substr(from, to == std::string::npos ? to : to - from));
    return NamedTrain{number, static_cast<int32_t>(i + 1), lines[i].substr(from)};
  }
  return std::nullopt;
}

std::string number_or_unknown(std::optional<int32_t> value) {
  return value ? std::to_string(*value) : "?";
}

// "19.450 km, 40 km/h, 300 m"; a value the form does not give as a number is "?".
std::string described(std::optional<int32_t> start, std::optional<int32_t> speed,
                      std::optional<int32_t> length) {
  return (start ? kilometres(*start) : "?") + " km, " + number_or_unknown(speed) + " km/h, " +
         number_or_unknown(length) + " m";
}

Warning document_warning(const std::string& path, int32_t line, std::string text) {
  Warning w;
  w.pos.file = path;
  w.pos.line = line;
  w.pos.column = 1;
  w.pos.offset = -1;
  w.text = std::move(text);
  w.name = "stale-document";
  return w;
}

// Whether the document names `train`: the number read up to `end`, or `train` written whole and
// followed by `end` (after blanks) or nothing, since a train number may itself hold `end`.
bool names_train(const NamedTrain& named, const std::string& train, const std::string& end) {
  if (named.number == train) return true;
  if (named.rest.rfind(train, 0) != 0) return false;
  const std::string after = named.rest.substr(train.size());
  const size_t text = after.find_first_not_of(' ');
  return text == std::string::npos || after.rfind(end, 0) == 0 ||
         after.compare(text, end.size(), end) == 0;
}

void check_train(const std::optional<NamedTrain>& named, const DriverDocument& doc,
                 const char* what, const std::string& end, const std::string& train_number,
                 std::vector<Warning>& out) {
  if (!named || names_train(*named, train_number, end)) return;
  out.push_back(document_warning(doc.path, named->line,
                                 std::string("the ") + what + " names train " + named->number +
                                     ", not the scenario's " + train_number));
}

}  // namespace

std::vector<FormRow> form_rows(const std::string& form) {
  std::vector<FormRow> rows;
  const std::vector<std::string> lines = lines_of(form);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string> cells = cells_of(lines[i]);
    if (cells.size() < 6) continue;
    const std::string place = trimmed(cells[3]);
    if (place.rfind("Km", 0) != 0) continue;
    FormRow row;
    row.line = static_cast<int32_t>(i + 1);
    row.start = kilometre_metres(place.substr(2));
    row.speed = leading_number(cells[4]);
    row.length = leading_number(cells[5]);
    rows.push_back(row);
  }
  return rows;
}

std::optional<NamedTrain> form_train(const std::string& form) {
  return named_after(form, "del treno ", kFormTrainEnd);
}

std::optional<NamedTrain> card_train(const std::string& card) {
  return named_after(card, "TRENO n. ", kCardTrainEnd);
}

namespace {

// Each slow order the form does not list, then each form row that matches no slow order; a row
// matches one slow order only.
void check_form_rows(const DriverDocument& form, const SourceFile& train,
                     std::vector<Warning>& out) {
  std::vector<FormRow> rows = form_rows(form.bytes);
  std::vector<bool> matched(rows.size(), false);
  const std::string_view source = train.bytes ? std::string_view(*train.bytes) : "";
  for (const SourceSlowOrder& s : source_slow_orders(source)) {
    const DocumentSlowOrder& o = s.order;
    bool listed = false;
    for (size_t i = 0; i < rows.size() && !listed; ++i) {
      listed = !matched[i] && rows[i].start == o.start && rows[i].speed == o.speed &&
               rows[i].length == o.length;
      if (listed) matched[i] = true;
    }
    if (listed) continue;
    Warning w = document_warning(train.name, s.keyword.line,
                                 "the slow-order form " + form.path +
                                     " does not list this slow "
                                     "order (" +
                                     described(o.start, o.speed, o.length) + ")");
    w.pos.column = s.keyword.column;
    w.pos.offset = s.keyword.start;
    w.pos.end_column = s.keyword.column + static_cast<int32_t>(s.keyword.end - s.keyword.start);
    out.push_back(std::move(w));
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    if (matched[i]) continue;
    out.push_back(document_warning(form.path, rows[i].line,
                                   "this row of the slow-order form (" +
                                       described(rows[i].start, rows[i].speed, rows[i].length) +
                                       ") matches no slow order of the train source"));
  }
}

}  // namespace

std::vector<Warning> stale_document_warnings(const std::optional<DriverDocument>& form,
                                             const std::optional<DriverDocument>& card,
                                             const std::string& train_number,
                                             const SourceFile& train) {
  std::vector<Warning> warnings;
  if (form) {
    check_train(form_train(form->bytes), *form, "slow-order form", kFormTrainEnd, train_number,
                warnings);
    check_form_rows(*form, train, warnings);
  }
  if (card) {
    check_train(card_train(card->bytes), *card, "timetable card", kCardTrainEnd, train_number,
                warnings);
  }
  return warnings;
}

}  // namespace compactor
