#include "ticker/feed_rotation.h"

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
    request({false, x, y});
}

void FeedRotation::picNextNews_MouseUp(std::int16_t /*button*/, std::int16_t /*shift*/, float x, float y)
{
    request({true, x, y});
}

void FeedRotation::mnuPopupRefresh_Click()
{
    request({false, 0, 0});
}

void FeedRotation::request(Request request)
{
    m_held.push_back(request);
    if (m_running)
        return;
    m_running = true;
    // Closing drops whatever is still held.
    while (!m_held.empty() && !m_window.closing()) {
        const Request next = m_held.front();
        m_held.pop_front();
        if (next.nextFeed)
            nextFeedStep(next.x, next.y);
        else
            refreshStep(next.x, next.y);
    }
    m_held.clear();
    m_running = false;
}

void FeedRotation::nextFeedStep(float x, float y)
{
    if (CoordinateGate(x, y))
        m_window.setButtonPicture(PictureButton::NextNews, picturePath("next.jpg"));
    m_state.FeedIndex = NextIndex(m_state.FeedIndex);
    refreshStep(x, y);
}

void FeedRotation::refreshStep(float x, float y)
{
    if (CoordinateGate(x, y))
        m_window.setButtonPicture(PictureButton::Refresh, picturePath("load.jpg"));
    m_window.processPendingEvents();
    if (m_window.closing())
        return;

    const bool downloaded = fetchCurrentFeed();
    if (m_window.closing())
        return;
    if (downloaded && m_state.FetchResult == 0) {
        // No other step ran meanwhile, so FeedIndex still names the feed just fetched.
        m_state.FeedLabel = "[" + m_tree.Item(m_state.FeedIndex).Text + "]";
        m_state.ParseResult = ParseFeedItems(m_state.FeedCachePath, m_list, m_state.FeedLabel, m_window, m_site.clock);
        if (m_window.closing())
            return;
    }

    if (m_list.Count() > 0) {
        m_state.NewsIndex = 1;
        m_window.setCaption(TickerText(m_list, 1));
    }
}

bool FeedRotation::fetchCurrentFeed()
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
        const FeedNode& node = m_tree.Item(m_state.FeedIndex);
        if (IsFolder(node)) {
            // Folders only: stop after one full pass instead of circling for ever.
            if (++foldersSeen >= count) {
                m_state.FeedIndex = passStart;
                return false;
            }
            m_state.FeedIndex = NextIndex(m_state.FeedIndex);
            continue;
        }
        const std::string url = node.Key;
        const std::string fileName = node.Text + ".xml";
        m_state.FetchResult = DownloadFeed(m_transfer, m_window, url, fileName, m_site, m_state.FeedCachePath);
        return true;
    }
}

std::string FeedRotation::picturePath(const char* fileName) const
{
    return DataFilePath(m_site.appDir, DataFolder::Pictures, fileName);
}

std::string TickerText(const NewsList& list, std::int32_t row)
{
    const NewsItem& item = list.Item(row);
    return item.columns[NewsItem::Title] + item.columns[NewsItem::Source];
}

}  // namespace vantrel
