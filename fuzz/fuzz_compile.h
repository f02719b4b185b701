// Shared by the fuzz targets: one whole compile in memory, then the checks that every compile
// must pass whatever its sources held. A failed check aborts, which the fuzzer reports as a crash.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/diagnostics.h"
#include "compiler/compiler.h"
#include "model/errors.h"
#include "model/model.h"
#include "format/decode.h"
#include "format/layouts.h"
#include "format/outputs.h"
#include "compiler/compile.h"

namespace compactor::fuzz {

inline constexpr const char* kLineName = "QUELDRANO 2_linea.txt";
inline constexpr const char* kTrainName = "QUELDRANO 2_555-.txt";

// True when every field of a layout holds the same in a and b.
template <class Layout, class Struct>
bool same_fields(const Layout& layout, const Struct& a, const Struct& b) {
  bool same = true;
  for_each_field(layout, [&](const auto& f) { same = same && a.*f.member == b.*f.member; });
  return same;
}

[[noreturn]] inline void check_failed(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(cond) \
  ((cond) ? static_cast<void>(0) : ::compactor::fuzz::check_failed(#cond, __FILE__, __LINE__))

inline SourceFile source(const char* name, std::optional<std::string> bytes) {
  SourceFile f;
  f.name = name;
  f.bytes = std::move(bytes);
  return f;
}

inline std::string_view bytes_of(const Sources& s, const std::string& file) {
  if (file == s.line.name && s.line.bytes) return *s.line.bytes;
  if (file == s.train.name && s.train.bytes) return *s.train.bytes;
  return {};
}

// A position a diagnostic points at lies in a source that exists.
inline void check_position(const SourcePos& p, const Sources& s) {
  if (p.file.empty()) return;
  FUZZ_CHECK(p.file == s.line.name || p.file == s.train.name);
  if (p.line == 0) return;
  const std::optional<std::string>& bytes = p.file == s.line.name ? s.line.bytes : s.train.bytes;
  FUZZ_CHECK(bytes.has_value());
  FUZZ_CHECK(p.offset >= 0 && static_cast<size_t>(p.offset) <= bytes->size());
  FUZZ_CHECK(p.column >= 1);
}

inline bool known_kind(uint8_t k) {
  return k <= kSpeedBoard || (k >= kStopMark && k <= kIndicationBoard);
}

// The plan of the line is built for inputs of odd length only: building it costs ten times the
// rest of a compile, and a run without it covers the reader's other paths much faster.
inline int32_t plan_for(size_t input_size) {
  return input_size % 2 != 0 ? 1 : 0;
}

// Compiles the sources as the build run does and checks the model and the outputs it gives.
inline void compile_and_check(Sources& s, int32_t with_plan) {
  Model m;
  m.line_id = "QUELDRANO 2";
  m.train_number = "555";
  std::vector<Warning> warnings;
  s.warnings = &warnings;
  PassOutcome outcome = compile_model(m, with_plan, s);
  s.warnings = nullptr;

  // A line source that was there is always deleted; a train source only when it was there.
  if (s.line.bytes) FUZZ_CHECK(s.line.consumed);
  if (!s.train.bytes) FUZZ_CHECK(!s.train.consumed);
  // Every recorded error is one the program can explain.
  if (m.error_code != 0) FUZZ_CHECK(error_meaning(m.error_code)[0] != '\0');
  check_position(m.error_source, s);
  for (const Warning& w : warnings) {
    check_position(w.pos, s);
    FUZZ_CHECK(!format_warning(w.pos, bytes_of(s, w.pos.file), w.text).empty());
  }
  if (m.error_code != 0) FUZZ_CHECK(!format_error(m, bytes_of(s, m.error_source.file)).empty());

  if (outcome == PassOutcome::kNoGrid) {
    FUZZ_CHECK(m.error_code != 0);
    FUZZ_CHECK(!m.has_grid());
    return;
  }
  FUZZ_CHECK(m.has_grid());
  FUZZ_CHECK(m.grid_last >= 3);
  FUZZ_CHECK(m.track_grid.size() == static_cast<size_t>(m.grid_last) + 1);
  if (outcome != PassOutcome::kReady) return;

  for (const TrackCell& c : m.track_grid) FUZZ_CHECK(known_kind(c.kind));
  FUZZ_CHECK(m.tunnels.size() <= static_cast<size_t>(kMaxTunnels));
  size_t texts = 0;
  for (const ScenarioItem& r : m.items) {
    FUZZ_CHECK(r.text.size() <= 65535);
    texts += r.text.size();
  }
  // The outputs read back to the model they were written from.
  const std::string records = encode_record_output(m);
  FUZZ_CHECK(records.size() == kItemCount * 34 + texts);
  DecodeError error;
  auto items = decode_records(records, error);
  FUZZ_CHECK(items.has_value());
  for (size_t i = 0; i < items->size(); ++i) {
    FUZZ_CHECK(same_fields(kRecordLayout, (*items)[i], m.items[i]));
  }
  const std::string grid = encode_grid_output(m);
  FUZZ_CHECK(grid.size() == m.track_grid.size() * kCellBytes);
  auto cells = decode_grid(grid, error);
  FUZZ_CHECK(cells.has_value() && cells->size() == m.track_grid.size());
  for (size_t i = 0; i < cells->size(); ++i) {
    FUZZ_CHECK(same_fields(kCellLayout, (*cells)[i], m.track_grid[i]));
  }
  if (with_plan != 0) {
    const size_t points = static_cast<size_t>(m.plan_last) + 1;
    FUZZ_CHECK(m.plan.x.points() == points && m.plan.y.points() == points);
  } else {
    FUZZ_CHECK(m.plan.x.points() == 0 && m.plan.y.points() == 0);
  }
}

}  // namespace compactor::fuzz
