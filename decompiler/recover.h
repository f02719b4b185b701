// The pieces of the decompile: the outputs decoded into a model, and the records recovered from
// it, section by section.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "decompiler/source_layout.h"
#include "format/decode.h"
#include "model/model.h"
#include "syntax/record_kinds.h"

namespace compactor {

// What the outputs hold, decoded: records and grid; the line output checked whole, its values
// read from its source in order where they are used (a long line's plan is millions of them).
struct DecodedOutputs {
  Model m;
  bool with_plan = false;  // the line output decodes
  // The curve records its plan gives, and the point where it stops giving them, if it does.
  std::vector<SourceLine> curves;
  std::string curve_problem;
  // The plan's outline, when the walk saw every value and they fit one with no NaN after the
  // first two: a compiled plan of the same outline has the same line output.
  std::optional<PlanOutline> outline;
  // The line output could not be read (or was no longer what the check found): nothing else counts.
  bool line_unreadable = false;
  std::vector<std::string> unrecovered;
};

std::string number(int64_t v);
// A record of `kind`, keyword as the table of record kinds writes it.
SourceLine line_of(KindId kind, std::vector<std::string> values);

// The records of a cell value that runs on up to the next record of its kind (gradient, speed,
// adhesion): one wherever the value changes, from 0 in force before the first. The last cell
// the compile fills is three before the end; those after it hold `unwritten` unless records at
// the last place a position can pick, two before the end, made the fill reach them.
void profile_lines(const Model& m, KindId kind, int64_t unwritten,
                   int64_t (*value_of)(const TrackCell&), std::vector<SourceLine>& out);

// Checks the line output and finds the curve records of its plan: in one pass when its halves are
// of one size, as those of every compile are, else check_line's pass and one more. False with
// `error` as check_line fails, or with d.line_unreadable set when the source cannot be read.
bool read_plan(const ByteSource& source, DecodedOutputs& d, DecodeError& error);

// The tunnel section: records that give the grid's tunnel types and tunnel markers. What no
// tunnel records give is added to `d.unrecovered`.
SourceSection tunnel_section(DecodedOutputs& d);
// The line source's sections: general data, curves, gradients, tunnels, speed boards,
// indication boards.
std::vector<SourceSection> recover_line(DecodedOutputs& d);
// The train source's sections, without the code points (recover_code_points adds them).
std::vector<SourceSection> recover_train(DecodedOutputs& d);
// The code points of a grid that only the author can have written: the cab-code pass inserts
// points of one code (kInsertedCode) and no point without a code.
std::vector<SourceLine> certain_code_points(const std::vector<TrackCell>& wanted);
// The code points of a grid that the cab-code pass did not insert: the cells where `compiled`
// (the train source compiled without them) differs from the outputs' grid. Where the compile put
// a point that the outputs do not hold, a point the author wrote has moved one of the pass's:
// those with the pass's own code then wait until no other is found, as they may be that one.
std::vector<SourceLine> recover_code_points(const std::vector<TrackCell>& wanted,
                                            const std::vector<TrackCell>& compiled);

}  // namespace compactor
