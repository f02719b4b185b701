// Sources that no author should write: empty, binary, with foreign line ends, with numbers at and
// past the limits of their fields, or past the limits of the tables. Each ends in a recorded
// error (or a stop), never in a crash; a few also go through the program for the exit status.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "compiler/compile.h"
#include "compiler/compiler.h"
#include "model/model.h"
#include "scenario/texts.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::crlf;
using test::kLineSource;
using test::kTrainSource;
using Source = test::SourceText;

// A 20 km line source whose feature part holds `features`.
Source line_with(const std::vector<std::string>& features) {
  return Source::line(20000, features);
}

const std::string kGoodTrain = Source::train({"velocita,   0,    100"});

// Bytes from a fixed linear congruential sequence: the same noise on every run.
std::string noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return out;
}

// Records of one kind, numbered from 1, as a vector for line_with.
std::vector<std::string> records(int count, const std::function<std::string(int)>& line) {
  std::vector<std::string> out;
  for (int i = 1; i <= count; ++i) out.push_back(line(i));
  return out;
}

// Station i of a line of stations 1000 m apart: kind 12, 100 m long.
std::string station(int i) {
  return "stazione, " + std::to_string(1000 * i) +
         ", 12, 100, 0, 0, 0, 1,1,0, 4,1,1, 0, 0,0,0, STAZIONE " + std::to_string(i);
}

std::string board(int i) {
  return "cartello_indicatore,  " + std::to_string(100 * i) + ",  (BOARD " + std::to_string(i) +
         ")";
}

std::string tunnel(int i) {
  return "montagna,  " + std::to_string(100 * i) + ",  " + std::to_string(100 * i + 100) + ",  2";
}

struct BadInput {
  std::string name;
  std::optional<std::string> line;
  std::optional<std::string> train;
  int32_t error;  // the recorded error_code (0: none)
  PassOutcome outcome;
  std::string file;                                // the source the error is reported in ("": none)
  std::optional<int32_t> position = std::nullopt;  // error_position, where it has one
  int32_t grid_last = -1;                          // checked when not -1
  bool warns = false;                              // at least one warning is expected
  int exit_status = -1;  // when not -1, `compactor compile` on these sources gives it
};

