#pragma once

#include <algorithm>
#include <string_view>

namespace vantrel {

// Letters A to Z as a to z; every other byte, UTF-8 included, as it is. Names, extensions and schemes compare so.
constexpr char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when text equals lowerCase, which is already folded, but for the case of ASCII letters.
constexpr bool EqualsFoldingAscii(std::string_view text, std::string_view lowerCase)
{
    return std::ranges::equal(text, lowerCase, [](char a, char b) { return FoldAscii(a) == b; });
}

}  // namespace vantrel
