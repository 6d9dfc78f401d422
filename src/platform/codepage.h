#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Text of a board file as UTF-8. Valid UTF-8 is kept as it is and a leading byte-order mark is dropped;
// anything else is decoded from the ANSI code page (932, or the system's on Windows). Bytes that do not
// decode become U+FFFD: decoding never fails.
std::string DecodeAnsiText(std::string_view bytes);

}  // namespace vantrel
