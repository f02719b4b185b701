// Windows: the pieces are gathered and the file is replaced whole.
#include <string>

#include "platform/files.h"

namespace compactor {

FileResult replace_file_in_pieces(const std::string& path, const PieceProducer& produce) {
  std::string bytes;
  produce([&bytes](const char* data, size_t size) {
    bytes.append(data, size);
    return true;
  });
  return replace_file(path, bytes);
}

}  // namespace compactor
