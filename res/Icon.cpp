#include "res/Icon.h"

#include <QString>

namespace res {

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/flowbright/flowbright-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace res
