#pragma once

#include <cstdint>

class QWidget;

namespace vantrel {

// Lets the window system move the window with the pointer while the left button is held. Nothing unless
// button is exactly 1 (the left button alone).
void BeginWindowDrag(QWidget& window, std::int16_t button);

// Puts the window in front of all others, or back among them, keeping its position and size.
void SetWindowTopmost(QWidget& window, bool topmost);

}  // namespace vantrel
