#include "feeds/cache_file.h"

#include <algorithm>
#include <array>

#include "board/ascii_case.h"

namespace vantrel {
namespace {

constexpr std::string_view kRefusedCharacters = "/\\:*?\"<>|";
constexpr std::string_view kCacheSuffix = ".xml";
constexpr std::array<std::string_view, 4> kDevices = {"con", "prn", "aux", "nul"};
constexpr std::array<std::string_view, 2> kNumberedDevices = {"com", "lpt"};
// Windows counts the superscripts ¹ ² ³ (in UTF-8) as digits of a numbered device too.
constexpr std::array<std::string_view, 3> kSuperscriptDigits = {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};

// Windows drops trailing dots and blanks from a name and opens a device for its part before the first dot.
bool isWindowsDevice(std::string_view fileName)
{
    std::string_view base = fileName.substr(0, fileName.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    if (std::ranges::any_of(kDevices, [&](std::string_view device) { return EqualsFoldingAscii(base, device); }))
        return true;
    if (base.size() < 4)
        return false;
    const std::string_view number = base.substr(3);
    const bool digit = (number.size() == 1 && number[0] >= '1' && number[0] <= '9') ||
                       std::ranges::find(kSuperscriptDigits, number) != kSuperscriptDigits.end();
    return digit && std::ranges::any_of(kNumberedDevices, [&](std::string_view device) {
               return EqualsFoldingAscii(base.substr(0, 3), device);
           });
}

}  // namespace

bool IsSafeCacheFileName(std::string_view fileName)
{
    if (fileName.empty() || fileName == "." || fileName == "..")
        return false;
    for (const char c : fileName) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F || kRefusedCharacters.find(c) != std::string_view::npos)
            return false;
    }
    std::string_view stem = fileName;
    if (stem.ends_with(kCacheSuffix))
        stem.remove_suffix(kCacheSuffix.size());
    return stem != "." && stem != ".." && !isWindowsDevice(fileName);
}

}  // namespace vantrel
