// The benchmarks' large scenario: it must compile without a recorded error and hold what it says.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "bench/generate.h"
#include "compiler/compile.h"
#include "compiler/compiler.h"
#include "model/model.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

// Number of lines of a source that begin with `keyword` followed by a comma.
int records(const std::string& text, const std::string& keyword) {
  int n = 0;
  std::string head = "\r\n" + keyword + ",";
  for (size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) ++n;
  return n;
}

TEST(Generator, LargeScenarioCompilesCleanAndHoldsItsCounts) {
  bench::ScenarioShape shape;  // the large scenario
  bench::GeneratedSources src = bench::generate_scenario(shape);
  EXPECT_EQ(src.line, bench::generate_scenario(shape).line);  // deterministic
  EXPECT_EQ(records(src.line, "pendenza"), 5000);
  EXPECT_EQ(records(src.line, "montagna"), 80);
  EXPECT_EQ(records(src.line, "indicatori_vmax"), 500);
  EXPECT_EQ(records(src.line, "cartello_indicatore"), 30);
  int curves = 0;
  for (size_t at = src.line.find("\r\ncurva"); at != std::string::npos;
       at = src.line.find("\r\ncurva", at + 1)) {
    ++curves;
  }
  EXPECT_EQ(curves, 2000);

  test::Compiled c = test::compile_in_memory(src.line, src.train, {.collect_warnings = true});
  const Model& m = c.m;
  ASSERT_EQ(c.outcome, PassOutcome::kReady);
  EXPECT_EQ(m.error_code, 0) << "at " << m.error_position << " m";
  EXPECT_TRUE(c.warnings.empty()) << c.warnings.front().text;
  EXPECT_EQ(m.items[84].value2, 1000000);
  EXPECT_EQ(m.grid_last, 20140);
  EXPECT_EQ(m.tunnels.size(), 80u);

  std::array<int, 15> kinds{};
  for (const TrackCell& c : m.track_grid) ++kinds.at(c.kind);
  EXPECT_EQ(kinds[kSignal], 3000);
  EXPECT_EQ(kinds[kSlowOrderStart], 50);
  EXPECT_EQ(kinds[kSlowOrderEnd], 50);
  EXPECT_EQ(kinds[kWarningBoard], 50);
  EXPECT_EQ(kinds[kSlowOrderApproach], 200);
  EXPECT_EQ(kinds[kSpeedBoard], 500);
  EXPECT_EQ(kinds[kIndicationBoard], 30);
  EXPECT_EQ(kinds[kStopMark], 40);
  // The 500 code points of the source, and those the cab-code pass inserted.
  EXPECT_GT(kinds[kCodePoint], 500);
  for (int n = 1; n <= 40; ++n) EXPECT_FALSE(m.items[n].text.empty()) << "station " << n;
  EXPECT_TRUE(m.items[41].text.empty());
  // The 30 board texts take records 80 down to 51.
  EXPECT_FALSE(m.items[51].text.empty());
  EXPECT_TRUE(m.items[50].text.empty());
  // The plan reaches its last computed point, turned away from the straight line by the curves.
  const TaggedValue end_x = m.plan.x.at(static_cast<size_t>(m.plan_last) - 2);
  EXPECT_EQ(end_x.tag, TaggedValue::kDouble);
  EXPECT_NE(end_x.number(), 0.0);
  EXPECT_EQ(m.plan.x.at(static_cast<size_t>(m.plan_last) - 1).tag, TaggedValue::kEmpty);
}

TEST(Generator, ScaledLinesCompileClean) {
  for (int32_t length : {20000, 100000, 250000}) {
    bench::GeneratedSources src = bench::generate_scenario(bench::shape_for_length(length));
    test::Compiled c = test::compile_in_memory(src.line, src.train);
    const Model& m = c.m;
    ASSERT_EQ(c.outcome, PassOutcome::kReady) << length;
    EXPECT_EQ(m.error_code, 0) << length << ": at " << m.error_position << " m";
    EXPECT_EQ(m.items[84].value2, length);
  }
}

}  // namespace
}  // namespace compactor
