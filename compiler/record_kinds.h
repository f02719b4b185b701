// The record kinds of the two sources, described once as data: keyword, section, fields and
// meaning. The readers dispatch on this table and read each field as its entry says; the same
// table serves the author's documentation and the diagnostics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace compactor {

enum class FieldType : uint8_t {
  kText,   // everything up to the next comma or line end
  kInt32,  // a whole number of 32 bits
  kInt16,  // a whole number of 16 bits
  kUint8,  // a whole number from 0 to 255
};

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
};

// Where a record is read: the line source's general section, the rest of the line source, or
// the train source after its "[generale]" field.
enum class RecordSection : uint8_t { kLineGeneral, kLineFeatures, kTrain };

// How reading went on after a record.
enum class RecordStep : uint8_t {
  kNext,     // the record was read; go on with the next one
  kNotHere,  // the keyword stands for nothing in this compile (a curve without a plan)
  kLeave,    // end this source's records as its end would
  kStop,     // an error stops the source: nothing after it is done
  kFailed,   // a read failure (error 25)
};

struct ReaderContext;

struct RecordKind {
  const char* keyword;  // as the default sources write it
  RecordSection section;
  const char* test;  // how a keyword field is recognised
  bool (*matches)(std::string_view field);
  std::span<const FieldDescription> fields;
  const char* meaning;
  RecordStep (*read)(ReaderContext& cx);
  bool plan_only = false;  // read only when the plan of the line is built
};

// Every record kind, in the order in which a keyword field is tested: a field that holds the
// keywords of several kinds is read as each of them in turn.
std::span<const RecordKind> record_kinds();

// Numeric range of a field type.
int64_t field_type_min(FieldType type);
int64_t field_type_max(FieldType type);

// The values a field holds as written: its allowed range within its type's range, and its step.
int64_t field_least(const FieldDescription& field);
int64_t field_most(const FieldDescription& field);
bool field_holds(const FieldDescription& field, int64_t value);

// For a keyword field that no kind of the line source (`line_source`) or of the train source
// takes: the keyword of the kind it comes closest to, when that is a letter or two wrong,
// missing, extra or swapped, or only the letter case where the test is exact. Null otherwise.
const char* closest_keyword(std::string_view field, bool line_source);

// The field of `kind` with this name; null when it has none.
const FieldDescription* find_field(const RecordKind& kind, std::string_view name);

}  // namespace compactor
