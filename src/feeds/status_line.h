#pragma once

#include <string>

namespace vantrel {

// The line the download reports on; in the program it is the ticker label.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void setCaption(const std::string& text) = 0;
};

}  // namespace vantrel
