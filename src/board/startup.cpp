#include "board/startup.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "board/ascii_case.h"
#include "board/board_reader.h"
#include "board/data_paths.h"
#include "platform/utf8_path.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

bool hasBoardExtension(std::string_view name)
{
    constexpr std::string_view kExtension = ".brd";
    if (name.size() < kExtension.size())
        return false;
    return EqualsFoldingAscii(name.substr(name.size() - kExtension.size()), kExtension);
}

// Case-insensitive order; names that differ only in case keep a fixed order by their bytes.
bool nameLess(const std::string& a, const std::string& b)
{
    const auto folded = [](char a, char b) {
        return static_cast<unsigned char>(FoldAscii(a)) < static_cast<unsigned char>(FoldAscii(b));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), folded))
        return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), folded))
        return false;
    return a < b;
}

}  // namespace

std::vector<std::string> ListBoardFiles(const std::string& folder)
{
    std::error_code ec;
    fs::directory_iterator entries(Utf8Path(folder), ec);
    if (ec)
        return {};

    std::vector<std::string> names;
    for (const fs::directory_iterator end; entries != end; entries.increment(ec)) {
        std::error_code typeError;
        if (!entries->is_regular_file(typeError))
            continue;
        std::string name = Utf8FileName(entries->path());
        if (hasBoardExtension(name))
            names.push_back(std::move(name));
    }
    if (ec)
        return {};
    std::ranges::sort(names, nameLess);
    return names;
}

void LoadFirstBoard(const std::string& appDir, FeedTree& tree, ErrorBox& box, std::int16_t& feedIndex)
{
    const std::vector<std::string> boards = ListBoardFiles(DataFolderPath(appDir, DataFolder::Boards));
    if (boards.empty())
        return;
    LoadBoard(tree, DataFilePath(appDir, DataFolder::Boards, boards.front()), box);
    feedIndex = 1;
}

}  // namespace vantrel
