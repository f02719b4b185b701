// Byte layouts of the three binary outputs: record output, grid output and line output.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "compiler/compiler.h"
#include "model/model.h"
#include "format/coding.h"
#include "format/decode.h"
#include "format/outputs.h"
#include "compiler/compile.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

using test::i16_at;
using test::i32_at;
using test::u16_at;
std::string bytes(std::initializer_list<unsigned> list) {
  std::string s;
  for (unsigned v : list) s.push_back(static_cast<char>(v));
  return s;
}

Model identity_model() {
  Model m;
  m.line_id = "QUELDRANO 2";
  m.train_number = "555";
  m.items[85].text = m.line_id;
  m.items[86].text = m.train_number;
  return m;
}

// Offset of record k in a record output.
size_t record_offset(const Model& m, int k) {
  size_t off = 0;
  for (int i = 0; i < k; ++i) off += 34 + m.items[i].text.size();
  return off;
}

TEST(RecordOutput, EveryFieldAtItsOffset) {
  Model m;
  ScenarioItem& r = m.items[5];
  r.kind = 0xF1;
  r.value1 = -2;
  r.value2 = 0x12345678;
  r.value3 = INT32_MIN;
  r.mark = 0xA5;
  r.text = "ROMA TERMINI";  // 12 characters
  r.num1 = -1;
  r.num2 = 0x1234;
  r.num3 = INT16_MIN;
  r.num4 = INT16_MAX;
  r.num5 = 7;
  r.flag1 = 1;
  r.flag2 = 2;
  r.flag3 = 0xFE;
  r.flag4 = 0xFF;
  r.check_code = 69000;
  const std::string out = encode_record_output(m);
  ASSERT_EQ(out.size(), 87u * 34 + 12);

  const size_t o = 5 * 34;
  const std::string expected =
      bytes({0xF1}) + bytes({0xFE, 0xFF, 0xFF, 0xFF}) + bytes({0x78, 0x56, 0x34, 0x12}) +
      bytes({0x00, 0x00, 0x00, 0x80}) + bytes({0xA5}) + bytes({12, 0}) + "ROMA TERMINI" +
      bytes({0xFF, 0xFF}) + bytes({0x34, 0x12}) + bytes({0x00, 0x80}) + bytes({0xFF, 0x7F}) +
      bytes({7, 0}) + bytes({1, 2, 0xFE, 0xFF}) + bytes({0x88, 0x0D, 0x01, 0x00});
  ASSERT_EQ(expected.size(), 34u + 12);
  EXPECT_EQ(out.substr(o, expected.size()), expected);

  // Every other record is a cleared one: 34 zero bytes.
  EXPECT_EQ(out.substr(0, o), std::string(o, '\0'));
  EXPECT_EQ(out.substr(o + 46), std::string(out.size() - o - 46, '\0'));
}

TEST(RecordOutput, ClearedModelWithTheTwoIdentities) {
  const Model m = identity_model();
  const std::string out = encode_record_output(m);
  ASSERT_EQ(out.size(), 2972u);

  const size_t r85 = 85 * 34;
  EXPECT_EQ(out.substr(0, r85), std::string(r85, '\0'));
  EXPECT_EQ(u16_at(out, r85 + 14), 11u);
  EXPECT_EQ(out.substr(r85 + 16, 11), "QUELDRANO 2");
  EXPECT_EQ(out.substr(r85 + 27, 18), std::string(18, '\0'));

  const size_t r86 = r85 + 34 + 11;
  ASSERT_EQ(r86, record_offset(m, 86));
  EXPECT_EQ(out.substr(r86, 14), std::string(14, '\0'));
  EXPECT_EQ(u16_at(out, r86 + 14), 3u);
  EXPECT_EQ(out.substr(r86 + 16, 3), "555");
  EXPECT_EQ(out.substr(r86 + 19), std::string(18, '\0'));
}

TEST(RecordOutput, LongTextKeepsItsFullLength) {
  Model m;
  m.items[0].text = std::string(300, 'x');  // more than one byte of length
  const std::string out = encode_record_output(m);
  ASSERT_EQ(out.size(), 87u * 34 + 300);
  EXPECT_EQ(u16_at(out, 14), 300u);
  EXPECT_EQ(out.substr(16, 300), std::string(300, 'x'));
  EXPECT_EQ(out.substr(316, 18), std::string(18, '\0'));
}

