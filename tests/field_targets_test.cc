// The table of record kinds against the readers: each field lands where its target says, with its
// transform, and each kind fills the cell its placement names. The docs' table of station values
// names the same slots.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "compiler/cells.h"
#include "syntax/record_kinds.h"
#include "format/layouts.h"
#include "model/roles.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::compile_in_memory;
using test::crlf;

// A record of each kind with a value for every field, and the records it needs before it: a
// station is tested as the second one, since the first clears its flags.
struct Sample {
  std::string written_keyword;  // a repetition's keyword must hold its number of codes
  std::vector<std::string> values;
  std::vector<std::string> before;
};

const std::map<std::string, Sample>& samples() {
  static const std::map<std::string, Sample> kSamples = {
      {"lunghezza percorso", {"lunghezza percorso", {"9000"}, {}}},
      {"progressiva chilometrica tre", {"progressiva chilometrica tre", {"1000", "2000", "1"}, {}}},
      {"progressiva chilometrica due", {"progressiva chilometrica due", {"1050", "2050", "1"}, {}}},
      {"progressiva chilometrica uno", {"progressiva chilometrica uno", {"1100", "2100", "1"}, {}}},
      {"sfondo uno", {"sfondo uno", {"11"}, {}}},
      {"sfondo due", {"sfondo due", {"12"}, {}}},
      {"sfondo tre", {"sfondo tre", {"13"}, {}}},
      {"ripetizione segnali", {"ripetizione segnali 4 codici", {"1000", "5000"}, {}}},
      {"pendenza", {"pendenza", {"1000", "-7"}, {}}},
      {"montagna", {"montagna", {"3000", "3550", "12"}, {}}},
      {"indicatori_vmax",
       {"indicatori_vmax", {"2000", "140", "145", "155", "2", "80", "90", "95", "3"}, {}}},
      {"cartello_indicatore", {"cartello_indicatore", {"2500", "(GALLERIA)"}, {}}},
      {"percentuale massa frenata", {"percentuale massa frenata", {"135"}, {}}},
      {"numero vetture", {"numero vetture", {"12"}, {}}},
      {"velocita", {"velocita", {"1000", "60"}, {}}},
      {"aderenza", {"aderenza", {"1000", "300"}, {}}},
      {"orologio", {"orologio", {"19", "7", "30"}, {}}},
      {"sabbia", {"sabbia", {"200"}, {}}},
      {"segnale", {"segnale", {"2000", "2", "3", "1", "4", "5", "1", "6", "7", "8", "50"}, {}}},
      {"rallentamento", {"rallentamento", {"5000", "60", "500", "3", "1", "70000"}, {}}},
      {"abbattimento", {"abbattimento", {"3000", "120"}, {}}},
      {"stazione",
       {"stazione",
        {"3000", "12", "600", "3", "4", "5", "11", "12", "6", "13", "14", "15", "7", "2", "30",
         "45", "SECONDA"},
        {"stazione, 1000, 12, 600, 0, 0, 0, 1, 1, 0, 4, 1, 1, 0, 0, 0, 0, PRIMA"}}},
  };
  return kSamples;
}

// The source pair with `record` in its section, after the records every compile needs.
std::pair<std::string, std::string> sources_with(const RecordKind& kind, const Sample& sample,
                                                 const std::string& record) {
  std::vector<std::string> general = {"[generale]", "lunghezza percorso, 10000"};
  std::vector<std::string> features = {"[pendenze]", "pendenza, 0, 0"};
  std::vector<std::string> train = {"[generale]", "velocita, 0, 100"};
  std::vector<std::string>& section = kind.section == RecordSection::kLineGeneral    ? general
                                      : kind.section == RecordSection::kLineFeatures ? features
                                                                                     : train;
  section.insert(section.end(), sample.before.begin(), sample.before.end());
  section.push_back(record);
  general.insert(general.end(), features.begin(), features.end());
  general.push_back("[fine]");
  train.push_back("[fine]");
  return {crlf(general), crlf(train)};
}

// The record a role's first record lands in, in the compile above.
int record_of(RecordRole role) {
  switch (role) {
    case RecordRole::kStation:
      return kFirstStationRecord + 1;  // the sample's station comes second
    case RecordRole::kBoardText:
      return kLastBoardTextRecord;
    case RecordRole::kChainage:
      return kFirstChainageRecord;  // a lone chainage record comes first once ordered
    case RecordRole::kLineData:
      return kLineDataRecord;
    case RecordRole::kLineIdentity:
      return kLineIdentityRecord;
    case RecordRole::kTrainIdentity:
      return kTrainIdentityRecord;
    case RecordRole::kNone:
      break;
  }
  return -1;
}

using Members = std::vector<std::pair<std::string_view, const void*>>;

