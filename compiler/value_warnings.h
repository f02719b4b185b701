// Warnings about records that compile but cannot be meant: a value the compiled form does not
// hold as written, a place past the end of the line, a tunnel that ends before it starts, a
// position behind the one before it where the records fill the grid forward.
//
// Each record reader calls its helper once its fields are read and its position test passed,
// before it places anything. The helpers only add warning candidates: they change nothing in the
// model, and do nothing when the read collects no warnings.
#pragma once

#include <cstdint>

#include "compiler/reader.h"

namespace compactor {

// These weigh as much as a misplaced record: on a line with a position off the 50 m grid as
// well, they are the one shown.
constexpr int kRankValue = kRankMisplaced;

void warn_gradient(ReaderContext& cx, int32_t position, int32_t gradient);
void warn_curve(ReaderContext& cx, int32_t start, int32_t length);
void warn_tunnel(ReaderContext& cx, int32_t start, int32_t end);
void warn_speed_boards(ReaderContext& cx, int32_t position, const SpeedBoards& boards);
void warn_speed(ReaderContext& cx, int32_t position, int32_t speed);
void warn_adhesion(ReaderContext& cx, int32_t position, int32_t adhesion);
void warn_clock(ReaderContext& cx, int64_t hours, int64_t minutes, int64_t seconds);
void warn_station(ReaderContext& cx, int32_t position, int64_t hours, int64_t minutes,
                  int64_t seconds);
// A record placed at `position` past the end of the line (but inside the grid, or its position
// test would have failed): `what` names it, as in "the signal".
void warn_past_line_end(ReaderContext& cx, const char* what, int64_t position);

}  // namespace compactor
