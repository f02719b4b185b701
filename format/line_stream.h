// The line output read a buffer at a time from wherever it is: its file, which decompile reads in
// several passes and never holds whole (a long line's is 20 MB), or bytes in memory.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "model/line_plan.h"

namespace compactor {

// Bytes read at an offset. `read` puts the `count` bytes from `offset`, which lie inside `size`, at
// `into`, and returns false when they cannot all be read; whoever supplies it keeps why.
struct ByteSource {
  uint64_t size = 0;
  std::function<bool(uint64_t offset, char* into, size_t count)> read;
};

// `bytes` as a source; they must outlive it.
ByteSource bytes_in_memory(std::string_view bytes);

// The number of the value at p, as TaggedValue::number() gives it: read straight into a double,
// where a packed TaggedValue would be stored and loaded again at an odd address.
inline double line_value_number(const unsigned char* p) {
  const unsigned char* number = p + kLineTagBytes;
  if (p[0] == TaggedValue::kInteger) {
    return static_cast<int16_t>(static_cast<uint16_t>(number[0] | (number[1] << 8)));
  }
  if (p[0] != TaggedValue::kDouble) return 0.0;
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | number[i];
  return std::bit_cast<double>(bits);
}

// The values of a line output in order from an offset, read into a buffer of 64 KiB.
class LineValueReader {
 public:
  LineValueReader(const ByteSource& source, uint64_t offset);

  // A read of the source failed: false from window() or next() says no more about the file.
  bool read_failed() const { return read_failed_; }

  // Where the next value starts.
  uint64_t offset() const { return start_ + pos_; }

  // The bytes from offset() on, at least those of the widest value unless the file ends sooner;
  // `left` takes how many the file holds from there. Null when a read failed.
  const unsigned char* window(uint64_t& left) {
    left = source_.size - offset();
    const size_t held = filled_ - pos_;
    if (held < kLineValueMaxBytes && held < left && !refill()) return nullptr;
    return buffer_.data() + pos_;
  }
  // Moves past bytes that window() showed.
  void skip(size_t bytes) { pos_ += bytes; }

  // The next value: its tag, and its number (0 for an empty one). False when it cannot be read,
  // or is no whole value of one of the three tags: the file then is not what the walk that checked
  // it found.
  bool next(TaggedValue::Tag& tag, double& number) {
    if (filled_ - pos_ < kLineValueMaxBytes) return next_near_the_end(tag, number);
    const unsigned char* p = buffer_.data() + pos_;
    if (p[1] != 0 || line_value_layout(p[0]) == nullptr) return false;
    take(p, tag, number);
    return true;
  }

 private:
  bool refill();
  bool next_near_the_end(TaggedValue::Tag& tag, double& number);
  // The value at p, of one of the three tags and whole in the buffer.
  void take(const unsigned char* p, TaggedValue::Tag& tag, double& number) {
    tag = static_cast<TaggedValue::Tag>(p[0]);
    number = line_value_number(p);
    pos_ += line_value_bytes(tag);
  }

  const ByteSource& source_;
  std::vector<unsigned char> buffer_;
  uint64_t start_ = 0;  // the offset of buffer_[0] in the file
  size_t pos_ = 0;      // where offset() stands in the buffer
  size_t filled_ = 0;   // the bytes the buffer holds
  bool read_failed_ = false;
};

}  // namespace compactor