// Where each named member of a record role stands, as its view names it.
Members record_members(const ScenarioItem& r, RecordRole role) {
  switch (role) {
    case RecordRole::kStation: {
      const StationRecord v(r);
      return {{"extent_start", &v.extent_start},
              {"extent_end", &v.extent_end},
              {"position", &v.position},
              {"kind", &v.kind},
              {"mark", &v.mark},
              {"name", &v.name},
              {"num1", &v.num1},
              {"num2", &v.num2},
              {"num3", &v.num3},
              {"num4", &v.num4},
              {"num5", &v.num5},
              {"flag1", &v.flag1},
              {"flag2", &v.flag2},
              {"flag3", &v.flag3},
              {"flag4", &v.flag4},
              {"scheduled_time", &v.scheduled_time}};
    }
    case RecordRole::kBoardText:
      return {{"text", &BoardTextRecord(r).text}};
    case RecordRole::kChainage: {
      const ChainageRecord v(r);
      return {{"key", &v.key}, {"chainage", &v.chainage}, {"direction", &v.direction}};
    }
    case RecordRole::kLineData: {
      const LineDataRecord v(r);
      return {{"braked_mass", &v.braked_mass},
              {"line_length", &v.line_length},
              {"coaches", &v.coaches}};
    }
    case RecordRole::kLineIdentity: {
      const LineIdentityRecord v(r);
      return {{"line_id", &v.line_id},
              {"background_uno", &v.background_uno},
              {"background_tre", &v.background_tre},
              {"background_due", &v.background_due},
              {"stamp", &v.stamp},
              {"check_code", &v.check_code}};
    }
    case RecordRole::kTrainIdentity: {
      const TrainIdentityRecord v(r);
      return {{"train_number", &v.train_number},
              {"repetition_start", &v.repetition_start},
              {"repetition_end", &v.repetition_end},
              {"repetition_codes", &v.repetition_codes},
              {"sand", &v.sand},
              {"clock_hours", &v.clock_hours},
              {"clock_minutes", &v.clock_minutes},
              {"clock_seconds", &v.clock_seconds}};
    }
    case RecordRole::kNone:
      break;
  }
  return {};
}

// Where each named member of a cell stands: its own fields and those of its kind's view.
Members cell_members(const TrackCell& c, uint8_t kind) {
  Members out = {{"signal_time", &c.signal_time},     {"approach_code", &c.approach_code},
                 {"tunnel_type", &c.tunnel_type},     {"speed_limit", &c.speed_limit},
                 {"gradient_code", &c.gradient_code}, {"adhesion", &c.adhesion}};
  auto add = [&out](const Members& more) { out.insert(out.end(), more.begin(), more.end()); };
  if (kind == kSignal) {
    const SignalCell v(c);
    add({{"digits_1", &v.digits_1},
         {"digits_2", &v.digits_2},
         {"digits_3", &v.digits_3},
         {"type_code", &v.type_code}});
  } else if (kind == kSlowOrderStart || kind == kSlowOrderEnd || kind == kWarningBoard) {
    const SlowOrderCell v(c);
    add({{"speed", &v.speed}, {"value_d_v", &v.value_d_v}, {"value_f_tt", &v.value_f_tt}});
  } else if (kind == kSpeedBoard) {
    const SpeedBoardCell v(c);
    add({{"speeds_a", &v.speeds_a},
         {"speeds_b", &v.speeds_b},
         {"speeds_c", &v.speeds_c},
         {"stripes", &v.stripes}});
  } else if (kind == kCodePoint) {
    add({{"code", &CodePointCell(c).code}});
  }
  return out;
}

// A slot of a record or cell: its name in the layout and what it holds, found by its address.
struct Slot {
  std::string name;
  int64_t number = 0;
  std::string text;
};

template <class Layout, class Struct>
std::optional<Slot> slot_at(const Layout& layout, const Struct& s, const void* address) {
  std::optional<Slot> found;
  for_each_field(layout, [&]<class M>(const FieldLayout<Struct, M>& f) {
    if (static_cast<const void*>(&(s.*f.member)) != address) return;
    found = Slot{f.name, 0, ""};
    if constexpr (std::is_same_v<M, std::string>) {
      found->text = s.*f.member;
    } else {
      found->number = s.*f.member;
    }
  });
  return found;
}

std::optional<Slot> named_slot(const Members& members, std::string_view name, const auto& layout,
                               const auto& s) {
  for (const auto& [member, address] : members) {
    if (member == name) return slot_at(layout, s, address);
  }
  return std::nullopt;
}

int64_t number(const std::string& text) {
  return std::stoll(text);
}

