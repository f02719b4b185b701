#include "bench/generate.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace compactor::bench {

namespace {

constexpr int32_t kMinLength = 20000;
constexpr int32_t kMaxLength = 1000000;
constexpr int64_t kReservedStartCells = 25;  // cells 0 to 24 stay free: the stamps live in cell 1

int64_t floor50(int64_t v) {
  return v / 50 * 50;
}

int scaled(int count, int32_t length) {
  return static_cast<int>(std::llround(static_cast<double>(count) * length / kMaxLength));
}

void fail(const std::string& why) {
  throw std::invalid_argument("scenario does not fit: " + why);
}

// A small linear congruential generator: the same numbers on every platform.
struct Numbers {
  uint32_t state = 12345;
  uint32_t next(uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  }
};

// Which cells of the 50 m grid are taken by something placed so far.
class Cells {
 public:
  explicit Cells(int32_t length)
      : last_usable_(length / 50 - 2), taken_(static_cast<size_t>(length / 50 + 1), 0) {}

  bool usable(int64_t c) const {
    return c >= kReservedStartCells && c <= last_usable_ && taken_[static_cast<size_t>(c)] == 0;
  }
  void take(int64_t c) { taken_[static_cast<size_t>(c)] = 1; }

  // The free cell nearest to `want`, taken; the later one on a tie.
  int64_t claim_near(int64_t want, const char* what) {
    for (int64_t d = 0; d <= 400; ++d) {
      for (int64_t c : {want + d, want - d}) {
        if (usable(c)) {
          take(c);
          return c;
        }
      }
    }
    fail(std::string("no free cell for ") + what + " near " + std::to_string(want * 50) + " m");
    return -1;
  }

  // Takes cells first to last, which must all be free.
  void claim_range(int64_t first, int64_t last, const char* what) {
    for (int64_t c = first; c <= last; ++c) {
      if (!usable(c)) fail(std::string("no room for ") + what);
    }
    for (int64_t c = first; c <= last; ++c) take(c);
  }

