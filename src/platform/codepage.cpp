#include "platform/codepage.h"

#include <cerrno>
#include <cstddef>

#ifdef _WIN32
#include <windows.h>

#include "platform/wide_string_win.h"
#else
#include <iconv.h>
#endif

namespace vantrel {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool inRange(unsigned char byte, unsigned char low, unsigned char high)
{
    return byte >= low && byte <= high;
}

// Length of the well-formed UTF-8 sequence starting at pos, or 0 when there is none.
std::size_t sequenceLength(std::string_view bytes, std::size_t pos)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[pos + i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80)
        return 1;

    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (inRange(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (inRange(lead, 0xE0, 0xEF)) {
        length = 3;
        if (lead == 0xE0)
            secondLow = 0xA0;  // overlong
        else if (lead == 0xED)
            secondHigh = 0x9F;  // surrogates
    } else if (inRange(lead, 0xF0, 0xF4)) {
        length = 4;
        if (lead == 0xF0)
            secondLow = 0x90;  // overlong
        else if (lead == 0xF4)
            secondHigh = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }

    if (bytes.size() - pos < length || !inRange(at(1), secondLow, secondHigh))
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!inRange(at(i), 0x80, 0xBF))
            return 0;
    }
    return length;
}

// A text marked as UTF-8 stays UTF-8 even with a stray byte in it.
std::string repairUtf8(std::string_view bytes)
{
    std::string result;
    result.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t length = sequenceLength(bytes, pos);
        if (length == 0) {
            result += kReplacement;
            ++pos;
        } else {
            result.append(bytes.substr(pos, length));
            pos += length;
        }
    }
    return result;
}

#ifdef _WIN32

// Whole text in the ANSI code page to UTF-16; false when any byte does not decode.
bool widenStrict(std::string_view bytes, std::wstring& wide)
{
    const int inLength = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), inLength, nullptr, 0);
    if (length <= 0)
        return false;
    wide.resize(static_cast<std::size_t>(length));
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), inLength, wide.data(), length) == length;
}

std::string decodeCodePage(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    if (GetACP() == CP_UTF8)
        return repairUtf8(bytes);
    std::wstring wide;
    if (widenStrict(bytes, wide))
        return NarrowToUtf8(wide);

    // The lenient conversion makes a bad sequence U+30FB and lets a lead byte take the byte after it along, a comma
    // or line end included; here each byte that does not decode becomes U+FFFD and the next one is read afresh.
    wide.clear();
    std::wstring character;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const bool lead = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(bytes[pos])) != 0;
        const std::size_t length = lead && pos + 1 < bytes.size() ? 2 : 1;
        if (widenStrict(bytes.substr(pos, length), character)) {
            wide += character;
            pos += length;
        } else {
            wide += L'\uFFFD';
            ++pos;
        }
    }
    return NarrowToUtf8(wide);
}

#else

class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
    ~IconvHandle()
    {
        if (valid())
            iconv_close(m_handle);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_handle; }

private:
    iconv_t m_handle;
};

std::string decodeCodePage(std::string_view bytes)
{
    std::string result;
    IconvHandle converter("UTF-8", "CP932");
    if (!converter.valid()) {
        // Without the converter only ASCII can be trusted.
        for (const char byte : bytes) {
            if (static_cast<unsigned char>(byte) < 0x80)
                result.push_back(byte);
            else
                result += kReplacement;
        }
        return result;
    }

    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof(buffer);
        const std::size_t converted = iconv(converter.get(), &in, &inLeft, &out, &outLeft);
        result.append(buffer, static_cast<std::size_t>(out - buffer));
        if (converted == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An invalid or truncated sequence: replace its first byte and go on after it.
            result += kReplacement;
            ++in;
            --inLeft;
            iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return result;
}

#endif

}  // namespace

bool IsValidUtf8(std::string_view bytes)
{
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const std::size_t length = sequenceLength(bytes, pos);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

std::string DecodeAnsiText(std::string_view bytes)
{
    if (bytes.starts_with(kByteOrderMark))
        return repairUtf8(bytes.substr(kByteOrderMark.size()));
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    return decodeCodePage(bytes);
}

}  // namespace vantrel
