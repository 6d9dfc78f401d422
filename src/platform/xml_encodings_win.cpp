#include "platform/xml_encodings_win.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <vector>

#include <libxml/encoding.h>

namespace vantrel {
namespace {

// The longest byte sequence of one character in these code pages (GB18030).
constexpr int kLongestSequence = 4;

// libxml2's input decoder for one code page: as many whole characters of in as fit into out, as UTF-8.
// Returns the bytes written, -1 when out has no room for a character, -2 for bytes that are no character of
// the code page, or -3 when in ends inside its first character (libxml2 then waits for more input).
template <UINT CodePage>
int decode(unsigned char* out, int* outLength, const unsigned char* in, int* inLength)
{
    const int given = *inLength;
    // One byte gives at most one UTF-16 unit, which gives at most three bytes of UTF-8.
    const int available = std::min(given, *outLength / 3);
    *inLength = 0;
    if (available <= 0) {
        *outLength = 0;
        return given > 0 ? -1 : 0;
    }
    static thread_local std::vector<wchar_t> wide;
    wide.resize(static_cast<std::size_t>(available));
    const auto* bytes = reinterpret_cast<const char*>(in);
    int taken = available;
    int units = 0;
    // A chunk may end inside a character: its first bytes are left for the next call.
    for (; taken > 0 && taken > available - kLongestSequence; --taken) {
        units = MultiByteToWideChar(CodePage, MB_ERR_INVALID_CHARS, bytes, taken, wide.data(), available);
        if (units > 0)
            break;
    }
    if (units <= 0) {
        *outLength = 0;
        return available == given && given < kLongestSequence ? -3 : -2;
    }
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, reinterpret_cast<char*>(out), *outLength, nullptr, nullptr);
    *inLength = taken;
    *outLength = written;
    return written;
}

struct SystemEncoding {
    const char* name;
    UINT codePage;
    xmlCharEncodingInputFunc decode;
    std::array<const char*, 5> aliases;
};

template <UINT CodePage>
constexpr SystemEncoding encoding(const char* name, std::array<const char*, 5> aliases = {})
{
    return {name, CodePage, decode<CodePage>, aliases};
}

// Names and aliases as libxml2 compares them (upper case), those glibc's iconv answers to. Shift_JIS and
// its other names are aliases of CP932, and windows-1252 has a decoder of its own, on every system (see
// xml_document.cpp).
const SystemEncoding kEncodings[] = {
    encoding<932>("CP932"),
    encoding<20932>("EUC-JP", {"EUCJP", "CSEUCPKDFMTJAPANESE", "UJIS"}),
    encoding<936>("GBK", {"GB2312", "EUC-CN", "EUCCN", "CSGB2312", "CP936"}),
    encoding<54936>("GB18030"),
    encoding<950>("BIG5", {"BIG-5", "CSBIG5", "CP950"}),
    encoding<51949>("EUC-KR", {"EUCKR", "CSEUCKR"}),
    encoding<949>("CP949", {"UHC"}),
    encoding<20866>("KOI8-R", {"CSKOI8R"}),
    encoding<21866>("KOI8-U"),
    encoding<1250>("WINDOWS-1250", {"CP1250"}),
    encoding<1251>("WINDOWS-1251", {"CP1251"}),
    encoding<1253>("WINDOWS-1253", {"CP1253"}),
    encoding<1254>("WINDOWS-1254", {"CP1254"}),
    encoding<1255>("WINDOWS-1255", {"CP1255"}),
    encoding<1256>("WINDOWS-1256", {"CP1256"}),
    encoding<1257>("WINDOWS-1257", {"CP1257"}),
    encoding<1258>("WINDOWS-1258", {"CP1258"}),
    encoding<874>("WINDOWS-874", {"CP874", "TIS-620"}),
    encoding<866>("IBM866", {"CP866"}),
};

}  // namespace

void RegisterSystemEncodings()
{
    for (const SystemEncoding& known : kEncodings) {
        if (!IsValidCodePage(known.codePage))
            continue;
        xmlNewCharEncodingHandler(known.name, known.decode, nullptr);
        for (const char* alias : known.aliases) {
            if (alias)
                xmlAddEncodingAlias(known.name, alias);
        }
    }
}

}  // namespace vantrel
