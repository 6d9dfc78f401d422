#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

class ErrorBox;
class FeedTree;

// Names (without folder) of the folder's entries matching "*.brd", extension compared without regard to
// case, ascending by name without regard to case. A missing or unreadable folder lists nothing.
std::vector<std::string> ListBoardFiles(const std::string& folder);

// The board part of the window-load step: list the board folder under appDir, load the first board and
// set feedIndex to 1; with no board file, feedIndex is left as it is.
void LoadFirstBoard(const std::string& appDir, FeedTree& tree, ErrorBox& box, std::int16_t& feedIndex);

}  // namespace vantrel
