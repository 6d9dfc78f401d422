#include "feeds/cache_file.h"

namespace vantrel {
namespace {

constexpr std::string_view kRefusedCharacters = "/\\:*?\"<>|";
constexpr std::string_view kCacheSuffix = ".xml";

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
    return stem != "." && stem != "..";
}

}  // namespace vantrel
