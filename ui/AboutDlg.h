// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

namespace fb {

// The About dialog: the version and an OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace fb
