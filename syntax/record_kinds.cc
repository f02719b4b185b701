#include "syntax/record_kinds.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "syntax/lexer.h"

namespace compactor {

namespace {

using F = FieldType;

// --- Fields ------------------------------------------------------------------------------------

// Each field: name, type, unit, meaning, noun for messages, then the allowed range and step
// where the compiled form holds less than the type does.
constexpr FieldDescription kLineLength[] = {{"length", F::kInt32, "m",
                                             "the length of the line, 1 to 1,000,000 m",
                                             "line length", 1, 1000000}};
constexpr FieldDescription kChainage[] = {
    {"key", F::kInt32, "", "orders the three chainage records: the greatest key comes first", "key",
     INT64_MIN, INT64_MAX, 50},
    {"chainage", F::kInt32, "m", "the chainage shown at the start, a multiple of 50", "chainage",
     INT64_MIN, INT64_MAX, 50},
    {"direction", F::kInt32, "", "1 adds 100 m to the chainage", "direction"}};
constexpr FieldDescription kBackground[] = {
    {"background", F::kInt32, "", "a background picture number", "background"}};
constexpr FieldDescription kSignalRepetition[] = {
    {"start", F::kInt32, "m", "where signal repetition starts, a multiple of 50", "start",
     INT64_MIN, INT64_MAX, 50},
    {"end", F::kInt32, "m", "where it ends, a multiple of 50; 0: no repetition", "end", INT64_MIN,
     INT64_MAX, 50}};
constexpr FieldDescription kGradient[] = {
    {"position", F::kInt32, "m", "where the gradient starts", "position"},
    {"gradient", F::kInt32, "per mille", "the gradient from here on; stored plus 100 in a byte",
     "gradient", -100, 155}};
constexpr FieldDescription kCurve[] = {{"start", F::kInt32, "m", "where the curve starts", "start"},
                                       {"length", F::kInt32, "m", "the curve's length", "length"}};
constexpr FieldDescription kTunnel[] = {
    {"start", F::kInt32, "m", "where the tunnel starts", "start"},
    {"end", F::kInt32, "m", "where the tunnel ends", "end"},
    {"type", F::kInt32, "", "the tunnel type; above 10: type less 10, with markers",
     "tunnel type"}};
// A board packs each pair of speeds as (side s / 5) x 100 + side d / 5.
constexpr FieldDescription kSpeedBoards[] = {
    {"position", F::kInt32, "m", "the board's place", "position"},
    {"vas", F::kInt32, "km/h", "speed a, side s", "speed vas", 0, 495, 5},
    {"vbs", F::kInt32, "km/h", "speed b, side s", "speed vbs", 0, 495, 5},
    {"vcs", F::kInt32, "km/h", "speed c, side s", "speed vcs", 0, 495, 5},
    {"strisces", F::kInt32, "", "stripe count, side s", "stripe count strisces"},
    {"vad", F::kInt32, "km/h", "speed a, side d", "speed vad", 0, 495, 5},
    {"vbd", F::kInt32, "km/h", "speed b, side d", "speed vbd", 0, 495, 5},
    {"vcd", F::kInt32, "km/h", "speed c, side d", "speed vcd", 0, 495, 5},
    {"strisced", F::kInt32, "", "stripe count, side d", "stripe count strisced"}};
constexpr FieldDescription kIndicationBoard[] = {
    {"position", F::kInt32, "m", "the board's place", "position"},
    {"text", F::kText, "", "the board's text", "text"}};
constexpr FieldDescription kBrakedMass[] = {
    {"percentage", F::kInt32, "%", "the braked-mass percentage", "percentage"}};
constexpr FieldDescription kCoaches[] = {
    {"count", F::kInt32, "", "the number of coaches", "coach count"}};
constexpr FieldDescription kSpeed[] = {
    {"position", F::kInt32, "m", "where the speed limit changes", "position"},
    {"speed", F::kInt32, "km/h", "the limit from here on; stored as speed / 5 in a byte", "speed",
     0, 1275, 5}};
constexpr FieldDescription kAdhesion[] = {
    {"position", F::kInt32, "m", "where the adhesion changes", "position"},
    {"adhesion", F::kInt32, "", "the adhesion from here on; its low 8 bits are stored", "adhesion",
     0, 255}};
constexpr FieldDescription kClock[] = {{"hours", F::kInt16, "h", "the clock at the start", "hours"},
                                       {"minutes", F::kInt16, "min", "", "minutes", 0, 59},
                                       {"seconds", F::kInt16, "s", "", "seconds", 0, 59}};
constexpr FieldDescription kSand[] = {{"sand", F::kInt16, "", "the sand setting", "sand setting"}};
constexpr FieldDescription kSignal[] = {
    {"position", F::kInt32, "m", "the signal's place", "position"},
    {"sx", F::kInt32, "", "the type of side s; 2 gives the signal a time", "type sx"},
    {"s1", F::kInt32, "", "first digit, side s", "digit s1"},
    {"s2", F::kInt32, "", "second digit, side s", "digit s2"},
    {"s3", F::kInt32, "", "third digit, side s", "digit s3"},
    {"rapp", F::kInt32, "", "the relation digit", "digit rapp"},
    {"dx", F::kInt32, "", "the type of side d", "type dx"},
    {"d1", F::kInt32, "", "first digit, side d", "digit d1"},
    {"d2", F::kInt32, "", "second digit, side d", "digit d2"},
    {"d3", F::kInt32, "", "third digit, side d", "digit d3"},
    {"tempo", F::kInt32, "", "the signal's time, with sx = 2; 1 to 100 become 101", "time tempo"}};
constexpr FieldDescription kSlowOrder[] = {
    {"x", F::kInt32, "m", "where the slow order starts", "start x"},
    {"v", F::kInt32, "km/h", "its speed", "speed v"},
    {"l", F::kInt32, "m", "its length", "length l"},
    {"f_tt", F::kInt32, "", "stored in param3 of its start and end cells", "value f_tt"},
    {"f_ta", F::kInt32, "", "not 0: four approach cells before the warning board", "value f_ta"},
    {"d_v", F::kInt32, "", "not 0: stored in param2 of its cells", "value d_v"}};
constexpr FieldDescription kCodePoint[] = {
    {"position", F::kInt32, "m", "the cab-code point's place", "position"},
    {"code", F::kInt32, "", "the code; 0 or less: a point without a code", "code"}};
constexpr FieldDescription kStation[] = {
    {"position", F::kInt32, "m", "the station's place, a multiple of 50", "position", INT64_MIN,
     INT64_MAX, 50},
    {"kind", F::kUint8, "", "decides the station's extent and marks", "station kind"},
    {"length", F::kInt32, "m", "the platform length, a multiple of 100", "length", INT64_MIN,
     INT64_MAX, 100},
    {"mark", F::kUint8, "", "", "mark"},
    {"flag4", F::kUint8, "", "cleared below 600 m and for the first station", "flag4"},
    {"flag3", F::kUint8, "", "lengthens an ordinary station's extent by 50 m", "flag3"},
    {"num1", F::kInt16, "", "", "num1"},
    {"num2", F::kInt16, "", "", "num2"},
    {"flag1", F::kUint8, "", "", "flag1"},
    {"num3", F::kInt16, "", "", "num3"},
    {"num4", F::kInt16, "", "", "num4"},
    {"num5", F::kInt16, "", "", "num5"},
    {"flag2", F::kUint8, "", "", "flag2"},
    {"hours", F::kInt32, "h", "the scheduled time", "hours"},
    {"minutes", F::kInt32, "min", "", "minutes", 0, 59},
    {"seconds", F::kInt32, "s", "", "seconds", 0, 59},
    {"name", F::kText, "", "the station's name, up to the next comma", "name"}};

using S = RecordSection;
using K = KindId;

constexpr std::string_view kCurveKeywords[] = {"curvad1", "curvad2", "curvad3", "curvad4",
                                               "curvad5", "curvad6", "curvas1", "curvas2",
                                               "curvas3", "curvas4", "curvas5", "curvas6"};
constexpr std::string_view kRepetitionKeywords[] = {"ripetizione segnali 9 codici",
                                                    "ripetizione segnali 4 codici"};

// Each kind: id, keyword, section, the words its keyword field holds and whether letter case
// counts, fields, meaning.
constexpr RecordKind kKinds[] = {
    {K::kLineLength,
     "lunghezza percorso",
     S::kLineGeneral,
     {{"percorso", "lunghezza"}, true},
     kLineLength,
     "the length of the line; sizes the grid and the plan"},
    {K::kChainageTre,
     "progressiva chilometrica tre",
     S::kLineGeneral,
     {{"tre", "progressiva"}},
     kChainage,
     "a chainage record",
     false,
     {},
     "progressiva chilometrica"},
    {K::kChainageDue,
     "progressiva chilometrica due",
     S::kLineGeneral,
     {{"due", "progressiva"}},
     kChainage,
     "a chainage record",
     false,
     {},
     "progressiva chilometrica"},
    {K::kChainageUno,
     "progressiva chilometrica uno",
     S::kLineGeneral,
     {{"uno", "progressiva"}},
     kChainage,
     "a chainage record",
     false,
     {},
     "progressiva chilometrica"},
    {K::kBackgroundUno,
     "sfondo uno",
     S::kLineGeneral,
     {{"sfondo", "uno"}},
     kBackground,
     "the first background",
     false,
     {},
     "sfondo"},
    {K::kBackgroundDue,
     "sfondo due",
     S::kLineGeneral,
     {{"sfondo", "due"}},
     kBackground,
     "the second background",
     false,
     {},
     "sfondo"},
    {K::kBackgroundTre,
     "sfondo tre",
     S::kLineGeneral,
     {{"sfondo", "tre"}},
     kBackground,
     "the third background",
     false,
     {},
     "sfondo"},
    {K::kSignalRepetition,
     "ripetizione segnali",
     S::kLineGeneral,
     {{"segnali", "ripetizione"}},
     kSignalRepetition,
     "where signals are repeated in the cab; the keyword holds 4 or 9 codes",
     false,
     kRepetitionKeywords},
    {K::kGradient,
     "pendenza",
     S::kLineFeatures,
     {{"pendenza"}, true},
     kGradient,
     "a change of gradient"},
    {K::kCurve,
     "curva",
     S::kLineFeatures,
     {{"curva"}, true},
     kCurve,
     "a curve of the plan; the keyword's digit 1 to 6 is its class, an s turns it the other way",
     true,
     kCurveKeywords},
    {K::kTunnel, "montagna", S::kLineFeatures, {{"montagna"}, true}, kTunnel, "a tunnel"},
    {K::kSpeedBoards,
     "indicatori_vmax",
     S::kLineFeatures,
     {{"indicatori_v"}, true},
     kSpeedBoards,
     "a speed board"},
    {K::kIndicationBoard,
     "cartello_indicatore",
     S::kLineFeatures,
     {{"indicat", "cartello"}, true},
     kIndicationBoard,
     "an indication board with its text"},
    {K::kBrakedMass,
     "percentuale massa frenata",
     S::kTrain,
     {{"frenata", "massa"}, true},
     kBrakedMass,
     "the train's braked-mass percentage"},
    {K::kCoaches,
     "numero vetture",
     S::kTrain,
     {{"vetture"}, true},
     kCoaches,
     "the train's number of coaches"},
    {K::kSpeed, "velocita", S::kTrain, {{"velocit"}, true}, kSpeed, "a change of the speed limit"},
    {K::kAdhesion, "aderenza", S::kTrain, {{"aderenza"}, true}, kAdhesion, "a change of adhesion"},
    {K::kClock, "orologio", S::kTrain, {{"orologio"}, true}, kClock, "the clock at the start"},
    {K::kSand, "sabbia", S::kTrain, {{"sabbia"}, true}, kSand, "the sand setting"},
    {K::kSignal, "segnale", S::kTrain, {{"segnale"}, true}, kSignal, "a signal"},
    {K::kSlowOrder,
     "rallentamento",
     S::kTrain,
     {{"rallentamento"}, true},
     kSlowOrder,
     "a slow order"},
    {K::kCodePoint,
     "abbattimento",
     S::kTrain,
     {{"abbattimento"}, true},
     kCodePoint,
     "a cab-code point"},
    {K::kStation, "stazione", S::kTrain, {{"stazione"}, true}, kStation, "a station"},
};

}  // namespace

std::span<const RecordKind> record_kinds() {
  return kKinds;
}

const RecordKind& record_kind(KindId id) {
  return kKinds[static_cast<size_t>(id)];
}

bool matches(const RecordKind& kind, std::string_view field) {
  for (std::string_view word : kind.test.words) {
    if (word.empty()) continue;
    bool found = kind.test.any_case ? contains_any_case(field, word) : contains_exact(field, word);
    if (!found) return false;
  }
  return true;
}

namespace {

bool holds_word(const RecordKind& kind, std::string_view word) {
  for (std::string_view own : kind.test.words) {
    if (own == word) return true;
  }
  return false;
}

}  // namespace

bool matches_family(const RecordKind& kind, std::string_view field) {
  for (std::string_view word : kind.test.words) {
    if (word.empty()) continue;
    bool shared = true;
    for (const RecordKind& other : kKinds) {
      if (kind.family != nullptr && other.family != nullptr &&
          std::string_view(kind.family) == other.family && !holds_word(other, word)) {
        shared = false;
      }
    }
    if (!shared) continue;
    bool found = kind.test.any_case ? contains_any_case(field, word) : contains_exact(field, word);
    if (!found) return false;
  }
  return true;
}

const char* misplaced_keyword(std::string_view field, RecordSection section) {
  if (section == RecordSection::kLineGeneral) {
    for (const RecordKind& kind : kKinds) {
      if (kind.section == RecordSection::kLineFeatures && matches(kind, field)) return kind.keyword;
    }
  } else if (section == RecordSection::kLineFeatures) {
    for (const RecordKind& kind : kKinds) {
      if (kind.section == RecordSection::kLineGeneral && matches_family(kind, field)) {
        return kind.family != nullptr ? kind.family : kind.keyword;
      }
    }
  }
  return nullptr;
}

std::string keyword_test_text(const RecordKind& kind) {
  std::string text;
  for (std::string_view word : kind.test.words) {
    if (word.empty()) continue;
    if (!text.empty()) text.append(" and ");
    text.push_back('"');
    text.append(word);
    text.push_back('"');
  }
  if (kind.test.any_case) text.append(", any case");
  return text;
}

int64_t field_type_min(FieldType type) {
  switch (type) {
    case FieldType::kInt16:
      return INT16_MIN;
    case FieldType::kUint8:
      return 0;
    case FieldType::kInt32:
    case FieldType::kText:
      break;
  }
  return INT32_MIN;
}

int64_t field_type_max(FieldType type) {
  switch (type) {
    case FieldType::kInt16:
      return INT16_MAX;
    case FieldType::kUint8:
      return 255;
    case FieldType::kInt32:
    case FieldType::kText:
      break;
  }
  return INT32_MAX;
}

int64_t field_least(const FieldDescription& field) {
  return std::max(field.least, field_type_min(field.type));
}

int64_t field_most(const FieldDescription& field) {
  return std::min(field.most, field_type_max(field.type));
}

bool field_holds(const FieldDescription& field, int64_t value) {
  return value >= field_least(field) && value <= field_most(field) && value % field.step == 0;
}

namespace {

char folded(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr size_t kLongestCompared = 64;

// Edits (a letter replaced, inserted, deleted, or two neighbours swapped) from a to b, letter case
// folded, when they are at most `limit`; more than `limit` otherwise. `a` and `b` hold at most
// kLongestCompared bytes.
size_t edit_distance(std::string_view a, std::string_view b, size_t limit) {
  size_t longer = std::max(a.size(), b.size());
  if (longer - std::min(a.size(), b.size()) > limit) return limit + 1;
  size_t d[kLongestCompared + 1][kLongestCompared + 1];
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  size_t previous_row_least = 0;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t row_least = d[i][0];
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t cost = folded(a[i - 1]) == folded(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && folded(a[i - 1]) == folded(b[j - 2]) &&
          folded(a[i - 2]) == folded(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
      row_least = std::min(row_least, d[i][j]);
    }
    // A row comes from the one before it and, by a swap, the one before that: once two rows in
    // a row are past the limit, so is every later one.
    if (row_least > limit && previous_row_least > limit) return limit + 1;
    previous_row_least = row_least;
  }
  return d[a.size()][b.size()];
}

}  // namespace

const char* closest_keyword(std::string_view field, bool line_source) {
  size_t first = field.find_first_not_of(" \t");
  if (first == std::string_view::npos) return nullptr;
  field = field.substr(first, field.find_last_not_of(" \t") - first + 1);
  if (field.size() > kLongestCompared) return nullptr;
  const char* best = nullptr;
  size_t best_distance = SIZE_MAX;
  // A candidate is taken when it is within its limit and nearer than every one before it.
  auto consider = [&](std::string_view keyword) {
    size_t limit = 1 + keyword.size() / 8;  // one more for every 8 letters
    size_t distance = edit_distance(field, keyword, limit);
    if (distance <= limit && distance < best_distance) {
      best = keyword.data();  // the table's keywords are string literals
      best_distance = distance;
    }
  };
  for (const RecordKind& kind : kKinds) {
    if ((kind.section == RecordSection::kTrain) == line_source) continue;
    consider(kind.keyword);
    for (std::string_view written : kind.written) consider(written);
  }
  return best;
}

const FieldDescription* find_field(const RecordKind& kind, std::string_view name) {
  for (const FieldDescription& field : kind.fields) {
    if (name == field.name) return &field;
  }
  return nullptr;
}

}  // namespace compactor