std::vector<BadInput> bad_inputs() {
  const std::string ten_mib(10u << 20, 'x');
  const std::string bom = "\xEF\xBB\xBF";
  const std::string good_line = line_with({});
  auto speed_board = [](const std::string& at, const std::string& left, const std::string& right) {
    return "indicatori_vmax,  " + at + ",  " + left + ",  0,  0,  0,  " + right + ",  0,  0,  0";
  };
  const std::string signal_aspects = ",   2, 3, 1,  1, 0,    2,  2,1,1, 0";
  return {
      // Empty, NUL and noise.
      {"an empty line source",
       "",
       kGoodTrain,
       25,
       PassOutcome::kNoGrid,
       kLineSource,
       {},
       -1,
       false,
       3},
      {"an empty train source",
       good_line,
       "",
       25,
       PassOutcome::kReady,
       kTrainSource,
       {},
       -1,
       false,
       1},
      {"a line source of NUL bytes", std::string(4096, '\0'), kGoodTrain, 102, PassOutcome::kNoGrid,
       kLineSource},
      {"a train source of NUL bytes",
       good_line,
       std::string(4096, '\0'),
       0,
       PassOutcome::kReady,
       "",
       {},
       -1,
       true},
      {"binary noise as the line source", noise(1 << 16, 1), kGoodTrain, 102, PassOutcome::kNoGrid,
       kLineSource},
      {"binary noise in the feature part",
       line_with({}).text() + noise(1 << 16, 2),
       kGoodTrain,
       0,
       PassOutcome::kReady,
       "",
       {},
       -1,
       true},
      {"binary noise as the train source",
       good_line,
       noise(1 << 16, 3),
       0,
       PassOutcome::kReady,
       "",
       {},
       -1,
       true},
      // Line ends and byte-order marks: only CR LF ends a line.
      {"CR-only line ends",
       std::string("[generale]\rlunghezza percorso,    20000\r[fine]\r"),
       kGoodTrain,
       104,
       PassOutcome::kNoGrid,
       kLineSource,
       {},
       -1,
       true},
      {"LF-only line ends read as CR LF",
       std::string("[generale]\nlunghezza percorso,    20000\n[fine]\n"),
       kGoodTrain,
       0,
       PassOutcome::kReady,
       "",
       {},
       540,
       false},
      {"LF-only line ends in the train source read as CR LF",
       good_line,
       std::string("[generale]\nsabbia,  200\n[fine]\n"),
       0,
       PassOutcome::kReady,
       "",
       {},
       -1,
       false},
      {"a byte-order mark before the line source",
       bom + good_line,
       kGoodTrain,
       0,
       PassOutcome::kReady,
       "",
       {},
       540},
      {"a byte-order mark before the train source", good_line, bom + kGoodTrain, 0,
       PassOutcome::kReady, ""},
      // A 10 MiB line without a line end.
      {"a 10 MiB line source without a line end", ten_mib, kGoodTrain, 102, PassOutcome::kNoGrid,
       kLineSource},
      {"a 10 MiB last field of the line source",
       good_line + ten_mib,
       kGoodTrain,
       0,
       PassOutcome::kReady,
       "",
       {},
       -1,
       false,
       0},
      {"a 10 MiB station name",
       good_line,
       crlf({"[generale]"}) + "stazione, 0, 8, 500, 0, 0, 0, 1,1,0, 4,1,1, 1, 19,10,0, " + ten_mib,
       25,
       PassOutcome::kReady,
       kTrainSource,
       {},
       -1,
       false,
       1},
      // The 32-bit limits.
      {"a line length of 2147483647",
       Source::line(2147483647),
       kGoodTrain,
       1,
       PassOutcome::kNoGrid,
       kLineSource,
       {},
       -1,
       false,
       3},
      {"a line length of 2147483648", Source::line(2147483648), kGoodTrain, 25,
       PassOutcome::kNoGrid, kLineSource},
      {"a line length of -2147483648", Source::line(-2147483648LL), kGoodTrain, 105,
       PassOutcome::kNoGrid, kLineSource},
      {"a line length of -2147483649", Source::line(-2147483649LL), kGoodTrain, 25,
       PassOutcome::kNoGrid, kLineSource},
      {"a gradient at 2147483647", line_with({"pendenza,  2147483647,  3"}), kGoodTrain, 15,
       PassOutcome::kReady, kLineSource, 2147483647},
      {"a gradient at 2147483648", line_with({"pendenza,  2147483648,  3"}), kGoodTrain, 25,
       PassOutcome::kReady, kLineSource},
      {"a gradient at -2147483648", line_with({"pendenza,  -2147483648,  3"}), kGoodTrain, 0,
       PassOutcome::kReady, ""},
      {"a speed change at -2147483649", good_line, Source::train({"velocita,  -2147483649,  100"}),
       25, PassOutcome::kReady, kTrainSource},
      {"a speed of 2147483647 km/h", good_line, Source::train({"velocita,  0,  2147483647"}), 25,
       PassOutcome::kReady, kTrainSource},
      {"a signal at -2147483648", good_line,
       Source::train({"segnale, -2147483648" + signal_aspects}), 15, PassOutcome::kReady,
       kTrainSource, -2147483648},
      {"a slow order whose end passes 32 bits", good_line,
       Source::train({"rallentamento,  2000,  60,  2147483647,  0,  1,  0"}), 25,
       PassOutcome::kReady, kTrainSource},
      {"a station time past 32 bits", good_line,
       Source::train({"stazione, 0, 8, 500, 0, 0, 0, 1,1,0, 4,1,1, 1, 2147483647,0,0, ROMA"}), 25,
       PassOutcome::kReady, kTrainSource},
      // 16-bit fields of a speed board: speed / 5 + stripes-free code * 20.
      {"a speed board value at the 16-bit limit", line_with({speed_board("1000", "1638", "35")}),
       kGoodTrain, 0, PassOutcome::kReady, ""},
      {"a speed board value past the 16-bit limit", line_with({speed_board("1000", "1639", "0")}),
       kGoodTrain, 25, PassOutcome::kReady, kLineSource},
      {"a speed board value past the negative 16-bit limit",
       line_with({speed_board("1000", "-1639", "0")}), kGoodTrain, 25, PassOutcome::kReady,
       kLineSource},
      {"a sand value past the 16-bit limit", good_line, Source::train({"sabbia,  32768"}), 25,
       PassOutcome::kReady, kTrainSource},
      // Position 0 and below.
      {"a signal at position 0 lands on the stamped cell",
       good_line,
       Source::train({"segnale,  0" + signal_aspects}),
       0,
       PassOutcome::kStampsSet,
       "",
       {},
       -1,
       false,
       3},
      {"a signal at position -50", good_line, Source::train({"segnale,  -50" + signal_aspects}), 0,
       PassOutcome::kReady, ""},
      {"a signal at position -100", good_line, Source::train({"segnale,  -100" + signal_aspects}),
       15, PassOutcome::kReady, kTrainSource, -100},
      {"a station at position 0", good_line,
       Source::train({"stazione, 0, 8, 500, 0, 0, 0, 1,1,0, 4,1,1, 1, 19,10,0, ROMA"}), 0,
       PassOutcome::kReady, ""},
      {"a station at a negative position", good_line,
       Source::train({"stazione, -1000, 12, 100, 0, 0, 0, 1,1,0, 4,1,1, 0, 0,0,0, PRIMA"}), 24,
       PassOutcome::kReady, kTrainSource},
      {"a speed board at position -100", line_with({speed_board("-100", "100", "100")}), kGoodTrain,
       15, PassOutcome::kReady, kLineSource, -100},
      // Past the line and past the tables.
      {"a slow order longer than the line", good_line,
       Source::train({"rallentamento,  2000,  60,  100000,  0,  1,  0"}), 15, PassOutcome::kReady,
       kTrainSource, 2000},
      {"80 tunnels", line_with(records(80, tunnel)), kGoodTrain, 0, PassOutcome::kReady, ""},
      {"81 tunnels", line_with(records(81, tunnel)), kGoodTrain, 106, PassOutcome::kReady,
       kLineSource, 8100, -1, false, 1},
      {"80 indication boards", line_with(records(80, board)), kGoodTrain, 0, PassOutcome::kReady,
       ""},
      {"81 indication boards", line_with(records(81, board)), kGoodTrain, 107, PassOutcome::kReady,
       kLineSource, 8100},
      {"80 indication boards and a station", line_with(records(80, board)),
       Source::train({station(1)}), 10, PassOutcome::kReady, kTrainSource},
      {"78 stations", Source::line(100000), Source::train(records(78, station)), 0,
       PassOutcome::kReady, ""},
      {"79 stations", Source::line(100000), Source::train(records(79, station)), 10,
       PassOutcome::kReady, kTrainSource},
      {"a line of 1,000,000 m",
       Source::line(1000000),
       kGoodTrain,
       0,
       PassOutcome::kReady,
       "",
       {},
       20140},
      // Length records: the last accepted one sizes the grid, which a later stop keeps.
      {"2,400 length records",
       crlf({"[generale]"}) +
           crlf(records(2400, [](int) { return std::string("lunghezza percorso,  1000000"); })) +
           crlf({"[fine]"}),
       kGoodTrain,
       0,
       PassOutcome::kReady,
       "",
       {},
       20140},
      {"a length of 1,000,001 m after an accepted one",
       crlf({"[generale]", "lunghezza percorso,  20000", "lunghezza percorso,  1000001", "[fine]"}),
       kGoodTrain,
       1,
       PassOutcome::kReady,
       kLineSource,
       {},
       540,
       false,
       1},
      {"a read failure after an accepted length",
       crlf({"[generale]", "lunghezza percorso,  20000", "sfondo uno,  x", "[fine]"}),
       kGoodTrain,
       25,
       PassOutcome::kReady,
       kLineSource,
       {},
       540},
      {"a line of 1,000,001 m",
       Source::line(1000001),
       kGoodTrain,
       1,
       PassOutcome::kNoGrid,
       kLineSource,
       {},
       -1,
       false,
       3},
  };
}

