// The record kinds of the two sources, described once as data: keyword, section, the test that
// recognises a keyword field, fields and meaning. The syntax tree reads each field as its entry
// says; the compiler attaches a reader to each kind (by its id); the same table serves the
// author's documentation, the diagnostics and the language server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace compactor {

enum class FieldType : uint8_t {
  kText,   // everything up to the next comma or line end
  kInt32,  // a whole number of 32 bits
  kInt16,  // a whole number of 16 bits
  kUint8,  // a whole number from 0 to 255
};

// Texts go into the record output behind a 16-bit length.
constexpr size_t kMaxText = 65535;

// --- Where a field goes ------------------------------------------------------------------------

// The record roles of the record output (model/roles.h names their members).
enum class RecordRole : uint8_t {
  kNone,
  kStation,        // records 1 upwards, one per station in file order
  kBoardText,      // records 80 downwards, one per indication board
  kChainage,       // records 81 to 83, ordered by their keys
  kLineData,       // record 84
  kLineIdentity,   // record 85
  kTrainIdentity,  // record 86
};

// How a position in metres picks a cell of the grid.
enum class CellRule : uint8_t {
  kNone,
  kAt,      // P / 50
  kAfter,   // P / 50 + 1
  kBefore,  // P / 50 - 1
};

// Where a field's value goes.
enum class FieldPlace : uint8_t {
  kNowhere,        // the value decides where or whether other values go, and is not kept
  kRecord,         // a member of a record of `role`
  kCell,           // a field of the cell the record's position picks
  kCellsFromHere,  // a field of every cell from the record's position up to the next record's
  kPlan,           // the plan of the line
};

// What happens to a value on its way. A part is one of several values that add up in one
// member: the other parts are the fields of the same record with the same target.
enum class Transform : uint8_t {
  kAsWritten,
  kDividedBy5,          // rounded, halves to even
  kPlus100Low8,         // plus 100, its low 8 bits
  kLow8,                // its low 8 bits
  kLow16,               // its low 16 bits
  kTens,                // a part: × 10 (the pair's units are the side-d value)
  kUnits,               // a part: added as written
  kTimes3,              // a part: × 3
  kSpeedPairS,          // a part: (s / 5) × 100, with d / 5 added; the sum rounded, halves to even
  kSpeedPairD,          // a part: d / 5
  kHoursToSeconds,      // a part: × 3600
  kMinutesToSeconds,    // a part: × 60
  kPlus100ByDirection,  // plus 100 when the record's direction is 1
  kSignalTime,          // 1 to 100 become 101; 0 unless sx is 2; low 8 bits
  kTunnelType,          // above 10: less 10, with markers; 3 when close to the tunnel before
  kCleared,             // as written, unless the placement clears it (see the field's meaning)
};

struct FieldTarget {
  FieldPlace place = FieldPlace::kNowhere;
  RecordRole role = RecordRole::kNone;  // kRecord: which record
  uint8_t cell_kind = 0;                // kCell: the kind the placement gives the cell; 0: any
  const char* member = "";              // the member of the record role or of the cell kind's view
  Transform transform = Transform::kAsWritten;
  CellRule rule = CellRule::kNone;  // a position: how it picks its cell
  const char* what = "";            // a position: what that cell holds; else where the value goes
};

// What the records of a kind fill.
struct KindPlacement {
  RecordRole role = RecordRole::kNone;  // the record it fills, if any
  uint8_t cell_kind = 0;  // the kind of the cell its position picks, if it gives one (else 0)
  const char* text = "";
};

// A short text for a transform: "/ 5, rounded, halves to even".
const char* transform_text(Transform transform);

struct FieldDescription {
  const char* name;  // as an author calls it
  FieldType type;
  const char* unit;  // "m", "km/h", ... or "" for a plain number or a text
  const char* meaning;
  const char* noun;  // for messages: "the tunnel type (a whole number) is missing"
  // The values the compiled form holds as written: from `least` to `most` in steps of `step`
  // (counted from 0). The field type's own range applies as well.
  int64_t least = INT64_MIN;
  int64_t most = INT64_MAX;
  int64_t step = 1;
  FieldTarget target{};
};

