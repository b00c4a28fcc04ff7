#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/durable_file.h"

namespace kal {
namespace {

// fsync of whatever `path` names, opened read-only (enough for fsync).
int sync_path(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) return errno;
  int error = ::fsync(fd) == 0 ? 0 : errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int sync_to_disk(const std::string& path) {
  if (const int error = sync_path(path, 0)) return error;
  // A new file is only safe once its folder entry is on disk too.
  return sync_path(folder_of(path), O_DIRECTORY);
}

}  // namespace kal
