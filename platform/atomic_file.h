#pragma once
// Whole-file replacement that never leaves a half-written file behind: the
// bytes go to a temporary file in the same folder, are flushed to disk and
// then renamed over the target, so a reader sees the old file or the new one.
#include <string>
#include <string_view>

namespace mirelo {

// Who may read a file that is created: everyone the umask allows, or (for
// settings and traffic) its owner alone.
enum class FileAccess { Shared, OwnerOnly };

// Replaces (or creates) the file at path with data. A symbolic link is
// followed, so the file it names is replaced and the link stays. An existing
// file keeps its permission bits; a new one gets 0666 less the umask, or
// 0600 for OwnerOnly. The temporary file is created exclusively under a
// name of its own (0600), so nothing planted in its place is followed.
// Raises EFileError naming the file and the system's reason; the old file is
// then untouched and no temporary file is left.
void writeFileAtomically(const std::string& path, std::string_view data,
                         FileAccess access = FileAccess::Shared);

}  // namespace mirelo
