#include "scenario/driver_documents.h"

#include <algorithm>
#include <cstdio>

#include "scenario/texts.h"

namespace compactor {

namespace {

// The fixed lines of a default document and where its grid's rows stand among them: after the
// first line that starts with `rule`, up to the last.
struct FixedPage {
  std::vector<std::string> lines;
  size_t rows_begin = 0;
  size_t rows_end = 0;
};

FixedPage fixed_page(std::vector<std::string> table, const std::string& rule) {
  FixedPage page;
  table.pop_back();  // the sentinel
  page.lines = std::move(table);
  for (size_t i = 0; i < page.lines.size(); ++i) {
    if (page.lines[i].rfind(rule, 0) != 0) continue;
    if (page.rows_begin == 0) page.rows_begin = i + 1;
    page.rows_end = i;
  }
  return page;
}

// Where a cut of `text` before `at` must fall instead so as not to split a UTF-8 character: the
// start of a valid multi-byte sequence that reaches past `at`, else `at` itself (a Latin-1 name
// has no such sequence).
size_t whole_character_cut(const std::string& text, size_t at) {
  auto continuation = [&text](size_t i) {
    return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  size_t lead = at;
  while (lead > 0 && at - lead < 3 && continuation(lead)) --lead;
  const auto u = static_cast<unsigned char>(text[lead]);
  const size_t length = u >= 0xF0 && u < 0xF5   ? 4
                        : u >= 0xE0 && u < 0xF0 ? 3
                        : u >= 0xC2 && u < 0xE0 ? 2
                                                : 1;
  if (lead == at || length <= at - lead || lead + length > text.size()) return at;
  for (size_t i = lead + 1; i < lead + length; ++i) {
    if (!continuation(i)) return at;
  }
  return lead;
}

// `text` in a cell of `width`: padded with blanks, or, when it is longer, cut at the width and
// ended with a full stop as an abbreviation is (blanks and hyphens before the stop dropped), which
// `notices` then records.
std::string fit(const std::string& text, size_t width, const std::string& what,
                std::vector<std::string>& notices) {
  if (text.size() <= width) return text + std::string(width - text.size(), ' ');
  std::string cut = text.substr(0, whole_character_cut(text, width - 1));
  while (!cut.empty() && (cut.back() == ' ' || cut.back() == '-')) cut.pop_back();
  cut += ".";
  notices.push_back(what + " \"" + text + "\" is longer than its column: cut to \"" + cut + "\"");
  return cut + std::string(width - cut.size(), ' ');
}

std::string right_aligned(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string with_crlf(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return bytes;
}

// "Torricola - Pomezia" between two stations, "Aversa" inside one's extent.
std::string stretch_of(const DocumentFacts& facts, int32_t at) {
  const DocumentStation* before = nullptr;
  const DocumentStation* after = nullptr;
  for (const DocumentStation& s : facts.stations) {
    if (s.extent_start <= at && at <= s.extent_end) return s.name;
    if (s.position <= at && (before == nullptr || s.position >= before->position)) before = &s;
    if (s.position > at && (after == nullptr || s.position < after->position)) after = &s;
  }
  if (before != nullptr && after != nullptr) return before->name + " - " + after->name;
  if (before != nullptr) return before->name;
  return after != nullptr ? after->name : "";
}

std::string form_row(const DocumentFacts& facts, size_t number, const DocumentSlowOrder& order,
                     std::vector<std::string>& notices) {
  const std::string stretch = stretch_of(facts, order.start);
  std::string row =
      " |" + fit(right_aligned(std::to_string(number), 2) + " ", 3, "the number", notices);
  row += "| " + fit(stretch, 27, "the stretch", notices);
  row += "|Km " + fit(kilometres(order.start), 9, "the kilometre", notices);
  row +=
      "|" + fit(right_aligned(std::to_string(order.speed), 4) + " Km/h ", 10, "the speed", notices);
  row +=
      "|" + fit(right_aligned(std::to_string(order.length), 6) + "   ", 9, "the length", notices);
  return row + "|            |";
}

// The rows of a grid: `filled`, then blank ones up to `printed`; past it the grid runs on, which
// `notices` records.
void put_rows(std::vector<std::string>& lines, std::vector<std::string> filled, size_t printed,
              const std::string& blank, const std::string& what,
              std::vector<std::string>& notices) {
  if (filled.size() > printed) {
    notices.push_back(what + " has " + std::to_string(filled.size()) + " rows, more than the " +
                      std::to_string(printed) + " of its printed grid: the grid runs on");
  }
  while (filled.size() < printed) filled.push_back(blank);
  lines.insert(lines.end(), filled.begin(), filled.end());
}

// "19.10", or "19.10.30" when the seconds are not 0.
std::string clock_time(int32_t seconds) {
  char text[32];
  const int32_t s = ((seconds % 86400) + 86400) % 86400;
  if (s % 60 == 0) {
    std::snprintf(text, sizeof text, "%02d.%02d", s / 3600, s / 60 % 60);
  } else {
    std::snprintf(text, sizeof text, "%02d.%02d.%02d", s / 3600, s / 60 % 60, s % 60);
  }
  return text;
}

// One row of the card: a station, a change of the speed limit, or both at one place.
struct CardRow {
  int32_t position = 0;
  const DocumentStation* station = nullptr;
  const DocumentSpeedChange* change = nullptr;
};

// The stations and the changes of the speed limit in order of position, one row for both where
// they stand at the same place.
std::vector<CardRow> card_rows(const DocumentFacts& facts) {
  std::vector<CardRow> rows;
  for (const DocumentStation& s : facts.stations) rows.push_back({s.position, &s, nullptr});
  for (const DocumentSpeedChange& c : facts.speed_changes) {
    auto same = std::find_if(rows.begin(), rows.end(), [&c](const CardRow& r) {
      return r.change == nullptr && r.position == c.position;
    });
    if (same != rows.end()) {
      same->change = &c;
    } else {
      rows.push_back({c.position, nullptr, &c});
    }
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const CardRow& a, const CardRow& b) { return a.position < b.position; });
  return rows;
}

std::string card_line(const CardRow& row, std::vector<std::string>& notices) {
  std::string limit = row.change != nullptr ? std::to_string(row.change->limit) + " " : "";
  std::string line = " |" + fit(right_aligned(limit, 5), 5, "the speed limit", notices) + "|     |";
  line += fit(right_aligned(kilometres(row.position), 8) + "  ", 10, "the kilometre", notices);
  line += "|     | ";
  const bool timed = row.station != nullptr && row.station->scheduled_time.has_value();
  line += fit(row.station != nullptr ? row.station->name : "", 27, "the station name", notices);
  line +=
      "| " + fit(timed ? clock_time(*row.station->scheduled_time) : "", 15, "the time", notices);
  return line + "|     |";
}

// The box of the train number, the title with the first and last station, and the box of the
// braked mass. The first box widens to hold a long train number whole.
std::vector<std::string> card_head(const DocumentFacts& facts, std::vector<std::string>& notices) {
  const std::string train = "   TRENO n. " + facts.train_number;
  const size_t box = std::max<size_t>(20, train.size() + 2);
  if (box > 20) notices.push_back("the train number is longer than the card's box: the box widens");
  const std::string first = facts.stations.empty() ? "" : facts.stations.front().name;
  const std::string last = facts.stations.empty() ? "" : facts.stations.back().name;
  const std::string braked = "    " + std::to_string(facts.braked_mass) + " %";
  return {
      "",
      "",
      "  " + std::string(box, '_') + std::string(36, ' ') + std::string(14, '_'),
      " |" + std::string(box, ' ') + "|            SCHEDA                |              |",
      " |" + fit(train, box, "the train number", notices) +
          "|            da: " + fit(first, 18, "the first station", notices) + "|              |",
      " |" + std::string(box, '_') +
          "|             a: " + fit(last, 18, "the last station", notices) + "|" +
          fit(braked, 14, "the braked mass", notices) + "|",
      std::string(box + 37, ' ') + "|______________|",
  };
}

}  // namespace

LaidOutDocument slow_order_form_document(const DocumentFacts& facts) {
  const FixedPage page = fixed_page(slow_order_form_table(), " |___|");
  LaidOutDocument doc;
  std::vector<std::string> lines(page.lines.begin(), page.lines.begin() + page.rows_begin);
  lines[4] = "  Linea  " + facts.line_id;
  lines[6] = "  Si ordina al macchinista del treno " + facts.train_number +
             " di effettura i seguenti rallentamenti";
  std::vector<std::string> rows;
  for (const DocumentSlowOrder& order : facts.slow_orders) {
    rows.push_back(form_row(facts, rows.size() + 1, order, doc.notices));
  }
  put_rows(lines, std::move(rows), kFormGridRows, page.lines[page.rows_end - 1],
           "the slow-order form", doc.notices);
  lines.insert(lines.end(), page.lines.begin() + page.rows_end, page.lines.end());
  doc.bytes = with_crlf(lines);
  return doc;
}

LaidOutDocument timetable_card_document(const DocumentFacts& facts) {
  const FixedPage page = fixed_page(timetable_card_table(), " |_____|");
  LaidOutDocument doc;
  std::vector<std::string> lines = card_head(facts, doc.notices);
  const size_t head = lines.size();
  lines.insert(lines.end(), page.lines.begin() + static_cast<std::ptrdiff_t>(head),
               page.lines.begin() + static_cast<std::ptrdiff_t>(page.rows_begin));
  // Classification and blocked mass: no source gives them.
  lines[head + 2] = " |                   |              |                   |";
  std::vector<std::string> rows;
  for (const CardRow& row : card_rows(facts)) rows.push_back(card_line(row, doc.notices));
  put_rows(lines, std::move(rows), kCardGridRows,
           " |     |     |          |     |                            |                |     |",
           "the timetable card", doc.notices);
  lines.insert(lines.end(), page.lines.begin() + static_cast<std::ptrdiff_t>(page.rows_end),
               page.lines.end());
  doc.bytes = with_crlf(lines);
  return doc;
}

LaidOutDocument notes_document(const DocumentFacts& facts) {
  LaidOutDocument doc;
  std::string text = "Treno " + facts.train_number;
  if (!facts.stations.empty()) {
    text += " da " + facts.stations.front().name + " a " + facts.stations.back().name;
  }
  doc.bytes = with_crlf({text});
  return doc;
}

}  // namespace compactor
