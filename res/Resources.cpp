// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/Resources.h"

#include <array>

namespace fb::res {

namespace {

using K = ControlKind;

// Dialog 102, in template order (which is also the keyboard focus order).
constexpr std::array kMainControls{
    ControlTemplate{IDC_STATIC, K::GroupBox, "Run P2P", 8, 10, 256, 33, false},
    ControlTemplate{IDC_CLIENT, K::DropDownCombo, "", 17, 20, 192, 130, true},
    ControlTemplate{IDC_RUN, K::PushButton, "Run", 217, 20, 36, 12, true},
    ControlTemplate{IDC_STATIC, K::GroupBox, "", 8, 48, 256, 55, false},
    ControlTemplate{IDC_ACCELERATE, K::PushLikeCheckBox, "ACCELLERATE!", 20, 60, 102, 33, true},
    ControlTemplate{IDC_QUIT, K::PushButton, "&Quit", 151, 60, 102, 33, true},
    ControlTemplate{IDC_STATIC, K::GroupBox, "Statistics", 8, 107, 256, 67, false},
    ControlTemplate{IDC_TYPE_LABEL, K::Static, "Type", 11, 117, 28, 8, false},
    ControlTemplate{IDC_TYPE, K::SunkenStatic, "Status", 41, 117, 83, 10, false},
    ControlTemplate{IDC_STATIC, K::Static, "Status", 11, 129, 28, 8, false},
    ControlTemplate{IDC_STATUS, K::SunkenStatic, "Status", 41, 129, 83, 10, false},
    ControlTemplate{IDC_STATIC, K::Static, "Duration", 11, 141, 28, 8, false},
    ControlTemplate{IDC_DURATION, K::SunkenStatic, "Static", 41, 141, 83, 10, false},
    ControlTemplate{IDC_STATIC, K::Static, "Bytes Sent", 127, 117, 45, 8, false},
    ControlTemplate{IDC_SENT, K::SunkenStatic, "Static", 177, 117, 83, 10, false},
    ControlTemplate{IDC_STATIC, K::Static, "Bytes Received", 127, 129, 49, 8, false},
    ControlTemplate{IDC_RECEIVED, K::SunkenStatic, "Static", 177, 129, 83, 10, false},
    ControlTemplate{IDC_STATIC, K::Static, "DurationAcc", 127, 141, 45, 8, false},
    ControlTemplate{IDC_DURATION_ACC, K::SunkenStatic, "Static", 177, 141, 83, 10, false},
    ControlTemplate{IDC_STATIC, K::Static, "Network Adapter", 11, 155, 56, 8, false},
    ControlTemplate{IDC_ADAPTER, K::DropDownCombo, "", 69, 154, 192, 68, true},
    ControlTemplate{IDC_SCALE_TOP, K::RightStatic, "Static", 8, 176, 26, 8, false},
    ControlTemplate{IDC_SCALE_MIDDLE, K::RightStatic, "Static", 10, 195, 24, 8, false},
    ControlTemplate{IDC_SCALE_BOTTOM, K::RightStatic, "Static", 10, 214, 24, 8, false},
    ControlTemplate{IDC_GRAPH_FRAME, K::FrameStatic, "", 35, 177, 229, 44, false},
};

constexpr std::array kAboutControls{
    ControlTemplate{IDOK, K::PushButton, "&OK", 68, 49, 50, 18, true},
    ControlTemplate{IDC_STATIC, K::Static, "Version 4.3.0", 0, 14, 184, 11, false},
};

constexpr DialogTemplate kMain{IDD_MAIN, "Flowbright", "MS Shell Dlg", 8, 269, 249, kMainControls};
constexpr DialogTemplate kAbout{IDD_ABOUTBOX, "Flowbright", "MS Shell Dlg", 8,
                                185,          70,           kAboutControls};

constexpr std::array kTrayMenu{
    MenuItem{ID_RUN_AT_STARTUP, "Run at &Startup"},
    MenuItem{0, ""},
    MenuItem{ID_SAFETY, "Concerned About SAFETY?"},
    MenuItem{ID_FILE_SHARING, "All About File Sharing"},
    MenuItem{ID_EMUSIC, "eMusic: 25 Free MP3 Downloads!"},
    MenuItem{ID_ANONYMOUS, "Download Torrents Anonymously!"},
    MenuItem{ID_MEDIA, "Music, Games, Photos"},
    MenuItem{ID_HELP, "Help"},
    MenuItem{ID_ABOUT, "&About"},
    MenuItem{0, ""},
    MenuItem{ID_EXIT, "&Exit"},
};

} // namespace

const DialogTemplate& MainDialog() {
    return kMain;
}
const DialogTemplate& AboutDialog() {
    return kAbout;
}

std::string_view LoadString(int id) {
    return id == IDS_ABOUTBOX ? std::string_view("&About Flowbright...") : std::string_view();
}

std::string_view TrayMenuTitle() {
    return "Settings";
}
std::span<const MenuItem> TrayMenu() {
    return kTrayMenu;
}

} // namespace fb::res
