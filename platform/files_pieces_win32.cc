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

FileResult replace_file_in_pieces(const std::string& path, const PieceProducer& produce) {
  StagedFiles staged;
  FileResult r = staged.add(path, produce);
  if (!r.ok) return r;
  std::string failed_path;
  return staged.commit(failed_path);
}

}  // namespace compactor
