// The error numbers a run can record or raise.
#pragma once

#include <cstdint>

namespace compactor {

enum ErrorCode : int32_t {
  kErrLineTooLong = 1,
  kErrChainage = 2,
  kErrRepetitionStart = 3,
  kErrRepetitionEnd = 4,
  kErrRepetitionDigit = 5,
  kErrBoardOccupied = 6,
  kErrCodePointOccupied = 7,
  kErrStationPosition = 8,
  kErrStationLength = 9,
  kErrStationSlot = 10,
  kErrNoRoomBeforeSignal = 11,
  kErrNoRoomBeforeStart = 12,
  kErrNoRoomInSlowOrder = 13,
  kErrBeyondGrid = 15,
  kErrSignalOccupied = 16,
  kErrWarningBoardOccupied = 17,
  kErrStartOccupied = 18,
  kErrEndOccupied = 19,
  kErrApproachOccupied = 20,
  kErrSpeedBoardOccupied = 21,
  kErrStationSpacing = 22,
  kErrStopMark = 24,
  kErrReadFailure = 25,
  kErrNoLineSource = 101,
  kErrNoGeneralSection = 102,
  kErrCurve = 103,
  // Numbers of our own for what the line source must not do.
  kErrNoLineLength = 104,
  kErrLineLengthNotPositive = 105,
  kErrTooManyTunnels = 106,
  kErrNoBoardSlot = 107,
  kErrStampsSet = 1250,
  kErrCodesSet = 1251,
};

// A lower-case phrase for an error number ("" for an unknown one).
const char* error_meaning(int32_t code);

// Whether the error carries a position in metres.
bool error_has_position(int32_t code);

}  // namespace compactor
