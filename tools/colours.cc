#include "tools/colours.h"

namespace compactor {

namespace {

constexpr NamedColour kPageColours[] = {
    {"ink", palette::kInk},
    {"muted", palette::kMuted},
    {"grid", palette::kPageGrid},
    {"track", palette::kTrack},
    {"context", palette::kContext},
    {"tunnel", palette::kTunnel},
    {"station", palette::kStation},
    {"slowOrder", palette::kSlowOrder},
    {"approach", palette::kApproach},
    {"signal", palette::kSignal},
    {"speedBoard", palette::kSpeed},
    {"indicationBoard", palette::kBoard},
    {"written", palette::kBoard},
    {"inserted", palette::kInserted},
    {"noCode", palette::kNoCode},
    {"stopMark", palette::kStation},
    {"gradient", palette::kGradient},
    {"speed", palette::kSpeed},
    {"inForce", palette::kInForce},
    {"adhesion", palette::kAdhesion},
    {"error", palette::kError},
    {"warning", palette::kWarning},
    {"cursor", palette::kCursor},
};

}  // namespace

std::span<const NamedColour> page_colours() {
  return kPageColours;
}

}  // namespace compactor
