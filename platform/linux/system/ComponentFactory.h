// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Component.h"

namespace fb::linux_impl {

// Automation components do not exist on this platform: every lookup by program identifier
// finds none, and the windows keep the platform's look.
class ComponentFactory : public IComponentFactory {
public:
    std::unique_ptr<IDispatchObject> CreateByProgId(const std::string& progId) override;
};

} // namespace fb::linux_impl
