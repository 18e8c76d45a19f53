#pragma once
// Whole-file replacement that never leaves a half-written file behind: the
// bytes go to a temporary file in the same folder, are flushed to disk and
// then renamed over the target, so a reader sees the old file or the new one.
#include <string>
#include <string_view>

namespace mirelo {

// Replaces (or creates) the file at path with data. A symbolic link is
// followed, so the file it names is replaced and the link stays. An existing
// file keeps its permission bits; a new one gets 0666 less the umask.
// Raises EFileError naming the file and the system's reason; the old file is
// then untouched and no temporary file is left.
void writeFileAtomically(const std::string& path, std::string_view data);

}  // namespace mirelo
