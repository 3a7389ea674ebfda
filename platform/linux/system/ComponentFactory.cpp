// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/system/ComponentFactory.h"

namespace fb::linux_impl {

std::unique_ptr<IDispatchObject> ComponentFactory::CreateByProgId(const std::string&) {
    return nullptr;
}

} // namespace fb::linux_impl