TEST(GridOutput, FifteenBytesACellInFieldOrder) {
  Model m;
  create_grid(m, 4);
  TrackCell& c = m.track_grid[3];
  c.kind = 14;
  c.param1 = -2;
  c.param2 = 0x1234;
  c.param3 = INT16_MIN;
  c.param4 = 22;
  c.signal_time = 0x81;
  c.approach_code = 2;
  c.tunnel_type = 3;
  c.speed_limit = 31;
  c.gradient_code = 0xFF;
  c.adhesion = 80;
  const std::string out = encode_grid_output(m);
  ASSERT_EQ(out.size(), 5u * 15);
  EXPECT_EQ(out.substr(3 * 15, 15),
            bytes({14, 0xFE, 0xFF, 0x34, 0x12, 0x00, 0x80, 22, 0, 0x81, 2, 3, 31, 0xFF, 80}));
  EXPECT_EQ(out.substr(0, 45), std::string(45, '\0'));
  EXPECT_EQ(out.substr(60), std::string(15, '\0'));
}

TEST(GridOutput, SizeFollowsTheLastCell) {
  Model m;
  create_grid(m, 4700);
  EXPECT_EQ(encode_grid_output(m).size(), 70515u);
}

// The little-endian helpers, pinned byte by byte against values whose bytes all differ.
TEST(Coding, LittleEndianByteOrder) {
  std::string out(29, '\0');
  char* p = out.data();
  p = put_u8(p, 0xA1);
  p = put_u16(p, 0xB2C3);
  p = put_i16(p, -2);
  p = put_u32(p, 0xD4E5F607u);
  p = put_i32(p, INT32_MIN + 1);
  p = put_f64(p, -2.5);  // 0xC004000000000000
  p = put_f64(p, 0.1);   // 0x3FB999999999999A
  ASSERT_EQ(p, out.data() + out.size());
  const std::string expected = bytes({0xA1}) + bytes({0xC3, 0xB2}) + bytes({0xFE, 0xFF}) +
                               bytes({0x07, 0xF6, 0xE5, 0xD4}) + bytes({0x01, 0, 0, 0x80}) +
                               bytes({0, 0, 0, 0, 0, 0, 0x04, 0xC0}) +
                               bytes({0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F});
  ASSERT_EQ(out, expected);

  const auto* in = reinterpret_cast<const unsigned char*>(out.data());
  EXPECT_EQ(get_u16(in + 1), 0xB2C3);
  EXPECT_EQ(get_i16(in + 3), -2);
  EXPECT_EQ(get_u32(in + 5), 0xD4E5F607u);
  EXPECT_EQ(get_i32(in + 9), INT32_MIN + 1);
  EXPECT_EQ(get_f64(in + 13), -2.5);
  EXPECT_EQ(get_f64(in + 21), 0.1);
}

// Writes the plan as tagged values: x of every point, then y of every point.
TEST(LineOutput, TaggedValuesColumnMajor) {
  Model m;
  create_profile(m, 3);
  m.plan.x.append(TaggedValue::Integer(0));
  m.plan.x.append(TaggedValue::Integer(-2));
  m.plan.x.append(TaggedValue::Double(0.0004));
  m.plan.y.append(TaggedValue::Integer(0));
  m.plan.y.append(TaggedValue::Integer(1));
  m.plan.y.append(TaggedValue::Double(-2.5));
  // Point 3 stays empty in both columns.
  const std::string out = encode_line_output(m);

  // IEEE bits, least significant byte first.
  auto f64 = [](double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    std::string s;
    for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    return s;
  };
  const std::string expected = bytes({2, 0, 0, 0}) + bytes({2, 0, 0xFE, 0xFF}) + bytes({5, 0}) +
                               f64(0.0004) + bytes({0, 0}) +  // x of points 0 to 3
                               bytes({2, 0, 0, 0}) + bytes({2, 0, 1, 0}) + bytes({5, 0}) +
                               f64(-2.5) + bytes({0, 0});  // y of points 0 to 3
  EXPECT_EQ(out, expected);
  // -2.5 is 0xC004000000000000.
  EXPECT_EQ(out.substr(out.size() - 10, 8), bytes({0, 0, 0, 0, 0, 0, 0x04, 0xC0}));
}

TEST(LineOutput, EmptyPlanOfALine) {
  Model m;
  create_profile(m, 235000);
  const std::string out = encode_line_output(m);
  ASSERT_EQ(out.size(), 2u * 235001 * 2);
  EXPECT_EQ(out, std::string(out.size(), '\0'));
}