 private:
  int64_t last_usable_;
  std::vector<uint8_t> taken_;
};

struct Signal {
  int64_t position;
  int variant;
};

class Text {
 public:
  Text& operator<<(const std::string& s) {
    out_ += s;
    return *this;
  }
  Text& operator<<(int64_t v) {
    out_ += std::to_string(v);
    return *this;
  }
  void end_line() { out_ += "\r\n"; }
  void line(const std::string& s) {
    out_ += s;
    end_line();
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

void check_shape(const ScenarioShape& s) {
  if (s.length < kMinLength || s.length > kMaxLength || s.length % 50 != 0) {
    fail("the length must be a multiple of 50 from 20000 to 1000000 m");
  }
  for (int count :
       {s.tunnels, s.indication_boards, s.speed_boards, s.curves, s.gradients, s.signals,
        s.stations, s.slow_orders, s.code_points, s.speed_changes, s.adhesion_changes}) {
    if (count < 1) fail("every count must be at least 1");
  }
  if (s.stations < 2) fail("at least two stations");
  if (s.tunnels > 80) fail("at most 80 tunnels");
  // Stations count up from record 1, board texts down from record 80, and the station number
  // after the last station must stay below the next board record.
  if (s.stations + s.indication_boards > 78) fail("too many stations and boards together");
  if (s.signals < 2 * s.slow_orders) fail("two signals stand at each slow order");
}

}  // namespace

ScenarioShape shape_for_length(int32_t length) {
  ScenarioShape large;
  ScenarioShape s;
  s.length = length;
  auto at_least = [](int v, int lo) { return std::max(v, lo); };
  s.tunnels = at_least(scaled(large.tunnels, length), 1);
  s.indication_boards = at_least(scaled(large.indication_boards, length), 1);
  s.speed_boards = at_least(scaled(large.speed_boards, length), 1);
  s.curves = at_least(scaled(large.curves, length), 1);
  s.gradients = at_least(scaled(large.gradients, length), 1);
  s.stations = at_least(scaled(large.stations, length), 2);
  s.slow_orders = at_least(scaled(large.slow_orders, length), 1);
  s.signals = at_least(scaled(large.signals, length), 2 * s.slow_orders);
  s.code_points = at_least(scaled(large.code_points, length), 1);
  s.speed_changes = at_least(scaled(large.speed_changes, length), 1);
  s.adhesion_changes = at_least(scaled(large.adhesion_changes, length), 1);
  return s;
}

GeneratedSources generate_scenario(const ScenarioShape& s) {
  check_shape(s);
  const int64_t L = s.length;
  Cells cells(s.length);
  Numbers rnd;
  Text line;
  Text train;
  std::vector<Signal> signals;

  // --- Slow orders first: each takes a stretch of its own, from the approach cells before its
  // warning board to 14 cells after its end, where the cab-code pass finds room for its points.
  struct SlowOrder {
    int64_t x, v, l, f_tt, d_v;
  };
  std::vector<SlowOrder> slow_orders;
  {
    const int64_t spacing = L / s.slow_orders;
    static const int64_t kLengths[] = {300, 500, 750, 1000, 400};
    static const int64_t kSpeeds[] = {40, 60, 80, 100, 120, 150};
    for (int k = 0; k < s.slow_orders; ++k) {
      SlowOrder so{};
      so.x = std::max<int64_t>(floor50(k * spacing + spacing / 2), 2500);
      so.l = kLengths[k % 5];
      so.v = kSpeeds[k % 6];
      so.f_tt = k % 2;
      so.d_v = k % 4 == 0 ? 30 : 0;
      const int64_t start = so.x / 50 + 1;
      const int64_t end = (so.x + so.l) / 50 + 1;
      const int64_t board = start - 24;  // the warning board 1200 m before the start
      cells.claim_range(board - 24, end + 14, "a slow order");
      // A signal 10 cells before the warning board gets a code point in front of it; one 6 cells
      // after the end gets the point that follows a slow order.
      signals.push_back(Signal{(board - 11) * 50, k});
      signals.push_back(Signal{(end + 5) * 50, k + 1});
      slow_orders.push_back(so);
    }
  }

  // --- Stations: the first at the start of the line, the last a terminus near its end.
  struct Station {
    int64_t p, kind, length, flag3;
  };
  // Where a station's extent ends and starts, as the placement computes them.
  auto extent_end = [](const Station& t) {
    if (t.kind == 5 || t.kind == 6) return t.p + 150;
    if (t.kind == 7 || t.kind == 8) return t.p + t.length;
    return t.p + t.length / 2 + (t.flag3 != 0 ? 50 : 0);
  };
  auto extent_start = [](const Station& t) {
    return t.kind >= 5 && t.kind <= 8 ? t.p - t.length : t.p - t.length / 2;
  };
  std::vector<Station> stations;
  {
    stations.push_back(Station{0, 8, 500, 0});  // stop mark in cell 9, inside the reserved start
    const int64_t spacing = L / s.stations;
    static const int64_t kLengths[] = {400, 500, 600, 700, 800};
    for (int j = 1; j < s.stations; ++j) {
      const bool last = j == s.stations - 1;
      Station st{floor50(j * spacing), last ? 6 : 12, kLengths[j % 5], last ? 0 : j % 2};
      // Moved on by 50 m until its stop mark falls on a free cell.
      int tries = 0;
      while (!cells.usable(extent_end(st) / 50 - 1)) {
        st.p += 50;
        if (++tries > 400) fail("no free cell for a station's stop mark");
      }
      cells.take(extent_end(st) / 50 - 1);
      if (extent_start(st) - 350 < extent_end(stations.back())) {
        fail("stations too close together");
      }
      stations.push_back(st);
    }
  }

  // --- Tunnels, each with its indication board 50 m before it while boards last.
  struct Tunnel {
    int64_t start, end, type;
  };
  std::vector<Tunnel> tunnels;
  {
    const int64_t spacing = L / s.tunnels;
    for (int k = 0; k < s.tunnels; ++k) {
      Tunnel t{};
      t.start = floor50(k * spacing + spacing / 4) + 1000;
      int64_t len = 50 * (20 + (k * 37) % 60);
      t.end = t.start + std::min(len, floor50(spacing / 2));
      t.type = k % 3 == 0 ? 2 : 11 + (k % 2);
      tunnels.push_back(t);
    }
  }
  struct Board {
    int64_t p;
    std::string text;
  };
  std::vector<Board> boards;
  {
    const int64_t spacing = L / s.indication_boards;
    for (int k = 0; k < s.indication_boards; ++k) {
      bool at_tunnel = k < s.tunnels;
      int64_t want = at_tunnel ? tunnels[static_cast<size_t>(k)].start / 50
                               : (k * spacing + spacing / 3) / 50 + 1;
      int64_t c = cells.claim_near(want, "an indication board");
      std::string text = at_tunnel ? "(GALLERIA)(G. " + std::to_string(k + 1) + " )(M. " +
                                         std::to_string(tunnels[static_cast<size_t>(k)].end -
                                                        tunnels[static_cast<size_t>(k)].start) +
                                         " )"
                                   : "(BIVIO PER)( LOCALITA " + std::to_string(k + 1) + " )";
      boards.push_back(Board{(c - 1) * 50, text});
    }
  }

  // --- Speed boards, the remaining signals and the code points, spread evenly.
  std::vector<int64_t> speed_boards;
  {
    const int64_t spacing = L / s.speed_boards;
    for (int k = 0; k < s.speed_boards; ++k) {
      int64_t c = cells.claim_near((k * spacing + spacing / 2) / 50 + 1, "a speed board");
      speed_boards.push_back((c - 1) * 50);
    }
  }
  {
    const int plain = s.signals - 2 * s.slow_orders;
    if (plain > 0) {
      const int64_t spacing = L / plain;
      for (int k = 0; k < plain; ++k) {
        int64_t c = cells.claim_near((k * spacing + spacing / 2) / 50 + 1, "a signal");
        signals.push_back(Signal{(c - 1) * 50, k});
      }
    }
    std::sort(signals.begin(), signals.end(),
              [](const Signal& a, const Signal& b) { return a.position < b.position; });
  }
  std::vector<int64_t> code_points;
  {
    const int64_t spacing = L / s.code_points;
    for (int k = 0; k < s.code_points; ++k) {
      int64_t c = cells.claim_near((k * spacing + spacing / 3) / 50, "a code point");
      code_points.push_back(c * 50);
    }
  }

  // --- The line source.
  line.line("[generale]");
  line << "lunghezza percorso,    " << L;
  line.end_line();
  line.line("progressiva chilometrica uno,    0,    0,    0");
  line.line("progressiva chilometrica due,    0,    0,    0");
  line.line("progressiva chilometrica tre,    0,    0,    0");
  line.line("sfondo uno,    1");
  line.line("sfondo due,    62000");
  line.line("sfondo tre,    84000");
  line << "ripetizione segnali 9 codici,    650,    " << floor50(L * 9 / 10);
  line.end_line();

  line.line("[curve]");
  {
    const int64_t spacing = floor50(L * 99 / 100 / s.curves);
    if (spacing < 150) fail("too many curves for the line");
    if (s.curve_length > spacing - 50) fail("curves longer than the space between them");
    for (int k = 0; k < s.curves; ++k) {
      int64_t start = 100 + k * spacing;
      int64_t length = 50 * (1 + rnd.next(static_cast<uint32_t>((spacing - 100) / 50)));
      if (s.curve_length > 0) length = s.curve_length;
      char direction = rnd.next(2) == 0 ? 'd' : 's';
      int64_t cls = 1 + rnd.next(6);
      if (s.curve_class > 0) cls = s.curve_class;
      line << "curva" << std::string(1, direction) << cls << ",  " << start << ",  " << length;
      line.end_line();
    }
  }

  line.line("[pendenze]");
  {
    static const int64_t kGradients[] = {-8, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 10};
    const int64_t spacing = floor50(L / s.gradients);
    if (spacing < 50) fail("too many gradients for the line");
    for (int k = 0; k < s.gradients; ++k) {
      // Stepping by 7 of 16 values: two records in a row never hold the same gradient.
      line << "pendenza,  " << k * spacing << ",   " << kGradients[(7 + k * 7) % 16];
      line.end_line();
    }
  }

  line.line("[montagne]");
  for (const Tunnel& t : tunnels) {
    line << "montagna,   " << t.start << ",  " << t.end << ",  " << t.type;
    line.end_line();
  }

  line.line("[cartelli]");
  for (size_t k = 0; k < speed_boards.size(); ++k) {
    static const int64_t kSpeeds[] = {100, 120, 140, 160, 180};
    int64_t a = kSpeeds[k % 5];
    int64_t stripes = k % 7 == 0 ? 2 : 0;
    std::string half = std::to_string(a) + ",  " + std::to_string(a + 10) + ",  " +
                       std::to_string(a + 20) + ",  " + std::to_string(stripes);
    line << "indicatori_vmax,  " << speed_boards[k] << ",  " << half << ",  " << half;
    line.end_line();
  }

  line.line("[indicazioni]");
  for (const Board& b : boards) {
    line << "cartello_indicatore,  " << b.p << ",   " << b.text;
    line.end_line();
  }
  line.line("[fine]");

  // --- The train source.
  train.line("[generale]");
  train.line("numero vetture,    12");
  train.line("percentuale massa frenata,    135");
  train.line("sabbia,    200");
  train.line("orologio,    19              7             30 ");

  train.line("[aderenze]");
  {
    static const int64_t kValues[] = {80, 70, 80, 75};
    const int64_t spacing = floor50(L / s.adhesion_changes);
    for (int k = 0; k < s.adhesion_changes; ++k) {
      train << "aderenza,  " << k * spacing << ",    " << kValues[k % 4];
      train.end_line();
    }
  }
  train.line("[vel_limite]");
  {
    static const int64_t kSpeeds[] = {140, 160, 180, 120, 100, 150};
    const int64_t spacing = floor50(L / s.speed_changes);
    for (int k = 0; k < s.speed_changes; ++k) {
      train << "velocita,  " << k * spacing << ",   " << (k == 0 ? 30 : kSpeeds[k % 6]);
      train.end_line();
    }
  }

  train.line("[stazioni]");
  for (size_t j = 0; j < stations.size(); ++j) {
    const Station& st = stations[j];
    int64_t minutes = 6 * 60 + 10 * static_cast<int64_t>(j);
    train << "stazione,  " << st.p << ",  " << st.kind << ",  " << st.length << ",  0, "
          << (st.length >= 600 ? 1 : 0) << ", " << st.flag3 << ",  1,1,0,  4,1,1,    "
          << (j % 3 == 0 ? 1 : 0) << ",  " << minutes / 60 << "," << minutes % 60
          << ", 0, LOCALITA " << static_cast<int64_t>(j + 1);
    train.end_line();
  }

  train.line("[rallentamenti]");
  for (const SlowOrder& so : slow_orders) {
    train << "rallentamento,  " << so.x << ",    " << so.v << ",  " << so.l << ", " << so.f_tt
          << ",  1,  " << so.d_v;
    train.end_line();
  }

  train.line("[segnali]");
  for (const Signal& sg : signals) {
    static const char* const kVariants[] = {
        "2, 3, 1,  1, 0,    2,  2,1,1, 0", "2, 4, 0,  0, 0,    2,  2,0,0, 0",
        "2, 4, 1,  1, 0,    2,  2,1,1, 0", "2, 4, 0,  0, 0,    1,  2,0,0, 220",
        "1, 3, 1,  0, 1,    2,  3,1,0, 0",
    };
    train << "segnale,  " << sg.position << ",   " << kVariants[sg.variant % 5];
    train.end_line();
  }

  train.line("[codici]");
  for (size_t k = 0; k < code_points.size(); ++k) {
    train << "abbattimento,  " << code_points[k] << ",   " << (k % 2 == 0 ? 270 : 280);
    train.end_line();
  }
  train.line("[fine]");

  return GeneratedSources{line.take(), train.take()};
}

}  // namespace compactor::bench
