// Feed item extraction: any bytes as a cached feed document. Whatever the document, the list ends up either
// untouched (the load failed) or rebuilt with rows numbered 1..n, each with a title, a link and the feed's label,
// every text on one line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fakes.h"
#include "feeds/feed_items.h"
#include "feeds/news_list.h"
#include "fuzz_support.h"
#include "platform/codepage.h"

namespace {

using vantrel::NewsItem;
using vantrel::NewsList;

const std::string kLabel = "[fuzz feed]";
const std::string kEarlierRow = "earlier";

// The extraction folds every run of XML white space into one space and trims the ends.
bool isOneLine(std::string_view text)
{
    return text.find_first_of("\r\n\t") == std::string_view::npos && !text.starts_with(' ') && !text.ends_with(' ') &&
           text.find("  ") == std::string_view::npos;
}

bool holdsOnlyTheEarlierRow(const NewsList& list)
{
    return list.Count() == 1 && list.Item(1).Text() == kEarlierRow && list.Item(1).SubItem(NewsItem::Title) == "old";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static vantrel::fuzz::ScratchFile feed("vantrel-fuzz-feed");
    feed.write(data, size);

    NewsList list;
    list.Add(kEarlierRow).SubItem(NewsItem::Title) = "old";
    vantrel::test::FixedClock clock;
    vantrel::test::ScriptedEventPump events;
    // A handler that runs during the event pass finds the list already cleared.
    events.onPass = [&list] { VANTREL_FUZZ_CHECK(list.Count() == 0); };

    const std::int32_t result = vantrel::ParseFeedItems(feed.path(), list, kLabel, events, clock);

    VANTREL_FUZZ_CHECK(result == 0 || result == -1);
    VANTREL_FUZZ_CHECK(events.passes <= 1);
    if (holdsOnlyTheEarlierRow(list)) {
        VANTREL_FUZZ_CHECK(events.passes == 0);
        return 0;
    }
    if (events.passes == 0)
        VANTREL_FUZZ_CHECK(list.Count() == 0);

    VANTREL_FUZZ_CHECK(list.Count() <= 32767);
    for (std::int32_t position = 1; position <= list.Count(); ++position) {
        const NewsItem& row = list.Item(position);
        VANTREL_FUZZ_CHECK(row.Text() == std::to_string(position));
        VANTREL_FUZZ_CHECK(!row.SubItem(NewsItem::Title).empty() && !row.SubItem(NewsItem::Link).empty());
        VANTREL_FUZZ_CHECK(row.SubItem(NewsItem::Source) == kLabel);
        VANTREL_FUZZ_CHECK(row.SubItem(NewsItem::FetchedAt) == clock.date);
        for (const int column :
             {NewsItem::Title, NewsItem::Link, NewsItem::Description, NewsItem::Creator, NewsItem::CreatedAt}) {
            const std::string& text = row.SubItem(column);
            VANTREL_FUZZ_CHECK(isOneLine(text));
            VANTREL_FUZZ_CHECK(vantrel::IsValidUtf8(text));
        }
    }
    return 0;
}
