// The plan of the line (x and y of every metre) and its encoding, the line output.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace compactor {

// A tagged number: empty, a 16-bit Integer or a double. The decoded plan of a long line holds
// millions of them, so they are packed: one byte of tag and the number, 9 bytes in all. Only the
// member that the tag names holds the value.
#pragma pack(push, 1)
struct TaggedValue {
  enum Tag : uint8_t { kEmpty = 0, kInteger = 2, kDouble = 5 };
  Tag tag = kEmpty;
  union {
    int16_t integer;
    double real = 0.0;
  };

  static TaggedValue Integer(int16_t v) {
    TaggedValue t;
    t.tag = kInteger;
    t.integer = v;
    return t;
  }
  static TaggedValue Double(double v) {
    TaggedValue t;
    t.tag = kDouble;
    t.real = v;
    return t;
  }
  // The numeric value whatever the width (0 for empty).
  double number() const { return tag == kInteger ? integer : tag == kDouble ? real : 0.0; }
};
#pragma pack(pop)
static_assert(sizeof(TaggedValue) == 9, "decoded plans hold packed values");

// --- One value of the line output ---------------------------------------------------------
//
// A 16-bit tag, then the number the tag names, little-endian: nothing for an empty value, a
// 16-bit Integer, or the 64 bits of an IEEE double. An empty value is two zero bytes.

struct LineValueLayout {
  TaggedValue::Tag tag;
  const char* name;     // "empty", "integer", "double"
  size_t number_bytes;  // after the tag
};

constexpr size_t kLineTagBytes = 2;
constexpr LineValueLayout kLineValueLayouts[] = {
    {TaggedValue::kEmpty, "empty", 0},
    {TaggedValue::kInteger, "integer", 2},
    {TaggedValue::kDouble, "double", 8},
};
// The widest value: a tag and a double.
constexpr size_t kLineValueMaxBytes = kLineTagBytes + 8;

// The layout of a tag as read from a file; null for a tag that is none of the three.
constexpr const LineValueLayout* line_value_layout(uint16_t tag) {
  for (const LineValueLayout& layout : kLineValueLayouts) {
    if (layout.tag == tag) return &layout;
  }
  return nullptr;
}

// Bytes of an encoded value with this tag, tag included.
constexpr size_t line_value_bytes(TaggedValue::Tag tag) {
  return kLineTagBytes + line_value_layout(tag)->number_bytes;
}

// Writes a double value at p, field by field: the tag, then the double's 64 bits. Returns the
// end of the value.
inline unsigned char* put_line_double(unsigned char* p, double v) {
  p[0] = TaggedValue::kDouble;  // the tag's high byte is 0
  p[1] = 0;
  unsigned char* number = p + kLineTagBytes;
  const auto bits = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) number[i] = static_cast<unsigned char>((bits >> (8 * i)) & 0xFF);
  return number + 8;
}

// Writes v at p, field by field: the tag, then its number. Returns the end of the value.
inline unsigned char* put_line_value(unsigned char* p, const TaggedValue& v) {
  if (v.tag == TaggedValue::kDouble) return put_line_double(p, v.real);
  p[0] = v.tag;
  p[1] = 0;
  unsigned char* number = p + kLineTagBytes;
  if (v.tag == TaggedValue::kInteger) {
    const auto bits = static_cast<uint16_t>(v.integer);
    number[0] = static_cast<unsigned char>(bits & 0xFF);
    number[1] = static_cast<unsigned char>(bits >> 8);
    return number + 2;
  }
  return number;
}

// Reads the value at p, whose tag is one of the three and whose bytes are all there.
inline TaggedValue get_line_value(const unsigned char* p) {
  const unsigned char* number = p + kLineTagBytes;
  if (p[0] == TaggedValue::kInteger) {
    return TaggedValue::Integer(
        static_cast<int16_t>(static_cast<uint16_t>(number[0] | (number[1] << 8))));
  }
  if (p[0] == TaggedValue::kDouble) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | number[i];
    return TaggedValue::Double(std::bit_cast<double>(bits));
  }
  return TaggedValue{};
}

// --- The plan -------------------------------------------------------------------------------

// Where the steps of the plan stand: (x1, y1) is the last point, (x2, y2) the one before it.
struct PlanState {
  double x1 = 0.0;
  double y1 = 0.0;
  double x2 = 0.0;
  double y2 = 0.0;

  // One point from the two before it: a straight step, or one turned by k when `curved`. The
  // order of the operations is part of the line output: the same order gives the same bits.
  void step(double k, bool curved) {
    const double dx = x1 - x2;
    const double dy = y1 - y2;
    double x;
    double y;
    if (curved) {
      x = x1 + (dx + k * dy);
      y = y1 + (dy - k * dx);
    } else {
      x = x1 + dx;
      y = y1 + dy;
    }
    x2 = x1;
    y2 = y1;
    x1 = x;
    y1 = y;
  }
};