// Same tag and same bits (an Integer's value, a double's 64 bits).
void expect_same_value(const TaggedValue& got, const TaggedValue& expected, const char* what,
                       size_t point) {
  ASSERT_EQ(got.tag, expected.tag) << what << " " << point;
  if (got.tag == TaggedValue::kInteger) {
    ASSERT_EQ(int16_t{got.integer}, int16_t{expected.integer}) << what << " " << point;
  }
  if (got.tag == TaggedValue::kDouble) {
    ASSERT_EQ(std::bit_cast<uint64_t>(double{got.real}),
              std::bit_cast<uint64_t>(double{expected.real}))
        << what << " " << point;
  }
}

// The plan gives back every value appended, whatever the order of the tags, and its bytes are
// the line output, whole and in pieces of at most 64 KiB.
TEST(LineOutput, PlanHeldAsItsEncoding) {
  // Stretches of each tag, one value long and longer.
  const TaggedValue values[] = {TaggedValue::Integer(INT16_MIN),
                                TaggedValue{},
                                TaggedValue::Double(-0.0),
                                TaggedValue::Double(std::bit_cast<double>(0x7FF8000000000123ull)),
                                TaggedValue::Integer(7),
                                TaggedValue::Integer(-300),
                                TaggedValue::Integer(1),
                                TaggedValue{},
                                TaggedValue{},
                                TaggedValue::Double(1e300)};
  const size_t n = std::size(values);
  const size_t points = 20000;  // enough for several pieces
  // Every point but the last gets a value; x and y take the values in different orders.
  auto x_of = [&](size_t i) { return i + 1 < points ? values[i % n] : TaggedValue{}; };
  auto y_of = [&](size_t i) { return i + 1 < points ? values[(i / 3) % n] : TaggedValue{}; };
  Model m;
  create_profile(m, 7);
  m.plan.x.append(TaggedValue::Double(5.0));  // dropped by the fresh plan below
  create_profile(m, static_cast<int32_t>(points) - 1);
  for (size_t i = 0; i + 1 < points; ++i) {
    m.plan.x.append(x_of(i));
    m.plan.y.append(y_of(i));
  }

  const std::string out = encode_line_output(m);
  EXPECT_EQ(out.size(), line_output_size(m));
  // x(0) an Integer, x(1) empty, x(2) the double -0.0.
  EXPECT_EQ(out.substr(0, 16),
            bytes({2, 0, 0x00, 0x80}) + bytes({0, 0}) + bytes({5, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}));
  DecodeError error;
  auto plan = decode_line(out, error);
  ASSERT_TRUE(plan.has_value()) << error.reason;
  ASSERT_EQ(plan->x.size(), points);
  for (size_t i = 0; i < points; ++i) {
    expect_same_value(m.plan.x.at(i), x_of(i), "x read back", i);
    expect_same_value(m.plan.y.at(i), y_of(i), "y read back", i);
    expect_same_value(plan->x[i], x_of(i), "x decoded", i);
    expect_same_value(plan->y[i], y_of(i), "y decoded", i);
  }

  std::string joined;
  size_t pieces = 0;
  encode_line_output_in_pieces(m, [&](const char* data, size_t size) {
    EXPECT_GT(size, 0u);
    EXPECT_LE(size, 65536u);
    joined.append(data, size);
    ++pieces;
    return true;
  });
  EXPECT_EQ(joined, out);
  EXPECT_GT(pieces, 2u);
  // A piece refused stops the pieces.
  size_t offered = 0;
  encode_line_output_in_pieces(m, [&](const char*, size_t) { return ++offered < 2; });
  EXPECT_EQ(offered, 2u);

  // A copy holds bytes of its own, and a move takes them along.
  Model copy = m;
  m.plan.reset(1);
  EXPECT_EQ(line_output_size(m), 4u);
  EXPECT_EQ(encode_line_output(copy), out);
  const Model moved = std::move(copy);
  EXPECT_EQ(encode_line_output(moved), out);
  for (size_t i = 0; i < points; ++i) {
    expect_same_value(moved.plan.x.at(i), x_of(i), "x moved", i);
    expect_same_value(moved.plan.y.at(i), y_of(i), "y moved", i);
  }
}