TEST(BadInput, EndsInARecordedErrorNotACrash) {
  for (const BadInput& c : bad_inputs()) {
    SCOPED_TRACE(c.name);
    test::Compiled r = test::compile_in_memory(c.line, c.train, {.collect_warnings = true});
    const Model& m = r.m;
    const PassOutcome outcome = r.outcome;
    EXPECT_EQ(m.error_code, c.error);
    EXPECT_EQ(outcome, c.outcome);
    if (c.error != 0) {
      EXPECT_EQ(m.error_source.file, c.file);
    }
    if (c.position) {
      EXPECT_EQ(m.error_position, *c.position);
    }
    if (c.grid_last != -1) {
      EXPECT_EQ(m.grid_last, c.grid_last);
    }
    if (c.warns) {
      EXPECT_FALSE(r.warnings.empty());
    }
    if (outcome != PassOutcome::kNoGrid) {
      EXPECT_EQ(m.track_grid.size(), static_cast<size_t>(m.grid_last) + 1);
    }

#ifndef _WIN32
    // The program itself, run as a POSIX child process.
    if (c.exit_status == -1) continue;
    test::ScratchDir dir;
    if (c.line) test::write_bytes(dir.path() / kLineSource, *c.line);
    if (c.train) test::write_bytes(dir.path() / kTrainSource, *c.train);
    test::Result run = test::run_compactor({"compile", dir.str(), "-q"});
    EXPECT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.exit_status, c.exit_status) << run.err;
    if (c.error != 0) {
      EXPECT_NE(run.err.find("error " + std::to_string(c.error) + ":"), std::string::npos)
          << run.err;
    }
    if (c.outcome == PassOutcome::kStampsSet) {
      EXPECT_NE(run.err.find(" Errore n. 1250"), std::string::npos) << run.err;
    }
#endif
  }
}

}  // namespace
}  // namespace compactor
