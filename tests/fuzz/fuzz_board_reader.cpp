// Board reader: any bytes as a board file. The load either reads the whole file (0, no box) or stops with one
// error box (-1), and whatever it added forms a well-shaped tree.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "board/board_reader.h"
#include "board/feed_tree.h"
#include "fakes.h"
#include "fuzz_support.h"
#include "platform/codepage.h"

namespace {

using vantrel::FeedNode;
using vantrel::FeedTree;

void checkBox(const vantrel::test::CapturingErrorBox::Shown& box)
{
    VANTREL_FUZZ_CHECK(box.title == "■エラー");
    constexpr std::string_view numberLabel = "エラー番号：";
    constexpr std::string_view descriptionLabel = "\r\nエラー内容：";
    const std::string_view text = box.text;
    VANTREL_FUZZ_CHECK(text.starts_with(numberLabel));
    const std::size_t split = text.find(descriptionLabel);
    VANTREL_FUZZ_CHECK(split != std::string_view::npos);
    const std::string_view number = text.substr(numberLabel.size(), split - numberLabel.size());
    VANTREL_FUZZ_CHECK(!number.empty() && number.find_first_not_of("-0123456789") == std::string_view::npos);
    VANTREL_FUZZ_CHECK(text.size() > split + descriptionLabel.size());
}

// Roots are folders; sub-folders hang under roots; feeds under a root or a sub-folder; keys are unique.
void checkTree(const FeedTree& tree)
{
    VANTREL_FUZZ_CHECK(tree.Count() >= 0 && tree.Count() <= FeedTree::kMaxNodes);
    std::unordered_set<std::string> keys;
    for (int position = 1; position <= tree.Count(); ++position) {
        const FeedNode& node = tree.Item(position);
        VANTREL_FUZZ_CHECK(node.position == position);
        VANTREL_FUZZ_CHECK(vantrel::IsValidUtf8(node.Key) && vantrel::IsValidUtf8(node.Text));
        if (!node.Key.empty())
            VANTREL_FUZZ_CHECK(keys.insert(node.Key).second);
        VANTREL_FUZZ_CHECK(node.parent >= 0 && node.parent < position);
        const FeedNode* parent = node.parent == 0 ? nullptr : &tree.Item(node.parent);
        if (vantrel::IsFolder(node)) {
            VANTREL_FUZZ_CHECK(node.Image == "CLOSE" && node.SelectedImage == "OPEN");
            VANTREL_FUZZ_CHECK(!parent || (parent->parent == 0 && vantrel::IsFolder(*parent)));
        } else {
            VANTREL_FUZZ_CHECK(node.Image == "IE" || node.Image == "XML" || node.Image == "XML2" ||
                               node.Image == "DOC");
            VANTREL_FUZZ_CHECK(!node.SelectedImage);
            VANTREL_FUZZ_CHECK(parent && vantrel::IsFolder(*parent) && !parent->Key.empty());
        }
    }
}

// A copy rebuilds the key index over its own nodes; it must agree with the original and refuse its keys.
void checkCopy(const FeedTree& tree)
{
    FeedTree copy(tree);
    VANTREL_FUZZ_CHECK(copy.Count() == tree.Count());
    for (int position = 1; position <= tree.Count(); ++position) {
        const FeedNode& original = tree.Item(position);
        const FeedNode& copied = copy.Item(position);
        VANTREL_FUZZ_CHECK(copied.Key == original.Key && copied.Text == original.Text &&
                           copied.Image == original.Image && copied.parent == original.parent);
    }
    if (copy.Count() == 0 || copy.Count() == FeedTree::kMaxNodes)
        return;
    const std::string lastKey = copy.Item(copy.Count()).Key;
    if (lastKey.empty())
        return;
    bool refused = false;
    try {
        copy.Add(std::nullopt, lastKey, "again", "CLOSE", "OPEN");
    } catch (const vantrel::ToolkitError&) {
        refused = true;
    }
    VANTREL_FUZZ_CHECK(refused && copy.Count() == tree.Count());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static vantrel::fuzz::ScratchFile board("vantrel-fuzz-board");
    board.write(data, size);

    FeedTree tree;
    vantrel::test::CapturingErrorBox box;
    const std::int32_t result = vantrel::LoadBoard(tree, board.path(), box);

    VANTREL_FUZZ_CHECK(result == 0 || result == -1);
    VANTREL_FUZZ_CHECK(box.shown.size() <= 1);
    VANTREL_FUZZ_CHECK((result == -1) == (box.shown.size() == 1));
    if (!box.shown.empty())
        checkBox(box.shown.front());
    checkTree(tree);
    checkCopy(tree);
    return 0;
}
