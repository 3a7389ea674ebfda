// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/Icon.h"

#include <QString>

// The icon files are compiled into a static library. Nothing refers to their registration
// object, so a linker drops it from every program that uses the library, and the icon loads
// from files that are not there: a blank square in the notification area and the window
// manager's generic icon on the window. Registering the files from here, where the icon is
// built, ties them to every program that shows it. Outside any namespace, as the registration
// function is declared at the point of use.
static void RegisterIconFiles() {
    Q_INIT_RESOURCE(flowbright);
}

namespace fb::res {

QIcon ApplicationIcon() {
    static const bool registered = (RegisterIconFiles(), true);
    static_cast<void>(registered);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/flowbright/flowbright-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace fb::res