// What a field's value becomes in its target, its parts' other values being 0.
int64_t transformed(const FieldTarget& target, int64_t v, int64_t direction) {
  switch (target.transform) {
    case Transform::kDividedBy5:
    case Transform::kSpeedPairD:
      return round_even(static_cast<double>(v) / 5.0);
    case Transform::kPlus100Low8:
      return (v + 100) & 0xFF;
    case Transform::kLow8:
      return v & 0xFF;
    case Transform::kLow16:
      return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF));
    case Transform::kTens:
      return v * 10;
    case Transform::kTimes3:
      return v * 3;
    case Transform::kSpeedPairS:
      return v * 20;
    case Transform::kHoursToSeconds:
      return v * 3600;
    case Transform::kMinutesToSeconds:
      return v * 60;
    case Transform::kPlus100ByDirection:
      return direction == 1 ? v + 100 : v;
    case Transform::kSignalTime:
      return v >= 1 && v <= 100 ? 101 : v & 0xFF;
    case Transform::kTunnelType:
      return v > 10 ? v - 10 : v;
    case Transform::kAsWritten:
    case Transform::kUnits:
    case Transform::kCleared:
      break;
  }
  return v;
}

bool same_target(const FieldTarget& a, const FieldTarget& b) {
  return a.place == b.place && a.role == b.role && std::string_view(a.member) == b.member;
}

// The field of a kind whose value picks its cell.
const FieldDescription* position_field(const RecordKind& kind, size_t& index) {
  for (index = 0; index < kind.fields.size(); ++index) {
    if (kind.fields[index].target.rule != CellRule::kNone) return &kind.fields[index];
  }
  return nullptr;
}

// The sample's values for field `tested`, with every other part of the same member 0.
std::vector<std::string> values_for(const RecordKind& kind, const Sample& sample, size_t tested) {
  std::vector<std::string> values = sample.values;
  for (size_t i = 0; i < kind.fields.size(); ++i) {
    if (i != tested && same_target(kind.fields[i].target, kind.fields[tested].target)) {
      values[i].assign(1, '0');  // assign: g++ 12 warns falsely about = "0" here
    }
  }
  return values;
}

std::string record_line(const Sample& sample, const std::vector<std::string>& values) {
  std::string line = sample.written_keyword;
  for (const std::string& v : values) line += ", " + v;
  return line;
}

// The slot a field's target names, in a compile of `values`.
std::optional<Slot> landed(const Model& m, const RecordKind& kind,
                           const std::vector<std::string>& values, const FieldTarget& target) {
  if (target.place == FieldPlace::kRecord) {
    const ScenarioItem& r = m.record(record_of(target.role));
    return named_slot(record_members(r, target.role), target.member, kRecordLayout, r);
  }
  size_t at = 0;
  const FieldDescription* position = position_field(kind, at);
  if (position == nullptr) return std::nullopt;
  const int64_t c = cell_by_rule(number(values[at]), position->target.rule);
  if (c < 0 || c > m.grid_last) return std::nullopt;
  const TrackCell& cell = m.track_grid[static_cast<size_t>(c)];
  if (target.cell_kind != kFree && cell.kind != target.cell_kind) return std::nullopt;
  return named_slot(cell_members(cell, cell.kind), target.member, kCellLayout, cell);
}

bool lands_directly(const FieldTarget& target) {
  return target.place == FieldPlace::kRecord || target.place == FieldPlace::kCell ||
         target.place == FieldPlace::kCellsFromHere;
}

// Each field whose value lands directly in a record or a cell: a compile of the kind's sample,
// its other parts 0, puts the value there as the field's transform says.
TEST(FieldTargets, EachValueLandsWhereTheTableSays) {
  for (const RecordKind& kind : record_kinds()) {
    for (size_t i = 0; i < kind.fields.size(); ++i) {
      const FieldDescription& field = kind.fields[i];
      if (!lands_directly(field.target)) continue;
      SCOPED_TRACE(std::string(kind.keyword) + ", " + field.name);
      auto sample = samples().find(kind.keyword);
      ASSERT_NE(sample, samples().end()) << "no sample record for this kind";
      const std::vector<std::string> values = values_for(kind, sample->second, i);
      auto [line, train] = sources_with(kind, sample->second, record_line(sample->second, values));
      test::Compiled c = compile_in_memory(line, train, {.with_plan = 0, .read_only = true});
      ASSERT_EQ(c.m.error_code, 0) << line << train;
      const std::optional<Slot> slot = landed(c.m, kind, values, field.target);
      ASSERT_TRUE(slot) << "no member " << field.target.member << " where the table says";
      if (field.type == FieldType::kText) {
        EXPECT_EQ(slot->text, values[i]) << "in " << slot->name;
        continue;
      }
      const FieldDescription* direction = find_field(kind, "direction");
      const int64_t direction_value =
          direction ? number(values[static_cast<size_t>(direction - kind.fields.data())]) : 0;
      EXPECT_EQ(slot->number, transformed(field.target, number(values[i]), direction_value))
          << "in " << slot->name << " (" << transform_text(field.target.transform) << ")";
    }
  }
}

