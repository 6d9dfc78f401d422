#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ticker/ticker_window.h"

namespace vantrel::test {

// A window without pixels: the headline is as wide as its caption times a fixed advance.
class FakeTickerWindow : public TickerWindow {
public:
    std::string caption = "Vantrel is ready...";
    std::vector<std::string> captions;
    float left = 120;
    float strip = 6375;
    float twipsPerByte = 100;
    std::map<Counter, std::int32_t> counters;
    std::vector<std::pair<PictureButton, std::string>> pictures;
    int passes = 0;
    std::function<void()> onPass;
    bool closed = false;

    void setCaption(const std::string& text) override
    {
        caption = text;
        captions.push_back(text);
    }
    void processPendingEvents() override
    {
        ++passes;
        if (onPass)
            onPass();
    }
    float newsLeft() const override { return left; }
    void setNewsLeft(float twips) override { left = twips; }
    float newsWidth() const override { return static_cast<float>(caption.size()) * twipsPerByte; }
    float stripWidth() const override { return strip; }
    void setCounter(Counter counter, std::int32_t value) override { counters[counter] = value; }
    void setButtonPicture(PictureButton button, const std::string& path) override
    {
        pictures.emplace_back(button, path);
    }
    bool closing() const override { return closed; }
};

}  // namespace vantrel::test