// A stretch of points each computed from the two before it, as the plan holds it: the rule of
// its steps and the two points before its first. Its doubles are computed again, by the same
// steps and so to the same bits, whenever they are read: a long line's plan is millions of
// doubles, and memory touched for the first time costs more than computing them.
struct PlanSteps {
  PlanState before;  // the two points before the first step
  double k = 0.0;    // the turn of a curved step
  bool curved = false;
};

// The plan as its steps give it: each coordinate's first two values as they are held, then runs
// of points each one step on from the two before it, then empty values up to `points`. Two plans
// of one outline have the same line output, byte for byte, when one of them has no NaN after its
// first two values: every value after them follows from them and the turn of its step. Which
// payload a NaN computed from two NaNs keeps depends on the machine code of the step.
struct PlanRun {
  size_t count = 0;
  double k = 0.0;  // the turn of a curved step
  bool curved = false;
};

struct PlanOutline {
  size_t points = 0;  // the values of each coordinate
  TaggedValue first_x[2];
  TaggedValue first_y[2];
  std::vector<PlanRun> runs;  // from point 2 on; no two in a row take the same step

  // Counts one more point, which the step of (k, curved) gives.
  void add_step(double k, bool curved, size_t count = 1) {
    if (count == 0) return;
    if (!curved) k = 0.0;  // a straight step has no turn
    if (!runs.empty() && runs.back().curved == curved &&
        std::bit_cast<uint64_t>(runs.back().k) == std::bit_cast<uint64_t>(k)) {
      runs.back().count += count;
      return;
    }
    runs.push_back({count, k, curved});
  }
};

// Whether two outlines give the same values: the same tags and the same bits.
bool same_outline(const PlanOutline& a, const PlanOutline& b);

// One coordinate of the plan, metre by metre, as its half of the line output. Values are
// appended in order of metre: one at a time, each held in its encoding (tag, then the number,
// little-endian), or a stretch of computed doubles (LinePlan::append_steps). The metres not
// appended yet are empty.
class PlanColumn {
 public:
  size_t points() const { return points_; }
  // The values appended so far: those of metres 0 to appended() - 1.
  size_t appended() const { return appended_; }

  // Appends the value of metre appended(), which must be below points().
  void append(const TaggedValue& v);

  // The value of any metre below points().
  TaggedValue at(size_t metre) const;

  // The length in bytes of this half of the line output.
  size_t byte_size() const { return end_ + kLineTagBytes * (points_ - appended_); }

  // This half of the line output, handed out in order a buffer at a time.
  class Reader {
   public:
    explicit Reader(const PlanColumn& column) : column_(column) {}
    // Writes the next values, as many whole ones as fit in `room` bytes (at least the widest
    // value's), at `out`; returns the bytes written, 0 once the half is all read.
    size_t read(unsigned char* out, size_t room);

   private:
    const PlanColumn& column_;
    size_t stretch_ = 0;  // the stretch being read, then the empties after the last
    size_t done_ = 0;     // values of it already read
    PlanState state_;     // where the steps of a computed stretch stand
  };

 private:
  // Values of one kind: held ones of one tag (one width, so a value's place follows from the
  // start of its stretch), or computed doubles.
  struct Stretch {
    size_t first_metre = 0;
    size_t count = 0;
    TaggedValue::Tag tag = TaggedValue::kEmpty;
    bool computed = false;
    size_t held_offset = 0;  // held values: where their bytes start in held_
    PlanSteps steps;         // computed values: how
  };

  friend class LinePlan;

  // Starts afresh, all `points` values empty; `coordinate` 0 is x, 1 is y.
  void start(size_t points, int coordinate);
  // Appends `count` computed doubles, whose last two are `last` and `before_last`.
  void append_steps(const PlanSteps& steps, size_t count, double last, double before_last);
  void appended_number(double v);
  // This coordinate of the point `index` steps into a computed stretch (0: its first).
  double computed_value(const Stretch& s, size_t index) const;
  unsigned char* put_computed(unsigned char* p, const Stretch& s, PlanState& state,
                              size_t count) const;

  std::vector<Stretch> stretches_;
  std::vector<unsigned char> held_;  // the encoding of the values appended one at a time
  size_t points_ = 0;
  size_t appended_ = 0;
  size_t end_ = 0;  // the length of the encoding of the values appended
  int coordinate_ = 0;
  // The numbers of the last two values appended, where the next steps start.
  double last_ = 0.0;
  double before_last_ = 0.0;
};

// The plan: x(0 .. last), then y(0 .. last), which is the line output's order.
class LinePlan {
 public:
  PlanColumn x;
  PlanColumn y;

  // Room for `points` values in each column, all empty; what was held before is dropped.
  void reset(size_t points);

  // Appends the next `count` points to both columns, which must hold values of the same
  // metres, each point from the two before it: a straight step, or one turned by k when
  // `curved`. The doubles are not held: only the steps and the two points before them.
  void append_steps(size_t count, double k, bool curved);

  // The line output's length in bytes.
  size_t byte_size() const { return x.byte_size() + y.byte_size(); }

  // The outline of the plan, when it has one: its first two points held, every point after them
  // computed by steps, the rest empty.
  std::optional<PlanOutline> outline() const;
};

}  // namespace compactor
