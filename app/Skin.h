// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace fb {

class IComponentFactory;

// Sets up the skinning component by its program identifier; without one nothing happens.
void SetupSkin(IComponentFactory& components);

} // namespace fb
