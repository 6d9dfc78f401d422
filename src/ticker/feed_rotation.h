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
// on the ticker. Every value it shares is read afresh after each pending-events point.
class FeedRotation {
public:
    FeedRotation(const FeedTree& tree, NewsList& list, SharedState& state, TickerWindow& window, Transfer& transfer,
                 DownloadSite site);

    void picRefresh_MouseUp(std::int16_t button, std::int16_t shift, float x, float y);
    void picNextNews_MouseUp(std::int16_t button, std::int16_t shift, float x, float y);
    void mnuPopupRefresh_Click();

private:
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
};

// The text a news row shows on the ticker: its title followed directly by its source.
std::string TickerText(const NewsList& list, std::int32_t row);

}  // namespace vantrel
