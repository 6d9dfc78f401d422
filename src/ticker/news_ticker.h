#pragma once

namespace vantrel {

class NewsList;
class TickerWindow;
struct SharedState;

// One 20 ms step of the headline: counters, pending events, move left, re-enter with the next row.
class NewsTicker {
public:
    static constexpr float kStep = 20;        // twips moved per tick
    static constexpr float kReentryGap = 10;  // twips beyond the strip's right edge

    NewsTicker(const NewsList& list, SharedState& state, TickerWindow& window);

    void tim1_Timer();

private:
    const NewsList& m_list;
    SharedState& m_state;
    TickerWindow& m_window;
};

}  // namespace vantrel
