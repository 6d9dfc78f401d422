#include "board/feed_tree.h"

#include "board/error_numbers.h"

namespace vantrel {
namespace {

[[noreturn]] void fail(const errors::ErrorInfo& error)
{
    throw ToolkitError(error.number, std::string(error.description));
}

}  // namespace

const FeedNode& FeedTree::Add(const std::optional<std::string>& parentKey, std::string key, std::string text,
                              std::string image, std::optional<std::string> selectedImage)
{
    if (m_nodes.size() >= static_cast<std::size_t>(kMaxNodes))
        fail(errors::kTreeFull);

    std::int16_t parent = 0;
    if (parentKey) {
        // Empty keys are never indexed, so the empty parent key names no node.
        const auto found = m_positionByKey.find(*parentKey);
        if (found == m_positionByKey.end())
            fail(errors::kElementNotFound);
        parent = found->second;
    }

    if (!key.empty() && m_positionByKey.contains(key))
        fail(errors::kKeyNotUnique);

    const auto position = static_cast<std::int16_t>(m_nodes.size() + 1);
    const FeedNode& node = m_nodes.emplace_back(
        FeedNode{std::move(key), std::move(text), std::move(image), std::move(selectedImage), parent, position});
    if (!node.Key.empty()) {
        try {
            m_positionByKey.emplace(node.Key, position);
        } catch (...) {
            m_nodes.pop_back();
            throw;
        }
    }
    return node;
}

const FeedNode& FeedTree::Item(int position) const
{
    if (position < 1 || position > Count())
        fail(errors::kIndexOutOfBounds);
    return m_nodes[static_cast<std::size_t>(position - 1)];
}

bool IsFolder(const FeedNode& node)
{
    return node.Image == "OPEN" || node.Image == "CLOSE";
}

}  // namespace vantrel
