// Forcing a written file onto stable storage, so that it survives a power
// loss: the file's data, and on systems that keep folder entries apart, the
// entry of the file in its folder.
#pragma once

#include <string>

namespace kal {

// Syncs the file at `path` (already written and closed or flushed) and the
// folder that holds it. 0, or the platform's error number of the step that
// failed.
int sync_to_disk(const std::string& path);

}  // namespace kal
