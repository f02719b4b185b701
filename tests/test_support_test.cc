// The shared test helpers where they can go wrong quietly: the source builder's edits, and a
// scratch directory that a child process inherits.
#include "tests/test_support.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace compactor {
namespace {

using test::SourceText;

TEST(SourceTextEdits, LinesAndFieldsOfASmallSource) {
  const SourceText base(
      test::crlf({"[generale]", "sabbia,    200", "velocita,   0,    30", "[fine]"}));
  EXPECT_EQ(SourceText(base).set_field("velocita", 2, "45").text(),
            test::crlf({"[generale]", "sabbia,    200", "velocita,   0,    45", "[fine]"}));
  EXPECT_EQ(SourceText(base).set_field("sabbia", 0, "sabia").text(),
            test::crlf({"[generale]", "sabia,    200", "velocita,   0,    30", "[fine]"}));
  EXPECT_EQ(SourceText(base).insert_before("[fine]", {"a", "b"}).erase_line("sabbia").text(),
            test::crlf({"[generale]", "velocita,   0,    30", "a", "b", "[fine]"}));
  // replace takes the first match anywhere; the line edits look only at how lines begin.
  EXPECT_EQ(SourceText(base).replace("0", "7").text(),
            test::crlf({"[generale]", "sabbia,    270", "velocita,   0,    30", "[fine]"}));
  EXPECT_NONFATAL_FAILURE(SourceText(base).erase_line("200"), "no line");
  EXPECT_NONFATAL_FAILURE(SourceText(base).set_field("sabbia", 2, "1"), "no field 2");
  EXPECT_NONFATAL_FAILURE(SourceText(base).replace("pendenza", "x"), "no \"pendenza\"");
}

TEST(SourceTextEdits, DefaultSourcesAreTheWrittenTexts) {
  const SourceText line = SourceText::default_line();
  EXPECT_EQ(line.text().rfind("[generale]\r\nlunghezza percorso,    228000\r\n", 0), 0u);
  EXPECT_EQ(SourceText(line).erase_line("lunghezza percorso").text().size(),
            line.text().size() - std::string("lunghezza percorso,    228000\r\n").size());
}

#ifndef _WIN32
// A child process may run the destructors of what it inherited (a child that ends through exit()
// runs those of every static, such as the default build run's directory): the directory stays
// for the process that made it.
TEST(ScratchDir, RemovedOnlyByTheProcessThatMadeIt) {
  test::ScratchDir dir;
  test::write_bytes(dir.file("kept"), "x");
  const test::Result r = test::run_in_child([&dir] {
    dir.~ScratchDir();
    return 0;
  });
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("kept")));
}
#endif

}  // namespace
}  // namespace compactor
