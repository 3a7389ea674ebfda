// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/MessageBox.h"

namespace fb::linux_impl {

// Message boxes as modal Qt message boxes over the active window.
class MessageBox : public IMessageBox {
public:
    int Show(const std::string& text, const std::string& caption, unsigned type) override;
};

} // namespace fb::linux_impl
