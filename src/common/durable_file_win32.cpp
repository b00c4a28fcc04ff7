#include <windows.h>

#include "common/durable_file.h"

namespace kal {

// Windows keeps folder entries with the file's own metadata, so flushing the
// file is enough.
int sync_to_disk(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  int error = FlushFileBuffers(file) ? 0 : static_cast<int>(GetLastError());
  if (!CloseHandle(file) && error == 0) error = static_cast<int>(GetLastError());
  return error;
}

}  // namespace kal
