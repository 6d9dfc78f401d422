#include "feeds/feed_items.h"

#include <exception>
#include <limits>
#include <memory>
#include <string_view>

#include "feeds/news_list.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/xml_document.h"

namespace vantrel {
namespace {

// Child indices and row numbers are signed 16-bit.
constexpr std::size_t kLastChildIndex = std::numeric_limits<std::int16_t>::max();

// Length of the white space or line break at the start of text, 0 when there is none. Besides XML's own
// white space, every mandatory line break of Unicode counts, so that no headline is ever shown on two lines.
std::size_t spaceLength(std::string_view text)
{
    switch (static_cast<unsigned char>(text.front())) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
        return 1;
    case 0xC2:  // U+0085 next line
        return text.starts_with("\xC2\x85") ? 2 : 0;
    case 0xE2:  // U+2028 line separator, U+2029 paragraph separator
        return text.starts_with("\xE2\x80\xA8") || text.starts_with("\xE2\x80\xA9") ? 3 : 0;
    default:
        return 0;
    }
}

// Trims and folds every run of white space into one space, so a headline is one line.
std::string collapsed(std::string text)
{
    std::size_t length = 0;
    bool spacePending = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        // Most bytes are neither white space nor the lead byte of a line break: no closer look.
        const bool plain = byte > ' ' && byte != 0xC2 && byte != 0xE2;
        if (const std::size_t space = plain ? 0 : spaceLength(std::string_view(text).substr(pos))) {
            spacePending = length > 0;
            pos += space;
            continue;
        }
        if (spacePending) {
            text[length++] = ' ';
            spacePending = false;
        }
        text[length++] = text[pos++];
    }
    text.resize(length);
    return text;
}

// Visits the children in order; false once the index would step past the signed 16-bit range.
template <typename Visit>
bool forEachChild(const XmlNode& parent, Visit&& visit)
{
    std::size_t index = 0;
    for (XmlNode child = parent.firstChild(); !child.isNull(); child = child.nextSibling(), ++index) {
        if (!visit(child))
            return false;
        if (index == kLastChildIndex)
            return false;
    }
    return true;
}

class ItemWalk {
public:
    ItemWalk(NewsList& list, const std::string& feedLabel, const Clock& clock)
        : m_list(list), m_feedLabel(feedLabel), m_clock(clock)
    {
    }

    bool walk(const XmlNode& root)
    {
        return forEachChild(root, [this](const XmlNode& part) {
            return forEachChild(part, [this](const XmlNode& candidate) {
                return candidate.nodeName() != "item" || takeItem(candidate);
            });
        });
    }

private:
    bool takeItem(const XmlNode& item)
    {
        // The last child of each name wins, so only its text is needed.
        XmlNode title, link, description, date, author, dcCreator;
        bool hasAuthor = false;
        const bool complete = forEachChild(item, [&](const XmlNode& field) {
            const std::string& name = field.nodeName();
            if (name == "title") {
                title = field;
            } else if (name == "link") {
                link = field;
            } else if (name == "description") {
                description = field;
            } else if (name == "date") {
                date = field;
            } else if (name == "author") {
                author = field;
                hasAuthor = true;
            } else if (name == "dc:creator") {
                dcCreator = field;
            }
            return true;
        });
        if (!complete)
            return false;

        std::string titleText = collapsed(title.text());
        std::string linkText = collapsed(link.text());
        if (titleText.empty() || linkText.empty())
            return true;
        if (m_rowNumber == std::numeric_limits<std::int16_t>::max())
            return false;
        ++m_rowNumber;
        NewsItem& row = m_list.Add(std::to_string(m_rowNumber));
        row.SubItem(NewsItem::Title) = std::move(titleText);
        row.SubItem(NewsItem::Source) = m_feedLabel;
        row.SubItem(NewsItem::FetchedAt) = m_clock.dateTime();
        row.SubItem(NewsItem::Link) = std::move(linkText);
        row.SubItem(NewsItem::Description) = collapsed(description.text());
        row.SubItem(NewsItem::Creator) = collapsed(hasAuthor ? author.text() : dcCreator.text());
        row.SubItem(NewsItem::CreatedAt) = collapsed(date.text());
        return true;
    }

    NewsList& m_list;
    // A reference, not a copy: a handler run during the event pass may have changed the label.
    const std::string& m_feedLabel;
    const Clock& m_clock;
    std::int16_t m_rowNumber = 0;
};

}  // namespace

std::int32_t ParseFeedItems(const std::string& path, NewsList& list, const std::string& feedLabel, EventPump& events,
                            const Clock& clock)
{
    std::unique_ptr<XmlDocument> document;
    XmlNode root;
    try {
        document = std::make_unique<XmlDocument>();
        if (!document->load(path))
            return 0;
        list.Clear();
        root = document->documentElement();
    } catch (const std::exception&) {
        return -1;
    }
    if (root.firstChild().isNull())
        return 0;

    events.processPendingEvents();

    try {
        ItemWalk walk(list, feedLabel, clock);
        return walk.walk(root) ? 0 : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace vantrel