// Stretches of steps are held as their rule and computed as they are read: whole, in pieces, a
// value at a time or in buffers that end inside a stretch, they give the doubles of a walk that
// takes every step in both coordinates, bit for bit.
TEST(LineOutput, StepsComputedAsTheyAreRead) {
  struct Stretch {
    size_t count;
    double k;
    bool curved;
  };
  const Stretch stretches[] = {{5003, 0.0, false},  {3001, 0.0004, true}, {4000, 0.003, false},
                               {777, -0.002, true}, {6529, 0.0, false},   {1, 0.001, true},
                               {2, 0.0, false}};
  const size_t points = 20000;  // 2 Integers, 19,313 steps, then empty values
  Model m;
  create_profile(m, static_cast<int32_t>(points) - 1);
  m.plan.x.append(TaggedValue::Integer(0));
  m.plan.y.append(TaggedValue::Integer(0));
  m.plan.x.append(TaggedValue::Integer(0));
  m.plan.y.append(TaggedValue::Integer(1));
  std::vector<double> xs = {0.0, 0.0};
  std::vector<double> ys = {0.0, 1.0};
  for (const Stretch& st : stretches) {
    m.plan.append_steps(st.count, st.k, st.curved);
    for (size_t i = 0; i < st.count; ++i) {
      const size_t n = xs.size();
      const double dx = xs[n - 1] - xs[n - 2];
      const double dy = ys[n - 1] - ys[n - 2];
      xs.push_back(st.curved ? xs[n - 1] + (dx + st.k * dy) : xs[n - 1] + dx);
      ys.push_back(st.curved ? ys[n - 1] + (dy - st.k * dx) : ys[n - 1] + dy);
    }
  }
  ASSERT_LT(xs.size(), points);
  auto expected = [&](const std::vector<double>& column, size_t i) {
    if (i >= column.size()) return TaggedValue{};
    return i < 2 ? TaggedValue::Integer(static_cast<int16_t>(column[i]))
                 : TaggedValue::Double(column[i]);
  };

  const std::string out = encode_line_output(m);
  ASSERT_EQ(out.size(), line_output_size(m));
  DecodeError error;
  auto plan = decode_line(out, error);
  ASSERT_TRUE(plan.has_value()) << error.reason;
  for (size_t i = 0; i < points; ++i) {
    expect_same_value(plan->x[i], expected(xs, i), "x decoded", i);
    expect_same_value(plan->y[i], expected(ys, i), "y decoded", i);
  }
  for (size_t i = 0; i < points; i += 97) {
    expect_same_value(m.plan.x.at(i), expected(xs, i), "x at", i);
    expect_same_value(m.plan.y.at(i), expected(ys, i), "y at", i);
  }

  // Buffers of the widest value, of sizes that end inside a value, and of 64 KiB.
  for (size_t room : {size_t{10}, size_t{17}, size_t{4099}, size_t{65536}}) {
    std::string joined;
    std::vector<unsigned char> buffer(room);
    for (const PlanColumn* half : {&m.plan.x, &m.plan.y}) {
      PlanColumn::Reader reader(*half);
      while (const size_t n = reader.read(buffer.data(), room)) {
        ASSERT_LE(n, room);
        joined.append(reinterpret_cast<const char*>(buffer.data()), n);
      }
    }
    EXPECT_EQ(joined, out) << "room " << room;
  }
}

// A whole compile puts the stamps and the integrity codes where the simulator looks for them.
TEST(Outputs, StampsAndCodesOfACompiledModel) {
  test::Compiled c = test::compile_in_memory(test::SourceText::line(1000),
                                             test::SourceText::train({}), {.with_plan = 0});
  ASSERT_EQ(c.outcome, PassOutcome::kReady);
  const Model& m = c.m;
  ASSERT_EQ(m.error_code, 0);

  // The codes of "555" + "queldrano 2", completed from the fill table to 25 characters.
  const std::string work = "555queldrano 2mmoorrttvvz";
  ASSERT_EQ(work.size(), 25u);
  int32_t plain = 0, weighted = 0;
  for (size_t p = 1; p <= 25; ++p) {
    plain += static_cast<unsigned char>(work[p - 1]);
    weighted += static_cast<int32_t>(static_cast<unsigned char>(work[p - 1]) * p);
  }

  const std::string grid = encode_grid_output(m);
  ASSERT_EQ(grid.size(), 161u * 15);
  EXPECT_EQ(grid.substr(15, 1), bytes({0}));
  EXPECT_EQ(grid.substr(16, 2), bytes({0x01, 0x14}));  // 5121
  EXPECT_EQ(i16_at(grid, 18), plain);

  const std::string records = encode_record_output(m);
  ASSERT_EQ(records.size(), 2972u);
  const size_t r85 = record_offset(m, 85);
  EXPECT_EQ(records.substr(r85 + 16, 11), "QUELDRANO 2");
  EXPECT_EQ(i16_at(records, r85 + 27), 610);
  EXPECT_EQ(i32_at(records, r85 + 41), weighted);
}

}  // namespace
}  // namespace compactor
