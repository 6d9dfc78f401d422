#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace vantrel {

// Replaces the file at path with exactly bytes. They are written to a new file beside it, flushed to disk and
// renamed over it, so path holds either its old content or the new content whole; a symbolic link at path is
// replaced, never followed. Nothing is left behind on failure, and the folder is never created.
bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// The temporary files ReplaceFileContents writes are named kTemporaryPrefix + tag + kTemporarySuffix.
inline constexpr std::string_view kTemporaryPrefix = ".vantrel-";
inline constexpr std::string_view kTemporarySuffix = ".tmp";

// How old a temporary must be before it counts as left by a killed process: a younger one may belong to another
// copy of the program still writing.
inline constexpr std::chrono::seconds kStaleTemporaryAge = std::chrono::minutes(10);

// Removes temporary files that a killed process left in folder, once they are older than minimumAge. Errors are
// ignored.
void RemoveStaleTemporaryFiles(const std::string& folder, std::chrono::seconds minimumAge = kStaleTemporaryAge);

// The same for temporary folders, named prefix + anything, with all they hold. A link is never followed.
void RemoveStaleTemporaryFolders(const std::string& folder, std::string_view prefix,
                                 std::chrono::seconds minimumAge = kStaleTemporaryAge);

}  // namespace vantrel
