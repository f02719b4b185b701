// The line output read a buffer at a time: check_line's one walk finds the same halves, counts
// and faults wherever the values fall against the buffer's 64 KiB and the walk's marks.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "format/decode.h"
#include "format/line_stream.h"
#include "model/line_plan.h"

namespace compactor {
namespace {

// The value of metre i of a half: empty, integer or double by a pattern of the half's own, so
// that the two halves differ in length and values of every width cross each boundary.
TaggedValue value_of(size_t i, int half) {
  if ((i + half) % 11 == 0) return TaggedValue{};
  if ((i * (half + 2)) % 7 == 1) return TaggedValue::Integer(static_cast<int16_t>(i));
  return TaggedValue::Double(static_cast<double>(i) * 0.5 + half);
}

std::string line_output(size_t points) {
  std::string out;
  unsigned char value[kLineValueMaxBytes];
  for (int half = 0; half < 2; ++half) {
    for (size_t i = 0; i < points; ++i) {
      const unsigned char* end = put_line_value(value, value_of(i, half));
      out.append(reinterpret_cast<const char*>(value), static_cast<size_t>(end - value));
    }
  }
  return out;
}

TEST(LineStream, OneWalkFindsTheYHalfAndTheCountsWhereverTheValuesFall) {
  // Around the walk's marks (every 4096th value) and past several buffers of 64 KiB.
  for (size_t points : {1u, 2u, 4095u, 4096u, 4097u, 8192u, 12289u, 20000u}) {
    SCOPED_TRACE(points);
    const std::string bytes = line_output(points);
    size_t y_offset = 0;
    for (size_t i = 0; i < points; ++i) decode_line_value(bytes, y_offset);
    size_t by_tag[6] = {};
    for (int half = 0; half < 2; ++half) {
      for (size_t i = 0; i < points; ++i) ++by_tag[value_of(i, half).tag];
    }
    DecodeError error;
    std::optional<LineBytes> line = check_line(bytes, error);
    ASSERT_TRUE(line.has_value()) << error.reason;
    EXPECT_EQ(line->shape.points, points);
    EXPECT_EQ(line->shape.y_offset, y_offset);
    EXPECT_EQ(line->shape.empty_values, by_tag[TaggedValue::kEmpty]);
    EXPECT_EQ(line->shape.integer_values, by_tag[TaggedValue::kInteger]);
    EXPECT_EQ(line->shape.double_values, by_tag[TaggedValue::kDouble]);
  }
}

// A file of doubles, 10 bytes each, whose value `at` is damaged: values 6553 and 6554 stand across
// and just after the end of the first 64 KiB.
struct Fault {
  const char* name;
  size_t at;
  bool cut;  // the file ends 3 bytes into the value; else its tag is 7
  const char* reason;
};

TEST(LineStream, FaultsAreNamedAtTheirValueAcrossTheBufferEnds) {
  const Fault kFaults[] = {
      {"a tag in the first buffer", 6552, false,
       "value 6552 has the tag 7, which is none of 0 (empty), 2 (integer) and 5 (double)"},
      {"a tag after the first buffer", 6554, false,
       "value 6554 has the tag 7, which is none of 0 (empty), 2 (integer) and 5 (double)"},
      {"a value cut short across the first buffer's end", 6553, true,
       "value 6553 is cut short: its tag 5 needs 8 bytes, the file has 1 left"},
      {"a value cut short in the third buffer", 13200, true,
       "value 13200 is cut short: its tag 5 needs 8 bytes, the file has 1 left"},
  };
  for (const Fault& f : kFaults) {
    SCOPED_TRACE(f.name);
    std::string bytes;
    unsigned char value[kLineValueMaxBytes];
    for (size_t i = 0; i < 14000; ++i) {
      put_line_value(value, TaggedValue::Double(static_cast<double>(i)));
      bytes.append(reinterpret_cast<const char*>(value), sizeof value);
    }
    if (f.cut) {
      bytes.resize(f.at * 10 + 3);
    } else {
      bytes[f.at * 10] = 7;
    }
    DecodeError error;
    EXPECT_FALSE(check_line(bytes, error).has_value());
    EXPECT_EQ(error.offset, f.at * 10);
    EXPECT_EQ(error.reason, f.reason);
  }
}

// A source that fails its n-th read: the walk says so, and names no fault of the file.
TEST(LineStream, AReadThatFailsIsNoFaultOfTheFile) {
  const std::string bytes = line_output(30000);
  for (int failing : {1, 2, 5}) {
    SCOPED_TRACE(failing);
    int reads = 0;
    const ByteSource memory = bytes_in_memory(bytes);
    ByteSource source{memory.size, [&](uint64_t offset, char* into, size_t count) {
                        return ++reads != failing && memory.read(offset, into, count);
                      }};
    DecodeError error;
    bool unreadable = false;
    EXPECT_FALSE(check_line(source, error, unreadable).has_value());
    EXPECT_TRUE(unreadable);
    EXPECT_TRUE(error.reason.empty()) << error.reason;
  }
}

}  // namespace
}  // namespace compactor
