#include "platform/executable_folder.h"

#include <windows.h>

#include <vector>

#include "platform/wide_string_win.h"

namespace vantrel {

std::string ExecutableFolder()
{
    // Long paths do not fit MAX_PATH; grow until the whole name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = 0;
    for (;;) {
        length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            break;
        buffer.resize(buffer.size() * 2);
    }
    std::wstring folder(buffer.data(), length);
    const std::size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return {};
    folder.resize(slash);
    // A drive root keeps its backslash, as the system writes it ("C:\").
    if (folder.size() == 2 && folder[1] == L':')
        folder.push_back(L'\\');
    return NarrowToUtf8(folder);
}

}  // namespace vantrel
