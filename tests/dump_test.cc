// compactor dump: decoding the three binary outputs, listing them as text and JSON, and refusing
// files that do not fit their format.
// Runs the program as a POSIX child process: not part of the Windows test build.
#ifndef _WIN32
#include "tools/dump.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>

#include "format/decode.h"
#include "format/outputs.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::default_model;
using test::default_run;
using test::read_bytes;
using test::Result;
using test::run_compactor;
using test::ScratchDir;
using test::write_bytes;

// --- A strict JSON reader, enough to tell well-formed JSON and to read values back ----------

struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
  bool boolean = false;
  std::string number_text;  // as written, so doubles can be read back exactly
  std::string string;
  std::vector<Json> array;
  std::map<std::string, Json> object;

  const Json& at(const std::string& key) const {
    static const Json missing;
    auto it = object.find(key);
    if (it == object.end()) {
      ADD_FAILURE() << "no member \"" << key << "\"";
      return missing;
    }
    return it->second;
  }
  int64_t integer() const {
    EXPECT_EQ(type, kNumber);
    return std::strtoll(number_text.c_str(), nullptr, 10);
  }
  double real() const {
    EXPECT_EQ(type, kNumber);
    return std::strtod(number_text.c_str(), nullptr);
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}

  // The value, or nullopt with `error` set when the text is not exactly one JSON value.
  std::optional<Json> parse(std::string& error) {
    Json v;
    if (!value(v, 0)) {
      error = error_ + " at offset " + std::to_string(pos_);
      return std::nullopt;
    }
    space();
    if (pos_ != s_.size()) {
      error = "text after the value at offset " + std::to_string(pos_);
      return std::nullopt;
    }
    return v;
  }

 private:
  bool fail(const std::string& why) {
    error_ = why;
    return false;
  }
  void space() {
    while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_]) != nullptr) ++pos_;
  }
  bool literal(const char* word) {
    size_t n = std::strlen(word);
    if (s_.compare(pos_, n, word) != 0) return false;
    pos_ += n;
    return true;
  }
  bool digits() {
    size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    return pos_ > start;
  }
  bool number(Json& v) {
    size_t start = pos_;
    if (s_[pos_] == '-') ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '0') {
      ++pos_;
    } else if (!digits()) {
      return fail("bad number");
    }
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!digits()) return fail("bad fraction");
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      if (!digits()) return fail("bad exponent");
    }
    v.type = Json::kNumber;
    v.number_text = s_.substr(start, pos_ - start);
    return true;
  }
  bool string(std::string& out) {
    ++pos_;  // the opening quote
    while (pos_ < s_.size()) {
      auto c = static_cast<unsigned char>(s_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20) return fail("control character in a string");
      if (c >= 0x80) return fail("byte above ASCII (the dump escapes them)");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= s_.size()) break;
      char e = s_[pos_++];
      static const std::string simple = "\"\\/bfnrt";
      static const std::string meant = "\"\\/\b\f\n\r\t";
      if (size_t k = simple.find(e); k != std::string::npos) {
        out += meant[k];
      } else if (e == 'u') {
        if (pos_ + 4 > s_.size()) return fail("short \\u escape");
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
          char h = s_[pos_++];
          if (!std::isxdigit(static_cast<unsigned char>(h))) return fail("bad \\u escape");
          code =
              code * 16 + static_cast<unsigned>(std::isdigit(h) ? h - '0' : (h | 0x20) - 'a' + 10);
        }
        if (code > 0xFF) return fail("\\u escape above Latin-1, not expected here");
        out += static_cast<char>(code);
      } else {
        return fail("bad escape");
      }
    }
    return fail("unterminated string");
  }
  bool value(Json& v, int depth) {
    if (depth > 20) return fail("too deep");
    space();
    if (pos_ >= s_.size()) return fail("end of text where a value was expected");
    char c = s_[pos_];
    if (c == '{') {
      ++pos_;
      v.type = Json::kObject;
      space();
      if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
      for (;;) {
        space();
        if (pos_ >= s_.size() || s_[pos_] != '"') return fail("expected a member name");
        std::string key;
        if (!string(key)) return false;
        space();
        if (pos_ >= s_.size() || s_[pos_] != ':') return fail("expected ':'");
        ++pos_;
        Json member;
        if (!value(member, depth + 1)) return false;
        if (!v.object.emplace(key, std::move(member)).second) return fail("repeated member " + key);
        space();
        if (pos_ < s_.size() && s_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
        return fail("expected ',' or '}'");
      }
    }
    if (c == '[') {
      ++pos_;
      v.type = Json::kArray;
      space();
      if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
      for (;;) {
        Json item;
        if (!value(item, depth + 1)) return false;
        v.array.push_back(std::move(item));
        space();
        if (pos_ < s_.size() && s_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
        return fail("expected ',' or ']'");
      }
    }
    if (c == '"') {
      v.type = Json::kString;
      return string(v.string);
    }
    if (literal("null")) return true;
    if (literal("true") || literal("false")) {
      v.type = Json::kBool;
      v.boolean = s_[pos_ - 1] == 'e' && s_[pos_ - 2] == 'u';
      return true;
    }
    if (c == '-' || (c >= '0' && c <= '9')) return number(v);
    return fail("unexpected character");
  }

  const std::string& s_;
  size_t pos_ = 0;
  std::string error_;
};

Json parse_json(const std::string& text) {
  std::string error;
  std::optional<Json> v = JsonReader(text).parse(error);
  EXPECT_TRUE(v.has_value()) << "not well-formed JSON: " << error;
  return v ? *v : Json{};
}

// The checker must be able to fail, or the tests below would prove nothing.
TEST(JsonReaderTest, RefusesWhatIsNotJson) {
  for (const char* bad : {"{\"a\":1,}", "[1 2]", "{\"a\":nan}", "\"tab\there\"", "{\"a\":1}x", "01",
                          "{\"a\":1,\"a\":2}", "[\"\\x41\"]", "1.", "-"}) {
    std::string error;
    EXPECT_FALSE(JsonReader(bad).parse(error).has_value()) << bad;
  }
  std::string error;
  auto ok = JsonReader("{\"a\":[1,-2.5e-3,null,true,\"\\u00C8\\n\"]}").parse(error);
  ASSERT_TRUE(ok.has_value()) << error;
  EXPECT_EQ(ok->at("a").array[4].string, "\xC8\n");
  EXPECT_TRUE(ok->at("a").array[3].boolean);
}

// --- Decoding -------------------------------------------------------------------------------

TEST(DumpTest, OutputKindFollowsTheNameEnding) {
  struct Case {
    const char* name;
    std::optional<OutputKind> kind;
  };
  const Case cases[] = {
      {"QUELDRANO 2_555.sim", OutputKind::kRecords},
      {"QUELDRANO 2_555.dat", OutputKind::kGrid},
      {"QUELDRANO 2_linea.dat", OutputKind::kLine},
      {"dir/x_linea.dat", OutputKind::kLine},
      {"linea.dat", OutputKind::kGrid},  // no "_" before "linea"
      {"QUELDRANO 2_linea.txt", std::nullopt},
      {"x.sim.bak", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(output_kind_of_name(c.name), c.kind) << c.name;
  EXPECT_EQ(output_kind_of_word("sim"), OutputKind::kRecords);
  EXPECT_EQ(output_kind_of_word("grid"), OutputKind::kGrid);
  EXPECT_EQ(output_kind_of_word("line"), OutputKind::kLine);
  EXPECT_EQ(output_kind_of_word("dat"), std::nullopt);
}

void expect_same_record(const ScenarioItem& a, const ScenarioItem& b, int i) {
  SCOPED_TRACE("record " + std::to_string(i));
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.value1, b.value1);
  EXPECT_EQ(a.value2, b.value2);
  EXPECT_EQ(a.value3, b.value3);
  EXPECT_EQ(a.mark, b.mark);
  EXPECT_EQ(a.text, b.text);
  EXPECT_EQ(a.num1, b.num1);
  EXPECT_EQ(a.num2, b.num2);
  EXPECT_EQ(a.num3, b.num3);
  EXPECT_EQ(a.num4, b.num4);
  EXPECT_EQ(a.num5, b.num5);
  EXPECT_EQ(a.flag1, b.flag1);
  EXPECT_EQ(a.flag2, b.flag2);
  EXPECT_EQ(a.flag3, b.flag3);
  EXPECT_EQ(a.flag4, b.flag4);
  EXPECT_EQ(a.check_code, b.check_code);
}

bool same_cell(const TrackCell& a, const TrackCell& b) {
  return a.kind == b.kind && a.param1 == b.param1 && a.param2 == b.param2 && a.param3 == b.param3 &&
         a.param4 == b.param4 && a.signal_time == b.signal_time &&
         a.approach_code == b.approach_code && a.tunnel_type == b.tunnel_type &&
         a.speed_limit == b.speed_limit && a.gradient_code == b.gradient_code &&
         a.adhesion == b.adhesion;
}

bool same_value(const TaggedValue& a, const TaggedValue& b) {
  if (a.tag != b.tag) return false;
  if (a.tag == TaggedValue::kInteger) return a.integer == b.integer;
  if (a.tag == TaggedValue::kDouble) return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;
  return true;
}

TEST(DumpTest, DecodingGivesBackEveryFieldOfTheModel) {
  const Model& m = default_model();
  DecodeError error;

  auto items = decode_records(encode_record_output(m), error);
  ASSERT_TRUE(items.has_value()) << error.reason;
  for (int i = 0; i < kItemCount; ++i) {
    expect_same_record((*items)[static_cast<size_t>(i)], m.items[static_cast<size_t>(i)], i);
  }

  auto cells = decode_grid(encode_grid_output(m), error);
  ASSERT_TRUE(cells.has_value()) << error.reason;
  ASSERT_EQ(cells->size(), m.track_grid.size());
  for (size_t i = 0; i < cells->size(); ++i) {
    ASSERT_TRUE(same_cell((*cells)[i], m.track_grid[i])) << "cell " << i;
  }

  auto plan = decode_line(encode_line_output(m), error);
  ASSERT_TRUE(plan.has_value()) << error.reason;
  const size_t points = static_cast<size_t>(m.plan_last) + 1;
  ASSERT_EQ(plan->x.size(), points);
  ASSERT_EQ(plan->y.size(), points);
  for (size_t p = 0; p < points; ++p) {
    ASSERT_TRUE(same_value(plan->x[p], m.plan.x.at(p))) << "x " << p;
    ASSERT_TRUE(same_value(plan->y[p], m.plan.y.at(p))) << "y " << p;
  }
}

TEST(DumpTest, RolesOfTheRecordsOfTheDefaultScenario) {
  const auto& items = default_model().items;
  EXPECT_EQ(record_role(items, 0), "unused");
  EXPECT_EQ(record_role(items, 1), "station");
  EXPECT_EQ(record_role(items, 26), "station");
  EXPECT_EQ(record_role(items, 27), "cleared");
  EXPECT_EQ(record_role(items, 72), "board text");
  EXPECT_EQ(record_role(items, 80), "board text");
  EXPECT_EQ(record_role(items, 85), "line identity");
  std::vector<int> expected;
  for (int i = 1; i <= 26; ++i) expected.push_back(i);
  EXPECT_EQ(station_indexes(items), expected);
}

// Board texts fill the whole block from record 80 down to record 1 when there are 80 indication
// boards and no station: record 1 is then a board text, not a station.
TEST(DumpTest, EightyBoardTextsLeaveNoStation) {
  std::array<ScenarioItem, kItemCount> items{};
  for (int i = kFirstStationRecord; i <= kLastBoardTextRecord; ++i) {
    items[static_cast<size_t>(i)].text = "(GALLERIA " + std::to_string(i) + ")";
  }
  EXPECT_EQ(record_role(items, 1), "board text");
  EXPECT_EQ(record_role(items, 80), "board text");
  EXPECT_TRUE(station_indexes(items).empty());
}

// --- The command ----------------------------------------------------------------------------

std::string output_path(const std::string& name) {
  return default_run().file(name);
}

TEST(DumpTest, JsonOfEachOutputIsWellFormedAndHoldsTheScenario) {
  const Result records = run_compactor({"dump", output_path(test::kRecords), "--json"});
  ASSERT_EQ(records.exit_status, 0) << records.err;
  const Json r = parse_json(records.out);
  ASSERT_EQ(r.at("records").array.size(), 87u);
  const auto& rec = r.at("records").array;
  EXPECT_EQ(rec[85].at("num1").integer(), 610);
  EXPECT_EQ(rec[85].at("text").string, "QUELDRANO 2");
  EXPECT_EQ(rec[84].at("value2").integer(), 228000);
  EXPECT_EQ(rec[1].at("text").string, "ROMA TERMINI");
  EXPECT_EQ(rec[1].at("check_code").integer(), 69000);
  EXPECT_EQ(rec[1].at("role").string, "station");
  EXPECT_TRUE(rec[0].at("cleared").boolean);
  EXPECT_FALSE(rec[1].at("cleared").boolean);
  // Every field of every record as the model holds it.
  const auto& items = default_model().items;
  for (size_t i = 0; i < 87; ++i) {
    const ScenarioItem& it = items[i];
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(rec[i].at("index").integer(), static_cast<int64_t>(i));
    const std::pair<const char*, int64_t> numbers[] = {
        {"kind", it.kind},     {"value1", it.value1}, {"value2", it.value2},
        {"value3", it.value3}, {"mark", it.mark},     {"num1", it.num1},
        {"num2", it.num2},     {"num3", it.num3},     {"num4", it.num4},
        {"num5", it.num5},     {"flag1", it.flag1},   {"flag2", it.flag2},
        {"flag3", it.flag3},   {"flag4", it.flag4},   {"check_code", it.check_code}};
    for (const auto& [name, v] : numbers) EXPECT_EQ(rec[i].at(name).integer(), v) << name;
    EXPECT_EQ(rec[i].at("text").string, it.text);
  }

  const Result grid = run_compactor({"dump", output_path(test::kGrid), "--json"});
  ASSERT_EQ(grid.exit_status, 0) << grid.err;
  const Json g = parse_json(grid.out);
  EXPECT_EQ(g.at("cell_count").integer(), 4701);
  std::map<int64_t, const Json*> by_index;
  for (const Json& c : g.at("cells").array) by_index[c.at("index").integer()] = &c;
  const auto& model_cells = default_model().track_grid;
  size_t listed = 0;
  for (size_t i = 0; i < model_cells.size(); ++i) listed += is_blank(model_cells[i]) ? 0 : 1;
  EXPECT_EQ(by_index.size(), listed);
  ASSERT_TRUE(by_index.count(43));
  const Json& signal = *by_index[43];
  EXPECT_EQ(signal.at("kind").integer(), 1);
  EXPECT_EQ(signal.at("kind_name").string, "signal");
  EXPECT_EQ(signal.at("metre").integer(), 2150);
  EXPECT_EQ(signal.at("param1").integer(), 32);
  EXPECT_EQ(signal.at("param2").integer(), 11);
  EXPECT_EQ(signal.at("param3").integer(), 11);
  EXPECT_EQ(signal.at("param4").integer(), 8);
  ASSERT_TRUE(by_index.count(1));
  EXPECT_EQ(by_index[1]->at("param1").integer(), 5121);
  ASSERT_TRUE(by_index.count(263));
  EXPECT_EQ(by_index[263]->at("kind_name").string, "cab-code point");
  EXPECT_EQ(by_index[263]->at("param1").integer(), 270);

  const Result line =
      run_compactor({"dump", output_path(test::kPlan), "--json", "--every", "1000"});
  ASSERT_EQ(line.exit_status, 0) << line.err;
  const Json l = parse_json(line.out);
  EXPECT_EQ(l.at("points").integer(), 235001);
  const auto& plan = l.at("plan").array;
  ASSERT_EQ(plan.size(), 236u);  // metres 0, 1000, ..., 235000
  EXPECT_EQ(plan[0].at("x").number_text, "0");
  EXPECT_EQ(plan.back().at("metre").integer(), 235000);
  EXPECT_EQ(plan.back().at("x").type, Json::kNull);  // the last two points are never computed
  const Model& m = default_model();
  for (const Json& p : plan) {
    const auto metre = static_cast<int32_t>(p.at("metre").integer());
    const TaggedValue mx = m.plan.x.at(static_cast<size_t>(metre));
    const TaggedValue my = m.plan.y.at(static_cast<size_t>(metre));
    if (mx.tag != TaggedValue::kDouble) continue;
    // Read back, the printed doubles give the very same bits.
    double x = p.at("x").real(), y = p.at("y").real();
    EXPECT_EQ(std::memcmp(&x, &mx.real, sizeof x), 0) << metre;
    EXPECT_EQ(std::memcmp(&y, &my.real, sizeof y), 0) << metre;
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(DumpTest, TextListsRecordsCellsAndPlan) {
  const Result records = run_compactor({"dump", output_path(test::kRecords)});
  ASSERT_EQ(records.exit_status, 0) << records.err;
  const auto rl = lines_of(records.out);
  // Stations 1-26 and board texts 72-80 are listed; every other record is cleared here.
  EXPECT_EQ(rl.back(), "records 0, 27-71, 81-83: cleared");
  EXPECT_EQ(rl.size(), 1u + 26 + 9 + 3 + 1);
  EXPECT_EQ(rl[1],
            "record 1 (station): kind 8, value1 -500, value2 500, value3 0, mark 0, text \"ROMA "
            "TERMINI\", num1 1, num2 1, num3 4, num4 1, num5 1, flag1 0, flag2 1, flag3 0, flag4 "
            "0, check_code 69000");

  const Result grid = run_compactor({"dump", output_path(test::kGrid)});
  ASSERT_EQ(grid.exit_status, 0) << grid.err;
  const auto gl = lines_of(grid.out);
  size_t listed = 0;
  for (const TrackCell& c : default_model().track_grid) listed += is_blank(c) ? 0 : 1;
  EXPECT_EQ(gl.size(), 1 + listed);
  const std::string cell43 = "cell 43 (2150 m): signal, param1 32, param2 11, param3 11, param4 8";
  EXPECT_EQ(std::count_if(gl.begin(), gl.end(),
                          [&](const std::string& l) { return l.rfind(cell43 + ",", 0) == 0; }),
            1);

  const Result line = run_compactor({"dump", output_path(test::kPlan), "--every", "50000"});
  ASSERT_EQ(line.exit_status, 0) << line.err;
  std::vector<std::string> data;
  for (const std::string& l : lines_of(line.out)) {
    if (!l.empty() && l[0] != '#') data.push_back(l);
  }
  ASSERT_EQ(data.size(), 5u);  // metres 0, 50000, ..., 200000
  EXPECT_EQ(data[0], "0 0 0");
  const Model& m = default_model();
  for (const std::string& l : data) {
    std::istringstream in(l);
    int32_t metre;
    std::string x, y;
    in >> metre >> x >> y;
    EXPECT_EQ(metre % 50000, 0);
    if (metre == 0) continue;
    double vx = std::strtod(x.c_str(), nullptr), vy = std::strtod(y.c_str(), nullptr);
    const TaggedValue mx = m.plan.x.at(static_cast<size_t>(metre));
    const TaggedValue my = m.plan.y.at(static_cast<size_t>(metre));
    EXPECT_EQ(std::memcmp(&vx, &mx.real, sizeof vx), 0) << l;
    EXPECT_EQ(std::memcmp(&vy, &my.real, sizeof vy), 0) << l;
  }
}

// A file whose length or content does not fit its format is refused with the offset where it
// stops making sense: exit status 1 and nothing on stdout.
TEST(DumpTest, FilesThatDoNotFitTheirFormatAreRefusedWithTheOffset) {
  const std::string sim = read_bytes(output_path(test::kRecords));
  const std::string dat = read_bytes(output_path(test::kGrid));
  const std::string line = read_bytes(output_path(test::kPlan));
  ASSERT_EQ(sim.size(), 3607u);
  ASSERT_EQ(dat.size(), 70515u);
  // The line output begins with x(0) and x(1) as integers (4 bytes each), then x(2) as a double,
  // and ends with two empty values (2 bytes each) of the y half.
  const size_t last_record = sim.size() - (34 + 3);  // record 86 holds "555"
  struct Case {
    const char* what;
    const char* name;
    std::string bytes;
    size_t offset;
    const char* reason;
  };
  std::string bad_tag = line;
  bad_tag[8] = 7;
  const Case cases[] = {
      {"empty record output", "a.sim", "", 0, "record 0 is cut short"},
      {"record output cut in the first header", "a.sim", sim.substr(0, 10), 0,
       "record 0 is cut short"},
      {"record output cut in the text of record 1", "a.sim", sim.substr(0, 34 + 16 + 5), 34,
       "record 1 is cut short"},
      {"record output one byte short", "a.sim", sim.substr(0, sim.size() - 1), last_record,
       "record 86 is cut short"},
      {"record output one byte long", "a.sim", sim + "x", sim.size(), "1 bytes after record 86"},
      {"grid one byte short", "a.dat", dat.substr(0, dat.size() - 1), 4700 * 15,
       "cell 4700 is cut short"},
      {"grid one byte long", "a.dat", dat + "x", dat.size(), "cell 4701 is cut short"},
      {"line output with a bad tag", "a_linea.dat", bad_tag, 8, "has the tag 7"},
      {"line output cut inside a double", "a_linea.dat", line.substr(0, 12), 8,
       "value 2 is cut short"},
      {"line output cut inside a tag", "a_linea.dat", line.substr(0, line.size() - 1),
       line.size() - 2, "cut short inside its tag"},
      {"line output with an odd number of values", "a_linea.dat", line.substr(0, line.size() - 2),
       line.size() - 2, "odd number"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_bytes(dir.file(c.name), c.bytes);
    Result r = run_compactor({"dump", dir.file(c.name), "--json"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("at offset " + std::to_string(c.offset) + ": "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
}

TEST(DumpTest, UnreadableFilesAndUnknownNames) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.path() / "folder.dat");
  Result missing = run_compactor({"dump", dir.file("missing.sim")});
  EXPECT_EQ(missing.exit_status, 3);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
  EXPECT_EQ(run_compactor({"dump", dir.file("folder.dat")}).exit_status, 3);

  // A name that tells nothing needs --as; --as also overrides a telling name.
  write_bytes(dir.file("copy.bin"), read_bytes(output_path(test::kGrid)));
  EXPECT_EQ(run_compactor({"dump", dir.file("copy.bin")}).exit_status, 2);
  Result as_grid = run_compactor({"dump", dir.file("copy.bin"), "--as", "grid"});
  EXPECT_EQ(as_grid.exit_status, 0);
  EXPECT_EQ(as_grid.out, run_compactor({"dump", output_path(test::kGrid)}).out);
  Result as_records = run_compactor({"dump", output_path(test::kGrid), "--as", "sim"});
  EXPECT_EQ(as_records.exit_status, 1);  // a grid read as records does not fit

  EXPECT_EQ(run_compactor({"dump", dir.file("copy.bin"), "--as", "plan"}).exit_status, 2);
  EXPECT_EQ(run_compactor({"dump", output_path(test::kGrid), "--every", "10"}).exit_status, 2);
  EXPECT_EQ(run_compactor({"dump", output_path(test::kPlan), "--every", "0"}).exit_status, 2);
  EXPECT_EQ(run_compactor({"dump"}).exit_status, 2);
}

TEST(DumpTest, TextsAreEscapedInBothForms) {
  EXPECT_EQ(json_string("a\"b\\c\n\x01\xC8"), "\"a\\\"b\\\\c\\n\\u0001\\u00C8\"");
  std::array<ScenarioItem, kItemCount> items;
  items[1].kind = 8;
  items[1].text = "SAN \"X\"\xC8";
  const std::string text = dump_records(items, 0, false);
  EXPECT_NE(text.find("text \"SAN \\\"X\\\"\\xC8\""), std::string::npos) << text;
  const Json j = parse_json(dump_records(items, 0, true));
  EXPECT_EQ(j.at("records").array[1].at("text").string, "SAN \"X\"\xC8");
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
