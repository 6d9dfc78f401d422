#include "board/feed_tree.h"

#include "board/error_numbers.h"

namespace vantrel {
namespace {

[[noreturn]] void fail(const errors::ErrorInfo& error)
{
    throw ToolkitError(error.number, std::string(error.description));
}

}  // namespace

FeedTree::FeedTree(const FeedTree& other) : m_nodes(other.m_nodes)
{
    m_positionByKey.reserve(other.m_positionByKey.size());
    for (const FeedNode& node : m_nodes) {
        if (!node.Key.empty())
            m_positionByKey.emplace(node.Key, node.position);
    }
}

FeedTree& FeedTree::operator=(const FeedTree& other)
{
    if (this != &other)
        *this = FeedTree(other);
    return *this;
}

// Swapping, unlike a plain move, is guaranteed to keep the nodes where the key views point.
FeedTree::FeedTree(FeedTree&& other)
{
    swap(other);
}

FeedTree& FeedTree::operator=(FeedTree&& other)
{
    FeedTree moved(std::move(other));
    swap(moved);
    return *this;
}

void FeedTree::swap(FeedTree& other) noexcept
{
    m_nodes.swap(other.m_nodes);
    m_positionByKey.swap(other.m_positionByKey);
}

const FeedNode& FeedTree::Add(const std::optional<std::string>& parentKey, std::string key, std::string text,
                              std::string image, std::optional<std::string> selectedImage)
{
    if (m_nodes.size() >= static_cast<std::size_t>(kMaxNodes))
        fail(errors::kTreeFull);

    std::int16_t parent = 0;
    if (parentKey) {
        const auto found = parentKey->empty() ? m_positionByKey.end() : m_positionByKey.find(*parentKey);
        if (found == m_positionByKey.end())
            fail(errors::kElementNotFound);
        parent = found->second;
    }

    const auto position = static_cast<std::int16_t>(m_nodes.size() + 1);
    const FeedNode& node = m_nodes.emplace_back(
        FeedNode{std::move(key), std::move(text), std::move(image), std::move(selectedImage), parent, position});
    if (node.Key.empty())
        return node;
    try {
        if (m_positionByKey.try_emplace(node.Key, position).second)
            return node;
    } catch (...) {
        m_nodes.pop_back();
        throw;
    }
    m_nodes.pop_back();
    fail(errors::kKeyNotUnique);
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
