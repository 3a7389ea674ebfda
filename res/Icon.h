// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

namespace fb::res {

// The application icon (resource 128) in every size the desktop asks for.
QIcon ApplicationIcon();

} // namespace fb::res
