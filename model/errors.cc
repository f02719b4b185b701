#include "model/errors.h"

#include <iterator>

namespace compactor {

namespace {

struct ErrorEntry {
  int32_t code;
  bool has_position;  // the message ends with "(at N m)"
  const char* meaning;
};

// Every error number a run can record or raise, with its meaning.
constexpr ErrorEntry kErrors[] = {
    {1, false, "line length greater than 1,000,000 m"},
    {2, false, "a value of the chainage records 81 to 83 is not a multiple of 50"},
    {3, false, "signal repetition start not a multiple of 50"},
    {4, false, "signal repetition end not a multiple of 50"},
    {5, false, "signal repetition keyword holds neither \"4\" nor \"9\""},
    {6, true, "indication board on an occupied cell"},
    {7, true, "code point on an occupied cell"},
    {8, true, "station position not a multiple of 50"},
    {9, true, "station length not a multiple of 100"},
    {10, false, "station number reaches the board-text slot"},
    {11, true,
     "no room for a code point in front of a signal that lies up to 20 cells before a "
     "slow-order warning board"},
    {12, true, "no room for a code point in one of the three windows before a slow-order start"},
    {13, true, "no room for a code point inside a slow order or before the next signal after it"},
    {15, true, "a positioned record lies beyond the grid"},
    {16, true, "signal on an occupied cell"},
    {17, true, "slow-order warning board on an occupied cell"},
    {18, true, "slow-order start on an occupied cell"},
    {19, true, "slow-order end on an occupied cell"},
    {20, true, "slow-order approach cells occupied"},
    {21, true, "speed board on an occupied cell"},
    {22, true, "station too close to the previous one"},
    {24, false, "a station's stop mark would fall at or before cell 1"},
    {25, false, "run-time failure while the source files are read"},
    {101, false, "the line source file does not exist"},
    {102, false, "no general section in the line source file"},
    {103, false, "curve keyword without a class digit, or too many plan points"},
    {104, false, "the line source gives no line length"},
    {105, false, "line length of 0 m or less"},
    {106, true, "more than 80 tunnels"},
    {107, true, "no record left for the text of an indication board"},
    {1250, false, "stamps already set before stamping"},
    {1251, false, "integrity codes already set before stamping"},
};

const ErrorEntry* find_error(int32_t code) {
  for (const ErrorEntry& e : kErrors) {
    if (e.code == code) return &e;
  }
  return nullptr;
}

}  // namespace

const char* error_meaning(int32_t code) {
  const ErrorEntry* e = find_error(code);
  return e != nullptr ? e->meaning : "";
}

bool error_has_position(int32_t code) {
  const ErrorEntry* e = find_error(code);
  return e != nullptr && e->has_position;
}

}  // namespace compactor
