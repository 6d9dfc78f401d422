#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace vantrel {

// A failure of a model operation, with the number and description the error box shows.
class ToolkitError : public std::runtime_error {
public:
    ToolkitError(int number, const std::string& description) : std::runtime_error(description), m_number(number) {}
    int number() const { return m_number; }

private:
    int m_number;
};

struct FeedNode {
    std::string Key;
    std::string Text;
    std::string Image;
    std::optional<std::string> SelectedImage;
    std::int16_t parent = 0;    // position of the parent, 0 for a root
    std::int16_t position = 0;  // 1-based, in order of addition
};

// The board in memory: nodes addressed by position in order of addition, keys unique across the tree.
class FeedTree {
public:
    static constexpr std::int16_t kMaxNodes = 32767;

    // Without a parent key the node becomes a new root; otherwise the last child of the node with that key.
    // Throws ToolkitError (tree unchanged) on a used key, an unknown or empty parent key, or a full tree.
    const FeedNode& Add(const std::optional<std::string>& parentKey, std::string key, std::string text,
                        std::string image, std::optional<std::string> selectedImage = std::nullopt);
    std::int16_t Count() const { return static_cast<std::int16_t>(m_nodes.size()); }
    // Throws ToolkitError unless 1 <= position <= Count().
    const FeedNode& Item(int position) const;

private:
    // A deque keeps the references returned by Add valid while the tree grows.
    std::deque<FeedNode> m_nodes;
    std::unordered_map<std::string, std::int16_t> m_positionByKey;
};

// A node is a folder when its image is exactly "OPEN" or "CLOSE".
bool IsFolder(const FeedNode& node);

}  // namespace vantrel
