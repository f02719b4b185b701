#include "model/errors.h"

namespace compactor {

const char* error_meaning(int32_t code) {
  switch (code) {
    case 1:
      return "line length greater than 1,000,000 m";
    case 2:
      return "a value of the chainage records 81 to 83 is not a multiple of 50";
    case 3:
      return "signal repetition start not a multiple of 50";
    case 4:
      return "signal repetition end not a multiple of 50";
    case 5:
      return "signal repetition keyword holds neither \"4\" nor \"9\"";
    case 6:
      return "indication board on an occupied cell";
    case 7:
      return "code point on an occupied cell";
    case 8:
      return "station position not a multiple of 50";
    case 9:
      return "station length not a multiple of 100";
    case 10:
      return "station number reaches the board-text slot";
    case 11:
      return "no room for a code point in front of a signal that lies up to 20 cells before a "
             "slow-order warning board";
    case 12:
      return "no room for a code point in one of the three windows before a slow-order start";
    case 13:
      return "no room for a code point inside a slow order or before the next signal after it";
    case 15:
      return "a positioned record lies beyond the grid";
    case 16:
      return "signal on an occupied cell";
    case 17:
      return "slow-order warning board on an occupied cell";
    case 18:
      return "slow-order start on an occupied cell";
    case 19:
      return "slow-order end on an occupied cell";
    case 20:
      return "slow-order approach cells occupied";
    case 21:
      return "speed board on an occupied cell";
    case 22:
      return "station too close to the previous one";
    case 24:
      return "a station's stop mark would fall at or before cell 1";
    case 25:
      return "run-time failure while the source files are read";
    case 101:
      return "the line source file does not exist";
    case 102:
      return "no general section in the line source file";
    case 103:
      return "curve keyword without a class digit, or too many plan points";
    case 104:
      return "the line source gives no line length";
    case 105:
      return "line length of 0 m or less";
    case 106:
      return "more than 80 tunnels";
    case 107:
      return "no record left for the text of an indication board";
    case 1250:
      return "stamps already set before stamping";
    case 1251:
      return "integrity codes already set before stamping";
    default:
      return "";
  }
}

bool error_has_position(int32_t code) {
  switch (code) {
    case 6:
    case 7:
    case 8:
    case 9:
    case 11:
    case 12:
    case 13:
    case 15:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
    case 22:
    case 106:
    case 107:
      return true;
    default:
      return false;
  }
}

}  // namespace compactor
