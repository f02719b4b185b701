#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"

namespace compactor {

namespace {

FileResult failure(int err) {
  return FileResult{false, std::strerror(err)};
}

}  // namespace

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> read_file(const std::string& path, FileResult& result,
                                     uint64_t max_bytes) {
  result = FileResult{};
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result = failure(errno);
    return std::nullopt;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    result = failure(errno);
    ::close(fd);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    result = FileResult{false, "not a regular file"};
    ::close(fd);
    return std::nullopt;
  }
  if (static_cast<uint64_t>(st.st_size) > max_bytes) {
    result = FileResult{false, "larger than " + std::to_string(max_bytes >> 20) + " MiB"};
    ::close(fd);
    return std::nullopt;
  }
  // One read into storage sized from the file, one byte over so that the end shows at once; a
  // file that has grown since goes on in more reads, up to the limit.
  auto too_large = [&] {
    result = FileResult{false, "larger than " + std::to_string(max_bytes >> 20) + " MiB"};
    ::close(fd);
    return std::nullopt;
  };
  std::string bytes(static_cast<size_t>(st.st_size) + 1, '\0');
  size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (used > max_bytes) return too_large();
      bytes.resize(static_cast<size_t>(std::min<uint64_t>(2 * uint64_t{used}, max_bytes + 1)));
    }
    ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      result = failure(errno);
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  if (used > max_bytes) return too_large();
  ::close(fd);
  bytes.resize(used);
  return bytes;
}

FileResult replace_file_in_pieces(const std::string& path, const PieceProducer& produce) {
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return failure(errno);
  int err = 0;
  PieceWriter write = [fd, &err](const char* data, size_t size) {
    while (err == 0 && size > 0) {
      ssize_t n = ::write(fd, data, size);
      if (n < 0) {
        if (errno != EINTR) err = errno;
        continue;
      }
      data += n;
      size -= static_cast<size_t>(n);
    }
    return err == 0;
  };
  try {
    produce(write);
  } catch (...) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  if (err == 0 && ::fchmod(fd, 0644) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return failure(err);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    err = errno;
    ::unlink(temp.c_str());
    return failure(err);
  }
  return FileResult{};
}

FileResult replace_file(const std::string& path, const std::string& bytes) {
  return replace_file_in_pieces(
      path, [&bytes](const PieceWriter& write) { write(bytes.data(), bytes.size()); });
}

FileResult delete_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return failure(errno);
  return FileResult{};
}

std::optional<std::vector<std::string>> list_directory(const std::string& path,
                                                       FileResult& result) {
  result = FileResult{};
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) {
    result = failure(errno);
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
      names.push_back(std::move(name));
    }
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace compactor
