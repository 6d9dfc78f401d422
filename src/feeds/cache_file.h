#pragma once

#include <string_view>

namespace vantrel {

// False for a name that some file system would refuse or that leaves its folder: empty, "." or "..", a stem
// (the name before ".xml") of "." or "..", a separator, a control character or any of : * ? " < > |.
// The same names are refused on every platform.
bool IsSafeCacheFileName(std::string_view fileName);

}  // namespace vantrel
