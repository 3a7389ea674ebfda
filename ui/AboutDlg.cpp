// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AboutDlg.h"

#include "res/Resources.h"
#include "ui/ButtonST.h"
#include "ui/DialogUnits.h"

#include <QLabel>

namespace fb {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent) {
    const res::DialogTemplate& dialog = res::AboutDialog();
    setWindowTitle(
        QString::fromUtf8(dialog.caption.data(), static_cast<int>(dialog.caption.size())));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    const DialogUnits units = DialogUnits::ForFont(font());
    setFixedSize(units.X(dialog.width), units.Y(dialog.height));
    for (const res::ControlTemplate& control : dialog.controls) {
        const QString text =
            QString::fromUtf8(control.text.data(), static_cast<int>(control.text.size()));
        const QRect rect = units.Rect(control.x, control.y, control.width, control.height);
        if (control.id == res::IDOK) {
            // The OK button gets no tooltip text.
            auto* ok = new CButtonST(this);
            ok->setText(text);
            ok->setGeometry(rect);
            ok->setDefault(true);
            ok->setObjectName(QStringLiteral("control1"));
            connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        } else {
            auto* label = new QLabel(text, this);
            label->setAlignment(Qt::AlignCenter);
            label->setGeometry(rect);
        }
    }
}

} // namespace fb
