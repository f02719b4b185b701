// The decompile: decode the outputs, recover each section's records, recognise the cab-code
// pass's points by running the compile, and compile the result to name what it does not give
// back.
#include "decompiler/decompile.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "compiler/compile.h"
#include "decompiler/recover.h"
#include "format/decode.h"
#include "format/outputs.h"
#include "scenario/texts.h"

namespace compactor {

namespace {

std::string decode_problem(const char* output, const DecodeError& e) {
  return std::string(output) + ": at offset " + number(static_cast<int64_t>(e.offset)) + ": " +
         e.reason + "; nothing of it is recovered";
}

DecodedOutputs decode_outputs(const OutputSources& in) {
  DecodedOutputs d;
  d.m.line_id = in.line_id;
  d.m.train_number = in.train_number;
  clear_items(d.m);
  DecodeError e;
  if (in.records) {
    if (auto items = decode_records(*in.records, e)) {
      d.m.items = *items;
    } else {
      d.unrecovered.push_back(decode_problem("record output", e));
    }
  }
  if (in.grid) {
    if (auto grid = decode_grid(*in.grid, e); grid && !grid->empty()) {
      d.m.track_grid = std::move(*grid);
      d.m.grid_last = static_cast<int32_t>(d.m.track_grid.size() - 1);
    } else {
      d.unrecovered.push_back(grid ? std::string("grid output: it holds no cell")
                                   : decode_problem("grid output", e));
    }
  }
  if (in.line) {
    if (read_plan(*in.line, d, e)) {
      d.with_plan = true;
    } else if (!d.line_unreadable) {
      d.unrecovered.push_back(decode_problem("line output", e));
    }
  }
  return d;
}

struct CompiledSources {
  Model m;
  PassOutcome outcome = PassOutcome::kNoGrid;
  size_t own_errors = 0;   // the errors of the program's own, counted when asked for
  std::string train_text;  // the train source compiled
};

// Compiles the written sources. The errors of the program's own (a lone CR, a NUL byte) leave
// the outcome alone but stop every compile from writing outputs; `count_own_errors` counts them.
void compile_texts(const std::string& line, const std::string& train, bool with_plan,
                   CompiledSources& out, bool count_own_errors = false) {
  Sources s;
  s.line = {line_source_name(out.m), line, false};
  s.train = {train_source_name(out.m), train, false};
  std::vector<Warning> none_kept;
  if (count_own_errors) {
    s.warnings = &none_kept;
    s.max_kept_warnings = 0;
  }
  out.outcome = compile_model(out.m, with_plan, s);
  out.own_errors = s.errors_not_kept;
}

constexpr int kMostRounds = 4;

// The rounds of code_points: the points found, and the compile of the last round, with or
// without the plan; `final` when that round found nothing more, and so compiled the sources as
// they are written.
struct CodePointRounds {
  std::vector<SourceLine> found;
  std::string text;  // the train source the last round compiled
  CompiledSources last;
  bool last_with_plan = false;
  bool final = false;
};

// The train source's code points: those of the outputs that the compile of the other records,
// cab-code pass included, does not put there. A point the author wrote moves the pass's own, so
// the compile runs again with them until nothing more is found. The rounds from
// `first_with_plan` on compile with the plan when the outputs have one.
CodePointRounds code_point_rounds(const DecodedOutputs& d, const std::string& line,
                                  const std::vector<SourceSection>& train, int first_with_plan) {
  CodePointRounds r;
  r.found = certain_code_points(d.m.track_grid);
  std::string sections;  // the train source up to its code points
  for (const SourceSection& section : train) append_section(sections, section);
  for (int round = 0; round < kMostRounds && !r.final; ++round) {
    r.text = sections;
    append_section(r.text, {"[codici]", r.found});
    append_end(r.text);
    r.last = CompiledSources{};
    r.last.m.line_id = d.m.line_id;
    r.last.m.train_number = d.m.train_number;
    r.last_with_plan = d.with_plan && round >= first_with_plan;
    // Only a round that can serve as the check looks for warnings, to count the program's own
    // errors: the others spare that work.
    compile_texts(line, r.text, r.last_with_plan, r.last, r.last_with_plan == d.with_plan);
    std::vector<SourceLine> more = recover_code_points(d.m.track_grid, r.last.m.track_grid);
    r.final = more.empty();
    for (SourceLine& l : more) r.found.push_back(std::move(l));
    std::stable_sort(r.found.begin(), r.found.end(), [](const SourceLine& a, const SourceLine& b) {
      return std::stoll(a.values[0]) < std::stoll(b.values[0]);
    });
  }
  return r;
}

// The code points, found so that the compile of the last round can serve as the check's
// (`checked`), which needs the plan when the outputs have one. The first round starts from the
// points only the author can have written, so it is most often the only round, and compiles with
// the plan. The plan moves no cell: a compile with it that records no error gives the grid of one
// without it. One that records an error may have stopped where one without it goes on: then the
// rounds run again without the plan, and the check compiles on its own.
std::vector<SourceLine> code_points(const DecodedOutputs& d, const std::string& line,
                                    const std::vector<SourceSection>& train,
                                    std::optional<CompiledSources>& checked) {
  CodePointRounds r = code_point_rounds(d, line, train, 0);
  const CompiledSources& c = r.last;
  if (r.last_with_plan && (c.outcome != PassOutcome::kReady || c.m.error_code != 0)) {
    return code_point_rounds(d, line, train, kMostRounds).found;
  }
  if (r.final && r.last_with_plan == d.with_plan) {
    checked = std::move(r.last);
    checked->train_text = std::move(r.text);
  }
  return std::move(r.found);
}

auto record_fields(const ScenarioItem& r) {
  return std::tie(r.kind, r.value1, r.value2, r.value3, r.mark, r.text, r.num1, r.num2, r.num3,
                  r.num4, r.num5, r.flag1, r.flag2, r.flag3, r.flag4, r.check_code);
}

auto cell_fields(const TrackCell& c) {
  return std::tie(c.kind, c.param1, c.param2, c.param3, c.param4, c.signal_time, c.approach_code,
                  c.tunnel_type, c.speed_limit, c.gradient_code, c.adhesion);
}

// The differing places named at most, so that a grid that is all wrong stays readable.
constexpr size_t kMostNamed = 20;

void compare_records(const DecodedOutputs& d, const Model& got, std::vector<std::string>& out) {
  for (int n = 0; n < kItemCount; ++n) {
    if (record_fields(d.m.items[n]) != record_fields(got.items[n])) {
      out.push_back("record output: record " + number(n) +
                    " differs from what the written sources compile to");
      if (out.size() >= kMostNamed) return;
    }
  }
}

void compare_grid(const DecodedOutputs& d, const Model& got, std::vector<std::string>& out) {
  const auto& want = d.m.track_grid;
  const auto& have = got.track_grid;
  if (want.size() != have.size()) {
    out.push_back("grid output: " + number(static_cast<int64_t>(want.size())) +
                  " cells, where the line length gives " +
                  number(static_cast<int64_t>(have.size())));
    return;
  }
  for (size_t c = 0; c < want.size(); ++c) {
    if (cell_fields(want[c]) == cell_fields(have[c])) continue;
    size_t last = c;
    while (last + 1 < want.size() && cell_fields(want[last + 1]) != cell_fields(have[last + 1])) {
      ++last;
    }
    out.push_back("grid output: cells " + number(static_cast<int64_t>(c)) + " to " +
                  number(static_cast<int64_t>(last)) + " (" + number(static_cast<int64_t>(c) * 50) +
                  " m) differ from what the written sources compile to");
    c = last;
    if (out.size() >= kMostNamed) break;
  }
}

// The line output compared: by outline when the walk found one and the compiled plan has the same,
// else a piece at a time, as the compile writes it, each with as many bytes read from the file;
// false when they cannot be read.
bool compare_line(const ByteSource& want, const DecodedOutputs& d, const Model& got,
                  std::vector<std::string>& out) {
  if (d.outline) {
    const std::optional<PlanOutline> compiled = got.plan.outline();
    if (compiled && same_outline(*d.outline, *compiled)) return true;
  }
  uint64_t at = 0;
  bool same = line_output_size(got) == want.size;
  bool read = true;
  std::vector<char> piece;
  if (same) {
    encode_line_output_in_pieces(got, [&](const char* data, size_t size) {
      if (piece.size() < size) piece.resize(size);
      read = want.read(at, piece.data(), size);
      same = read && std::memcmp(piece.data(), data, size) == 0;
      at += size;
      return same;
    });
  }
  if (!read) return false;
  if (same) return true;
  out.push_back(
      "line output: the plan differs from what the written curve records give, from "
      "byte " +
      number(static_cast<int64_t>(at)) + " on");
  return true;
}

// Every output the sources do not give back, byte for byte.
// `checked`, when given, is the compile of the two texts, with the plan when the outputs have one.
void verify(const OutputSources& in, DecodedOutputs& d, const Decompiled& result,
            std::optional<CompiledSources>& checked, std::vector<std::string>& out) {
  if (!checked) {
    CompiledSources& made = checked.emplace();
    made.m.line_id = d.m.line_id;
    made.m.train_number = d.m.train_number;
    compile_texts(result.line_source, result.train_source, d.with_plan, made, true);
  }
  const CompiledSources& c = *checked;
  if (c.own_errors != 0) {
    out.push_back("the written sources hold " + number(static_cast<int64_t>(c.own_errors)) +
                  " error(s) that stop a compile from writing outputs (a text with a CR or a "
                  "NUL byte): no source gives these outputs");
  }
  if (c.outcome != PassOutcome::kReady || c.m.error_code != 0) {
    out.push_back("the written sources compile with error " + number(c.m.error_code) +
                  ": the outputs were not made by an error-free compile");
    if (!c.m.has_grid()) return;
  }
  if (in.records && encode_record_output(c.m) != *in.records) compare_records(d, c.m, out);
  if (in.grid && d.m.has_grid() && encode_grid_output(c.m) != *in.grid) compare_grid(d, c.m, out);
  if (in.line && d.with_plan && !compare_line(*in.line, d, c.m, out)) d.line_unreadable = true;
}

}  // namespace

Decompiled decompile(const OutputSources& in) {
  DecodedOutputs d = decode_outputs(in);
  Decompiled result;
  if (!in.records || !in.grid) {
    result.unrecovered.push_back(std::string(in.records ? "grid" : "record") +
                                 " output: there is none; the sources cannot be recovered");
  }
  if (!d.m.has_grid() || d.line_unreadable) {
    result.unrecovered.insert(result.unrecovered.end(), d.unrecovered.begin(), d.unrecovered.end());
    result.line_unreadable = d.line_unreadable;
    return result;
  }
  result.line_source = source_text(recover_line(d));
  std::vector<SourceSection> train = recover_train(d);
  std::optional<CompiledSources> checked;
  std::vector<SourceLine> points = code_points(d, result.line_source, train, checked);
  train.push_back({"[codici]", std::move(points)});
  result.train_source = source_text(train);
  // The check stands for the compile of the text written only when it compiled that very text.
  if (checked && checked->train_text != result.train_source) checked.reset();
  result.unrecovered = d.unrecovered;
  if (d.unrecovered.empty()) verify(in, d, result, checked, result.unrecovered);
  if (d.line_unreadable) return Decompiled{{}, {}, {}, true};
  return result;
}

Decompiled decompile(const CompiledOutputs& in) {
  OutputSources sources{in.line_id, in.train_number, in.records, in.grid, std::nullopt};
  if (in.line) sources.line = bytes_in_memory(*in.line);
  return decompile(sources);
}

}  // namespace compactor
