// The colours of the picture that `plot` draws and of the page of `view`, stated once, so that
// both show a feature in the same colour. The page receives the table of named_colours() with
// its data; plot.cc uses the constants.
#pragma once

#include <span>

namespace compactor {

namespace palette {
inline constexpr const char* kInk = "#222222";
inline constexpr const char* kMuted = "#666666";
inline constexpr const char* kPageGrid = "#e4e4e4";  // the page's grid lines
inline constexpr const char* kPlotGrid = "#dddddd";  // the picture's grid lines
inline constexpr const char* kTrack = "#3a3a3a";
inline constexpr const char* kContext = "#c8c8c8";
inline constexpr const char* kTunnel = "#7b6f63";
inline constexpr const char* kStation = "#2a9d8f";
inline constexpr const char* kSlowOrder = "#e76f51";
inline constexpr const char* kApproach = "#f7b29c";
inline constexpr const char* kSignal = "#c1121f";
inline constexpr const char* kSpeed = "#1d4e89";  // speed boards and the speed limit
inline constexpr const char* kBoard = "#6a4c93";  // indication boards and written code points
inline constexpr const char* kInserted = "#f4a261";
inline constexpr const char* kNoCode = "#888888";
inline constexpr const char* kGradient = "#8d5524";
inline constexpr const char* kInForce = "#d62828";
inline constexpr const char* kAdhesion = "#2b9348";
inline constexpr const char* kError = "#b00020";
inline constexpr const char* kWarning = "#e09f00";
inline constexpr const char* kCursor = "#0077cc";
}  // namespace palette

struct NamedColour {
  const char* name;   // as the page's script calls it
  const char* value;  // #rrggbb
};

// Every colour the page draws with, by the page's names.
std::span<const NamedColour> page_colours();

}  // namespace compactor
