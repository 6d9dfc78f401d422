#include "ticker/news_ticker.h"

#include "feeds/news_list.h"
#include "ticker/coordinate_gate.h"
#include "ticker/feed_rotation.h"
#include "ticker/shared_state.h"
#include "ticker/ticker_window.h"

namespace vantrel {

NewsTicker::NewsTicker(const NewsList& list, SharedState& state, TickerWindow& window)
    : m_list(list), m_state(state), m_window(window)
{
}

void NewsTicker::tim1_Timer()
{
    m_window.setCounter(Counter::FeedNumber, m_state.FeedIndex);
    m_window.setCounter(Counter::RowCount, m_list.Count());
    m_window.setCounter(Counter::NowNumber, m_state.NewsIndex);
    m_window.processPendingEvents();
    if (m_window.closing())
        return;

    const float width = m_window.newsWidth();
    const float left = m_window.newsLeft();
    const float right = left + width;
    if (right > 0) {
        m_window.setNewsLeft(left - kStep);
        return;
    }

    // The caption changes after the move, so the gap before a headline grows with the one that left.
    m_window.setNewsLeft(m_window.stripWidth() + width + kReentryGap);
    const std::int32_t rows = m_list.Count();
    if (rows == 0)
        return;
    m_state.NewsIndex = NextIndex(m_state.NewsIndex);
    if (m_state.NewsIndex > rows)
        m_state.NewsIndex = 1;
    ShowNewsRow(m_window, m_list, m_state.NewsIndex);
}

}  // namespace vantrel