// Where a record is read: the line source's general section, the rest of the line source, or
// the train source after its "[generale]" field.
enum class RecordSection : uint8_t { kLineGeneral, kLineFeatures, kTrain };

// Each kind, named; the order of the table, in which a keyword field is tested.
enum class KindId : uint8_t {
  kLineLength,
  kChainageTre,
  kChainageDue,
  kChainageUno,
  kBackgroundUno,
  kBackgroundDue,
  kBackgroundTre,
  kSignalRepetition,
  kGradient,
  kCurve,
  kTunnel,
  kSpeedBoards,
  kIndicationBoard,
  kBrakedMass,
  kCoaches,
  kSpeed,
  kAdhesion,
  kClock,
  kSand,
  kSignal,
  kSlowOrder,
  kCodePoint,
  kStation,
};

// How a keyword field is recognised: it holds every one of `words` (one or two), with ASCII
// letter case folded when `any_case`, exactly otherwise.
struct KeywordTest {
  std::string_view words[2];
  bool any_case = false;
};

struct RecordKind {
  KindId id;
  const char* keyword;  // as the default sources write it
  RecordSection section;
  KeywordTest test;
  std::span<const FieldDescription> fields;
  const char* meaning;
  bool plan_only = false;  // read only when the plan of the line is built
  // The keywords an author writes, when the keyword itself holds more ("curvad3",
  // "ripetizione segnali 9 codici"); suggestions for a misspelt keyword come from these too.
  std::span<const std::string_view> written = {};
  // The name shared by kinds that differ by a word ("progressiva chilometrica", "sfondo"), or null.
  const char* family = nullptr;
  KindPlacement placement{};
};

// Every record kind, in the order in which a keyword field is tested: a field that holds the
// keywords of several kinds is read as each of them in turn.
std::span<const RecordKind> record_kinds();
const RecordKind& record_kind(KindId id);

// Whether a keyword field starts a record of `kind`.
bool matches(const RecordKind& kind, std::string_view field);
// Whether a keyword field holds the words `kind` shares with every kind of its family: a record
// of the family, whichever one (the kind's own test when it has no family).
bool matches_family(const RecordKind& kind, std::string_view field);
// For a keyword field of the line source that no kind of `section` takes: the name of the kind
// of the other line section that it would start there, or null. A feature's keyword in the
// general section; in the feature part, a general record's, the words of its family enough
// ("progressiva chilometrica" for any field with "progressiva").
const char* misplaced_keyword(std::string_view field, RecordSection section);
// The keyword test as the documentation says it: "\"percorso\" and \"lunghezza\", any case".
std::string keyword_test_text(const RecordKind& kind);

// Numeric range of a field type.
int64_t field_type_min(FieldType type);
int64_t field_type_max(FieldType type);

// The values a field holds as written: its allowed range within its type's range, and its step.
int64_t field_least(const FieldDescription& field);
int64_t field_most(const FieldDescription& field);
bool field_holds(const FieldDescription& field, int64_t value);

// For a keyword field that no kind of the line source (`line_source`) or of the train source
// takes: the keyword of the kind, or the written keyword, it comes closest to, when that is a
// letter or two wrong, missing, extra or swapped (one more for every 8 letters of the keyword),
// letter case aside. Null otherwise.
const char* closest_keyword(std::string_view field, bool line_source);

// Whether a field that is not the "[generale]" field comes close to it: "[general]", "generale",
// "[generali]" (a letter or two wrong, missing, extra or swapped, letter case aside).
bool near_general_field(std::string_view field);

// Whether a field is written as a comment is in other files: it starts, after its blanks, with
// "#", "//" or ";". Such a field is no remark: a remark holds a hyphen.
bool looks_like_comment(std::string_view field);

// The field of `kind` with this name; null when it has none.
const FieldDescription* find_field(const RecordKind& kind, std::string_view name);

}  // namespace compactor
