#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class FeedTree;

// The modal error box; a seam so tests capture it instead of showing it.
class ErrorBox {
public:
    virtual ~ErrorBox() = default;
    virtual void show(const std::string& title, const std::string& text) = 0;
};

// Reads one board file into the tree. 0 when the whole file was read; -1 after one error box.
// Nodes added before a failure stay.
std::int32_t LoadBoard(FeedTree& tree, const std::string& path, ErrorBox& box);

}  // namespace vantrel
