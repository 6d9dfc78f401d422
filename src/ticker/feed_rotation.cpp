#include "ticker/feed_rotation.h"

#include <utility>

#include "board/data_paths.h"
#include "board/feed_tree.h"
#include "feeds/feed_items.h"
#include "feeds/news_list.h"
#include "ticker/coordinate_gate.h"
#include "ticker/shared_state.h"
#include "ticker/ticker_window.h"

namespace vantrel {

FeedRotation::FeedRotation(const FeedTree& tree, NewsList& list, SharedState& state, TickerWindow& window,
                           Transfer& transfer, DownloadSite site)
    : m_tree(tree), m_list(list), m_state(state), m_window(window), m_transfer(transfer), m_site(std::move(site))
{
}

void FeedRotation::picRefresh_MouseUp(std::int16_t /*button*/, std::int16_t /*shift*/, float x, float y)
{
    // Shown on the release itself, so a button never looks stuck while its step waits for another.
    if (CoordinateGate(x, y))
        m_window.setButtonPicture(PictureButton::Refresh, picturePath("load.jpg"));
    request(false);
}

void FeedRotation::picNextNews_MouseUp(std::int16_t /*button*/, std::int16_t /*shift*/, float x, float y)
{
    if (CoordinateGate(x, y)) {
        m_window.setButtonPicture(PictureButton::NextNews, picturePath("next.jpg"));
        m_window.setButtonPicture(PictureButton::Refresh, picturePath("load.jpg"));
    }
    request(true);
}

void FeedRotation::mnuPopupRefresh_Click()
{
    picRefresh_MouseUp(1, 0, 0, 0);
}

void FeedRotation::request(bool nextFeed)
{
    if (nextFeed)
        ++m_heldNextFeeds;
    m_stepHeld = true;
    if (m_running)
        return;
    m_running = true;
    // Closing drops whatever is still held.
    while (m_stepHeld && !m_window.closing()) {
        m_stepHeld = false;
        advanceFeedIndex(std::exchange(m_heldNextFeeds, 0));
        refreshStep();
    }
    m_stepHeld = false;
    m_heldNextFeeds = 0;
    m_running = false;
}

void FeedRotation::advanceFeedIndex(int nextFeedClicks)
{
    for (int click = 0; click < nextFeedClicks; ++click) {
        // Onto the feed the click before would have fetched: held clicks end where clicks one at a time would.
        if (click > 0)
            findFeed();
        m_state.FeedIndex = NextIndex(m_state.FeedIndex);
    }
}

void FeedRotation::refreshStep()
{
    m_window.processPendingEvents();
    if (m_window.closing())
        return;

    if (findFeed()) {
        const FeedNode& node = m_tree.Item(m_state.FeedIndex);
        const std::string url = node.Key;
        const std::string fileName = node.Text + ".xml";
        m_state.FetchResult = DownloadFeed(m_transfer, m_window, url, fileName, m_site, m_state.FeedCachePath);
        if (m_window.closing())
            return;
        if (m_state.FetchResult == 0) {
            // No other step ran meanwhile, so FeedIndex still names the feed just fetched.
            m_state.FeedLabel = "[" + m_tree.Item(m_state.FeedIndex).Text + "]";
            m_state.ParseResult =
                ParseFeedItems(m_state.FeedCachePath, m_list, m_state.FeedLabel, m_window, m_site.clock);
            if (m_window.closing())
                return;
        }
    }

    if (m_list.Count() > 0) {
        m_state.NewsIndex = 1;
        ShowNewsRow(m_window, m_list, 1);
    }
}

bool FeedRotation::findFeed()
{
    const std::int16_t passStart = m_state.FeedIndex;
    int foldersSeen = 0;
    for (;;) {
        const std::int16_t count = m_tree.Count();
        if (count == 0)
            return false;
        if (m_state.FeedIndex > count || m_state.FeedIndex < 1) {
            m_state.FeedIndex = 1;
            continue;
        }
        if (!IsFolder(m_tree.Item(m_state.FeedIndex)))
            return true;
        // Folders only: stop after one full pass instead of circling for ever.
        if (++foldersSeen >= count) {
            m_state.FeedIndex = passStart;
            return false;
        }
        m_state.FeedIndex = NextIndex(m_state.FeedIndex);
    }
}

std::string FeedRotation::picturePath(const char* fileName) const
{
    return DataFilePath(m_site.appDir, DataFolder::Pictures, fileName);
}

void ShowNewsRow(TickerWindow& window, const NewsList& list, std::int32_t row)
{
    const NewsItem& item = list.Item(row);
    window.setHeadline(item.columns[NewsItem::Title], item.columns[NewsItem::Source]);
}

}  // namespace vantrel
