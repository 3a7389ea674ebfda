// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// Resource identifiers and templates: dialogs 100 and 102, menu 129, string 101, icon 128.
namespace fb::res {

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDR_TRAYMENU = 129;

// Controls of dialog 102.
inline constexpr int IDC_GRAPH = 1000;
inline constexpr int IDC_ACCELERATE = 1001;
inline constexpr int IDC_QUIT = 1007;
inline constexpr int IDC_DURATION = 1009;
inline constexpr int IDC_RECEIVED = 1011;
inline constexpr int IDC_SENT = 1012;
inline constexpr int IDC_STATUS = 1015;
inline constexpr int IDC_TYPE = 1016;
inline constexpr int IDC_TYPE_LABEL = 1017;
inline constexpr int IDC_DURATION_ACC = 1022;
inline constexpr int IDC_GRAPH_FRAME = 1024;
inline constexpr int IDC_SCALE_TOP = 1025;
inline constexpr int IDC_SCALE_BOTTOM = 1026;
inline constexpr int IDC_SCALE_MIDDLE = 1027;
inline constexpr int IDC_ADAPTER = 1028;
inline constexpr int IDC_RUN = 1030;
inline constexpr int IDC_CLIENT = 1034;
inline constexpr int IDC_STATIC = -1;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Commands of menu 129 and the system menu.
inline constexpr int IDM_ABOUTBOX = 0x0010;
inline constexpr int ID_ABOUT = 32776;
inline constexpr int ID_RUN_AT_STARTUP = 32781;
inline constexpr int ID_EXIT = 32786;
inline constexpr int ID_SAFETY = 32792;
inline constexpr int ID_HELP = 32793;
inline constexpr int ID_FILE_SHARING = 32794;
inline constexpr int ID_EMUSIC = 32795;
inline constexpr int ID_ANONYMOUS = 32796;
inline constexpr int ID_MEDIA = 32797;

enum class ControlKind {
    GroupBox,
    DropDownCombo,
    PushButton,
    PushLikeCheckBox,
    Static,
    SunkenStatic,
    RightStatic,
    FrameStatic,
};

// One control of a dialog template; the rectangle is in dialog units.
struct ControlTemplate {
    int id;
    ControlKind kind;
    std::string_view text;
    int x, y, width, height;
    bool tabStop;
};

struct DialogTemplate {
    int id;
    std::string_view caption;
    std::string_view fontFace;
    int fontPoints;
    int width, height;
    std::span<const ControlTemplate> controls;
};

const DialogTemplate& MainDialog();
const DialogTemplate& AboutDialog();

// String table.
std::string_view LoadString(int id);

// Menu 129: the pop-up "Settings".
struct MenuItem {
    int id; // 0 for a separator
    std::string_view text;
};
std::string_view TrayMenuTitle();
std::span<const MenuItem> TrayMenu();

} // namespace fb::res
