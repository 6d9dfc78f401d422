#pragma once

#include "board/board_reader.h"

namespace vantrel {

// The modal error box: critical icon, one OK button.
class QtErrorBox final : public ErrorBox {
public:
    void show(const std::string& title, const std::string& text) override;
};

}  // namespace vantrel
