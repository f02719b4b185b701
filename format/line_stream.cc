#include "format/line_stream.h"

#include <algorithm>
#include <cstring>

#include "format/coding.h"

namespace compactor {

namespace {

constexpr size_t kBufferBytes = size_t{1} << 16;

}  // namespace

ByteSource bytes_in_memory(std::string_view bytes) {
  return ByteSource{bytes.size(), [bytes](uint64_t offset, char* into, size_t count) {
                      std::memcpy(into, bytes.data() + offset, count);
                      return true;
                    }};
}

LineValueReader::LineValueReader(const ByteSource& source, uint64_t offset)
    : source_(source), buffer_(kBufferBytes), start_(offset) {}

// Moves the bytes not read yet to the front of the buffer and fills the rest from the file.
bool LineValueReader::refill() {
  std::memmove(buffer_.data(), buffer_.data() + pos_, filled_ - pos_);
  start_ += pos_;
  filled_ -= pos_;
  pos_ = 0;
  const uint64_t unread = source_.size - std::min(source_.size, start_ + filled_);
  const size_t count = static_cast<size_t>(std::min<uint64_t>(buffer_.size() - filled_, unread));
  if (count == 0) return true;
  if (!source_.read(start_ + filled_, reinterpret_cast<char*>(buffer_.data() + filled_), count)) {
    read_failed_ = true;
    return false;
  }
  filled_ += count;
  return true;
}

bool LineValueReader::next_near_the_end(TaggedValue::Tag& tag, double& number) {
  uint64_t left = 0;
  const unsigned char* p = window(left);
  if (p == nullptr || left < kLineTagBytes) return false;
  const LineValueLayout* layout = line_value_layout(get_u16(p));
  if (layout == nullptr || left - kLineTagBytes < layout->number_bytes) return false;
  take(p, tag, number);
  return true;
}

}  // namespace compactor
