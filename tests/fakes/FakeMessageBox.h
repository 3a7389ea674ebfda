// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MessageBox.h"

#include <functional>
#include <string>
#include <vector>

namespace fb::fakes {

// Records message boxes and answers OK at once.
class FakeMessageBox : public IMessageBox {
public:
    struct Shown {
        std::string text, caption;
        unsigned type = 0;
    };
    std::vector<Shown> shown;
    std::function<void()> onShow; // runs while the box would be open

    int Show(const std::string& text, const std::string& caption, unsigned type) override {
        shown.push_back({text, caption, type});
        if (onShow)
            onShow();
        return kIdOk;
    }
};

} // namespace fb::fakes
