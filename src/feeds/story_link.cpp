#include "feeds/story_link.h"

#include "board/ascii_case.h"

namespace vantrel {
namespace {

bool hasControlCharacter(std::string_view link)
{
    for (std::size_t pos = 0; pos < link.size(); ++pos) {
        const auto byte = static_cast<unsigned char>(link[pos]);
        if (byte < 0x20 || byte == 0x7F)
            return true;
        // U+0080 to U+009F in UTF-8
        const auto next = pos + 1 < link.size() ? static_cast<unsigned char>(link[pos + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F)
            return true;
    }
    return false;
}

bool isAbsoluteWebAddress(std::string_view link)
{
    // A backslash is never part of an address; browsers read it as a slash, Windows as a share's path.
    if (link.find('\\') != std::string_view::npos)
        return false;
    const std::size_t colon = link.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view scheme = link.substr(0, colon);
    if (!EqualsFoldingAscii(scheme, "http") && !EqualsFoldingAscii(scheme, "https"))
        return false;
    const std::string_view rest = link.substr(colon + 1);
    if (!rest.starts_with("//"))
        return false;
    std::string_view host = rest.substr(2, rest.find_first_of("/?#", 2) - 2);
    if (const std::size_t at = host.rfind('@'); at != std::string_view::npos)
        host.remove_prefix(at + 1);
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        return close != std::string_view::npos && close > 1;
    }
    return !host.empty() && host.front() != ':';
}

}  // namespace

std::string_view StoryLinkRefusal(std::string_view link)
{
    if (link.size() > kMaxStoryLinkBytes)
        return "リンクが 2048 バイトを超えています。";
    if (hasControlCharacter(link))
        return "リンクに制御文字があります。";
    if (!isAbsoluteWebAddress(link))
        return "リンクが http か https の絶対アドレスではありません。";
    return {};
}

}  // namespace vantrel
