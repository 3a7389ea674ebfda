// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/system/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace fb::linux_impl {

int MessageBox::Show(const std::string& text, const std::string& caption, unsigned type) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setIcon((type & kMbIconError) != 0 ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return kIdOk;
}

} // namespace fb::linux_impl
