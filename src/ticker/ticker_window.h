#pragma once

#include <cstdint>
#include <string>

#include "feeds/status_line.h"
#include "platform/event_pump.h"

namespace vantrel {

enum class PictureButton { Refresh, NextNews };

// The three counter labels below the visible strip.
enum class Counter {
    FeedNumber,  // lbNewsNumber: FeedIndex
    RowCount,    // lbNumber: rows in the news list
    NowNumber,   // lbNowNumber: NewsIndex
};

// What the rotation and the ticker need of the window. The status line is the headline label: its caption
// replaces the text, and the label takes the width of its caption at once.
class TickerWindow : public StatusLine, public EventPump {
public:
    // Shows a news row as the caption: its title followed directly by its source. A window may shorten a very
    // long title, never the source.
    virtual void setHeadline(const std::string& title, const std::string& source) { setCaption(title + source); }
    // Left edge and width of the headline label, in twips, relative to the strip.
    virtual float newsLeft() const = 0;
    virtual void setNewsLeft(float twips) = 0;
    virtual float newsWidth() const = 0;
    // Width of the strip that clips the headline, in twips.
    virtual float stripWidth() const = 0;
    // Shows the value as decimal text.
    virtual void setCounter(Counter counter, std::int32_t value) = 0;
    // Loads the picture file anew; a missing or broken file leaves the previous picture.
    virtual void setButtonPicture(PictureButton button, const std::string& path) = 0;
    // True once the window has been closed: a step interrupted at a pending-events point goes no further.
    virtual bool closing() const = 0;
};

}  // namespace vantrel
