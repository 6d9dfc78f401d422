#pragma once

#include <string_view>

namespace vantrel {

// False for a name that some file system would refuse or that leaves its folder: empty, "." or "..", a stem
// (the name before ".xml") of "." or "..", a separator, a control character or any of : * ? " < > |, and a
// Windows device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9) in any case, alone or before a dot.
// The same names are refused on every platform.
bool IsSafeCacheFileName(std::string_view fileName);

}  // namespace vantrel