// A kind that names a cell kind in its placement gives the cell its position picks that kind.
TEST(FieldTargets, EachKindFillsTheCellItsPlacementNames) {
  for (const RecordKind& kind : record_kinds()) {
    if (kind.placement.cell_kind == kFree) continue;
    SCOPED_TRACE(kind.keyword);
    auto sample = samples().find(kind.keyword);
    ASSERT_NE(sample, samples().end()) << "no sample record for this kind";
    size_t at = 0;
    const FieldDescription* position = position_field(kind, at);
    ASSERT_NE(position, nullptr) << "a kind that fills a cell has a position";
    auto [line, train] =
        sources_with(kind, sample->second, record_line(sample->second, sample->second.values));
    test::Compiled c = compile_in_memory(line, train, {.with_plan = 0, .read_only = true});
    ASSERT_EQ(c.m.error_code, 0);
    const int64_t cell = cell_by_rule(number(sample->second.values[at]), position->target.rule);
    EXPECT_EQ(c.m.track_grid[static_cast<size_t>(cell)].kind, kind.placement.cell_kind);
  }
}

// Every member the table names is one that a view of its role or cell kind has.
TEST(FieldTargets, TheTableNamesMembersTheViewsHave) {
  const ScenarioItem item;
  for (const RecordKind& kind : record_kinds()) {
    for (const FieldDescription& field : kind.fields) {
      const FieldTarget& t = field.target;
      SCOPED_TRACE(std::string(kind.keyword) + ", " + field.name);
      if (t.place == FieldPlace::kRecord) {
        EXPECT_TRUE(named_slot(record_members(item, t.role), t.member, kRecordLayout, item));
      } else if (t.place == FieldPlace::kCell || t.place == FieldPlace::kCellsFromHere) {
        const TrackCell cell;
        EXPECT_TRUE(named_slot(cell_members(cell, t.cell_kind), t.member, kCellLayout, cell));
      } else {
        EXPECT_STREQ(t.member, "") << "a value that lands nowhere names no member";
      }
    }
  }
}

// --- The reference ---------------------------------------------------------------------------

std::vector<std::string> code_spans(const std::string& cell) {
  std::vector<std::string> spans;
  for (size_t open = cell.find('`'); open != std::string::npos;) {
    size_t close = cell.find('`', open + 1);
    if (close == std::string::npos) break;
    spans.push_back(cell.substr(open + 1, close - open - 1));
    open = cell.find('`', close + 1);
  }
  return spans;
}

std::vector<std::string> cells_of_row(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line.substr(1, line.rfind('|') - 1));
  for (std::string cell; std::getline(in, cell, '|');) cells.push_back(cell);
  return cells;
}

// docs/formats.md's table of station values names, for each value, the slot of the record output
// that the table of record kinds sends it to.
TEST(FieldTargets, TheReferenceNamesTheSlotsOfTheStationValues) {
  std::ifstream in(COMPACTOR_SOURCE_DIR "/docs/formats.md", std::ios::binary);
  const RecordKind* station = nullptr;
  for (const RecordKind& k : record_kinds()) {
    if (std::string_view(k.keyword) == "stazione") station = &k;
  }
  ASSERT_NE(station, nullptr);
  const std::string header = "| # | Value | Type | Stored in record n | Notes |";
  bool in_table = false;
  size_t fields_seen = 0;
  const ScenarioItem item;
  for (std::string line; std::getline(in, line);) {
    if (line == header) in_table = true;
    if (!in_table || line == header || line.rfind("|---", 0) == 0) continue;
    if (line.empty() || line[0] != '|') break;
    const std::vector<std::string> cells = cells_of_row(line);
    ASSERT_EQ(cells.size(), 5u) << line;
    const std::vector<std::string> names = code_spans(cells[1]);
    const std::vector<std::string> slots = code_spans(cells[3]);
    for (size_t n = 0; n < names.size(); ++n) {
      const FieldDescription* field = find_field(*station, names[n]);
      ASSERT_NE(field, nullptr) << line;
      ++fields_seen;
      if (field->target.place != FieldPlace::kRecord) {
        EXPECT_TRUE(slots.empty()) << line;
        continue;
      }
      const std::string& slot = slots.size() == names.size() ? slots[n] : slots.at(0);
      std::optional<Slot> named = named_slot(record_members(item, RecordRole::kStation),
                                             field->target.member, kRecordLayout, item);
      ASSERT_TRUE(named) << line;
      EXPECT_EQ(named->name, slot) << line;
    }
  }
  EXPECT_EQ(fields_seen, station->fields.size()) << "docs/formats.md: every station value";
}

}  // namespace
}  // namespace compactor
