// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace fb {

inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr int kIdOk = 1;

// Modal message boxes (MessageBoxA).
class IMessageBox {
public:
    virtual ~IMessageBox() = default;

    // Shows `text` with `caption` and the buttons and icon of `type`; returns the button chosen.
    virtual int Show(const std::string& text, const std::string& caption, unsigned type) = 0;
};

} // namespace fb
