#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "feeds/download.h"

namespace vantrel {

class FeedTree;
class NewsList;
class TickerWindow;
class Transfer;
struct SharedState;

// Chooses the feed to fetch on refresh and next feed, fetches and extracts it and puts its first headline
// on the ticker. Every value it shares is read afresh after each pending-events point. A step requested
// while another runs (from a pending-events point or the fetch's wait) is held and runs, in order, once the
// running one has finished, so two feeds are never fetched or listed at once.
class FeedRotation {
public:
    FeedRotation(const FeedTree& tree, NewsList& list, SharedState& state, TickerWindow& window, Transfer& transfer,
                 DownloadSite site);

    void picRefresh_MouseUp(std::int16_t button, std::int16_t shift, float x, float y);
    void picNextNews_MouseUp(std::int16_t button, std::int16_t shift, float x, float y);
    void mnuPopupRefresh_Click();

private:
    struct Request {
        bool nextFeed;
        float x;
        float y;
    };

    // Runs the request now, or holds it while another step is under way.
    void request(Request request);
    void nextFeedStep(float x, float y);
    void refreshStep(float x, float y);
    // Walks from FeedIndex to the first feed node and downloads it; false when no download took place.
    bool fetchCurrentFeed();
    std::string picturePath(const char* fileName) const;

    const FeedTree& m_tree;
    NewsList& m_list;
    SharedState& m_state;
    TickerWindow& m_window;
    Transfer& m_transfer;
    DownloadSite m_site;
    std::deque<Request> m_held;
    bool m_running = false;
};

// The text a news row shows on the ticker: its title followed directly by its source.
std::string TickerText(const NewsList& list, std::int32_t row);

}  // namespace vantrel
