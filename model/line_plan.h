// The plan of the line (x and y of every metre), held as the bytes of the line output.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
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

// The allocator of the plan's bytes: zeroed storage from calloc, and no pass of its own to make
// the elements, since the storage is zero already. A long line's plan is written once, by the
// plan itself.
template <class T>
struct ZeroedAllocator {
  using value_type = T;
  ZeroedAllocator() = default;
  template <class U>
  ZeroedAllocator(const ZeroedAllocator<U>&) {}
  T* allocate(std::size_t n) {
    void* p = std::calloc(n, sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) { std::free(p); }
  template <class U>
  void construct(U*) {}  // value-initialised: the storage is zero already
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const ZeroedAllocator<U>&) const {
    return true;
  }
};

// One coordinate of the plan, metre by metre, as its half of the line output. Values are
// appended in order of metre, each written in its encoding after the one before. The metres not
// appended yet are empty: their two zero bytes each are already in the zeroed storage after the
// last value appended, so the half is complete at any time. The storage is the plan's.
class PlanColumn {
 public:
  size_t points() const { return points_; }
  // The values appended so far: those of metres 0 to appended() - 1.
  size_t appended() const { return appended_; }

  // Appends the value of metre appended(), which must be below points().
  void append(const TaggedValue& v) {
    assert(appended_ < points_);
    if (v.tag != last_tag_) start_stretch(v.tag);  // also the first value
    end_ = static_cast<size_t>(put_line_value(bytes_ + end_, v) - bytes_);
    ++appended_;
  }

  // Writes the doubles of a stretch of metres one after the other, with nothing to keep track of
  // per value: the column counted them when it handed out the writer.
  class DoubleWriter {
   public:
    explicit DoubleWriter(unsigned char* p) : p_(p) {}
    void put(double v) { p_ = put_line_double(p_, v); }

   private:
    unsigned char* p_;
  };

  // Appends the values of the next n metres, all doubles, which the writer must then put, every
  // one of them, in order of metre. n may not take the column beyond points().
  DoubleWriter append_doubles(size_t n) {
    assert(n <= points_ - appended_);
    if (last_tag_ != TaggedValue::kDouble) start_stretch(TaggedValue::kDouble);
    unsigned char* first = bytes_ + end_;
    end_ += n * line_value_bytes(TaggedValue::kDouble);
    appended_ += n;
    return DoubleWriter(first);
  }

  // The value of any metre below points().
  TaggedValue at(size_t metre) const;

  // This half of the line output, and its length in bytes.
  const unsigned char* bytes() const { return bytes_; }
  size_t byte_size() const { return end_ + kLineTagBytes * (points_ - appended_); }

 private:
  // Where a stretch of values with one tag starts. Values of one tag have one width, so a value's
  // place follows from the start of its stretch.
  struct Stretch {
    size_t first_metre;
    size_t offset;
    TaggedValue::Tag tag;
  };

  friend class LinePlan;

  // Starts afresh, all `points` values empty, on zeroed storage with room for each at its widest.
  void start(unsigned char* storage, size_t points);
  void start_stretch(TaggedValue::Tag tag);

  unsigned char* bytes_ = nullptr;  // the column's part of the plan's storage
  std::vector<Stretch> stretches_;
  size_t points_ = 0;
  size_t appended_ = 0;
  size_t end_ = 0;  // the end of the last value appended
  // The tag of the last stretch; none of the tags while there is none.
  static constexpr uint16_t kNoStretch = 0x100;
  uint16_t last_tag_ = kNoStretch;
};

// The plan: x(0 .. last), then y(0 .. last), which is the line output's order. Both columns lie
// in one block of zeroed storage, x's room first.
class LinePlan {
 public:
  PlanColumn x;
  PlanColumn y;

  LinePlan() = default;
  LinePlan(const LinePlan& other);
  LinePlan& operator=(const LinePlan& other);
  // A moved vector keeps its block, so the columns' places in it stay right.
  LinePlan(LinePlan&&) noexcept = default;
  LinePlan& operator=(LinePlan&&) noexcept = default;

  // Room for `points` values in each column, all empty; what was held before is dropped.
  void reset(size_t points);

  // The line output's length in bytes.
  size_t byte_size() const { return x.byte_size() + y.byte_size(); }

 private:
  std::vector<unsigned char, ZeroedAllocator<unsigned char>> storage_;
};

}  // namespace compactor
