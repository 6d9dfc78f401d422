#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace vantrel {

// Text is UTF-8 throughout the program and UTF-16 in the wide-character calls of Windows; these convert at
// that edge. Malformed input becomes U+FFFD.
inline std::wstring WidenUtf8(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int inLength = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, wide.data(), length);
    return wide;
}

inline std::string NarrowToUtf8(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int inLength = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

}  // namespace vantrel
