#pragma once

#include <string>

namespace vantrel {

// The folder that holds the running executable, in UTF-8 with the system's own separators, as the system
// reports it: no trailing separator, except at the root of a drive ("C:\") or of the file system ("/").
// Empty when the system cannot tell.
std::string ExecutableFolder();

}  // namespace vantrel
