// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Skin.h"

#include "platform/Component.h"

#include <cstdint>
#include <string>

namespace fb {

void SetupSkin(IComponentFactory& components) {
    auto skin = components.CreateByProgId("SkinCrafter.SCSkin3");
    if (!skin)
        return;
    skin->InvokeMethod(17, {std::int32_t{0}});
    skin->InvokeMethod(1, {std::int32_t{1}});
    skin->InvokeMethod(2, {std::string("Skin.skf")});
    skin->InvokeMethod(18, {});
}

} // namespace fb
