// Windows: the pieces are gathered and the file is written whole.
#include <string>

#include "platform/files.h"

namespace compactor {

FileResult StagedFiles::add(const std::string& path, const PieceProducer& produce) {
  std::string bytes;
  produce([&bytes](const char* data, size_t size) {
    bytes.append(data, size);
    return true;
  });
  return add(path, bytes);
}

}  // namespace compactor
