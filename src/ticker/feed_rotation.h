#pragma once

#include <cstdint>
#include <string>

#include "feeds/download.h"

namespace vantrel {

class FeedTree;
class NewsList;
class TickerWindow;
class Transfer;
struct SharedState;

// Chooses the feed to fetch on refresh and next feed, fetches and extracts it and puts its first headline
// on the ticker. Every value it shares is read afresh after each pending-events point. A click made while a
// step runs (from a pending-events point or the fetch's wait) shows its picture at once but is held: held
// refreshes join into one, held next-feed clicks add up, and one step fetches the feed they lead to once the
// running one has finished, so two feeds are never fetched or listed at once.
class FeedRotation {
public:
    FeedRotation(const FeedTree& tree, NewsList& list, SharedState& state, TickerWindow& window, Transfer& transfer,
                 DownloadSite site);

    void picRefresh_MouseUp(std::int16_t button, std::int16_t shift, float x, float y);
    void picNextNews_MouseUp(std::int16_t button, std::int16_t shift, float x, float y);
    void mnuPopupRefresh_Click();

private:
    // Runs a step now, or holds it while another step is under way.
    void request(bool nextFeed);
    void advanceFeedIndex(int nextFeedClicks);
    void refreshStep();
    // Walks from FeedIndex to the first feed node, skipping folders and wrapping; false when there is none.
    bool findFeed();
    std::string picturePath(const char* fileName) const;

    const FeedTree& m_tree;
    NewsList& m_list;
    SharedState& m_state;
    TickerWindow& m_window;
    Transfer& m_transfer;
    DownloadSite m_site;
    bool m_running = false;
    bool m_stepHeld = false;
    int m_heldNextFeeds = 0;
};

// Puts a news row on the ticker: its title followed directly by its source.
void ShowNewsRow(TickerWindow& window, const NewsList& list, std::int32_t row);

}  // namespace vantrel
