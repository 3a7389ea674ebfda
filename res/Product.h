// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

// The product's identity: its name, the option key, the start-up entry and the addresses the
// program opens. Every address lives here and nowhere else.
namespace fb::product {

inline constexpr std::string_view kName = "Flowbright";
inline constexpr std::string_view kVersion = "4.3.0";
inline constexpr std::string_view kMakerDomain = "flowbright.org";
inline constexpr std::string_view kOptionKey = "SOFTWARE\\Flowbright";
inline constexpr std::string_view kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kRunValue = "Flowbright";
inline constexpr std::string_view kShortcutName = "Flowbright.lnk";
inline constexpr std::string_view kUpdater = "UpdateApp.exe";

// The pages of the tray menu.
inline constexpr std::string_view kSafetyPage =
    "https://www.cisa.gov/news-events/news/risks-file-sharing-technology";
inline constexpr std::string_view kFileSharingPage =
    "https://en.wikipedia.org/wiki/Peer-to-peer_file_sharing";
inline constexpr std::string_view kMusicPage = "https://www.emusic.com/";
inline constexpr std::string_view kAnonymousPage = "https://www.torproject.org/download/";
inline constexpr std::string_view kMediaPage = "https://archive.org/";
// Help opens the installed help page; this is the page when none is installed.
inline constexpr std::string_view kMakerPage = "https://flowbright.org/";

} // namespace fb::product
