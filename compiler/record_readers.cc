#include "compiler/record_readers.h"

#include "compiler/reader.h"

namespace compactor {

// The record readers, in line_records.cc and train_records.cc.
RecordStep read_line_length(ReaderContext& cx);
template <int kRecord>
RecordStep read_chainage(ReaderContext& cx);
template <Background kWhich>
RecordStep read_background(ReaderContext& cx);
RecordStep read_signal_repetition(ReaderContext& cx);
RecordStep read_gradient(ReaderContext& cx);
RecordStep read_curve(ReaderContext& cx);
RecordStep read_tunnel(ReaderContext& cx);
RecordStep read_speed_boards(ReaderContext& cx);
RecordStep read_indication_board(ReaderContext& cx);
RecordStep read_braked_mass(ReaderContext& cx);
RecordStep read_coaches(ReaderContext& cx);
RecordStep read_speed(ReaderContext& cx);
RecordStep read_adhesion(ReaderContext& cx);
RecordStep read_clock(ReaderContext& cx);
RecordStep read_sand(ReaderContext& cx);
RecordStep read_signal(ReaderContext& cx);
RecordStep read_slow_order(ReaderContext& cx);
RecordStep read_code_point(ReaderContext& cx);
RecordStep read_station(ReaderContext& cx);

// Every kind has its reader: a kind added to the table without one does not compile (-Wswitch).
RecordStep read_record(KindId kind, ReaderContext& cx) {
  switch (kind) {
    case KindId::kLineLength:
      return read_line_length(cx);
    case KindId::kChainageTre:
      return read_chainage<kFirstChainageRecord>(cx);
    case KindId::kChainageDue:
      return read_chainage<kFirstChainageRecord + 1>(cx);
    case KindId::kChainageUno:
      return read_chainage<kLastChainageRecord>(cx);
    case KindId::kBackgroundUno:
      return read_background<Background::kUno>(cx);
    case KindId::kBackgroundDue:
      return read_background<Background::kDue>(cx);
    case KindId::kBackgroundTre:
      return read_background<Background::kTre>(cx);
    case KindId::kSignalRepetition:
      return read_signal_repetition(cx);
    case KindId::kGradient:
      return read_gradient(cx);
    case KindId::kCurve:
      return read_curve(cx);
    case KindId::kTunnel:
      return read_tunnel(cx);
    case KindId::kSpeedBoards:
      return read_speed_boards(cx);
    case KindId::kIndicationBoard:
      return read_indication_board(cx);
    case KindId::kBrakedMass:
      return read_braked_mass(cx);
    case KindId::kCoaches:
      return read_coaches(cx);
    case KindId::kSpeed:
      return read_speed(cx);
    case KindId::kAdhesion:
      return read_adhesion(cx);
    case KindId::kClock:
      return read_clock(cx);
    case KindId::kSand:
      return read_sand(cx);
    case KindId::kSignal:
      return read_signal(cx);
    case KindId::kSlowOrder:
      return read_slow_order(cx);
    case KindId::kCodePoint:
      return read_code_point(cx);
    case KindId::kStation:
      return read_station(cx);
  }
  return RecordStep::kFailed;
}

}  // namespace compactor
