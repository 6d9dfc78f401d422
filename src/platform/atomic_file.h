#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Replaces the file at path with exactly bytes. They are written to a new file beside it, flushed to disk and
// renamed over it, so path holds either its old content or the new content whole; a symbolic link at path is
// replaced, never followed. Nothing is left behind on failure, and the folder is never created.
bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string* error = nullptr);

}  // namespace vantrel
