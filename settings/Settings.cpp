// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/Settings.h"

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <variant>
#include <vector>

namespace fb {

namespace {

using Values = CSettings::Values;

// Values outside [low, high] are replaced by `fallback`.
struct Bounds {
    int low;
    int high;
    int fallback;
};

// One setting: where it lives in the file, its field, its default and its bounds. Numbers
// stored in seconds and held in milliseconds have the unsigned field with a scale of 1000.
struct Setting {
    const char* section;
    const char* key;
    std::variant<int Values::*, unsigned Values::*, std::string Values::*> field;
    int defaultValue = 0; // in stored units
    std::optional<Bounds> bounds = std::nullopt;
    unsigned scale = 1;
};

// Loading and saving both walk this table from top to bottom, so a new file holds the
// sections and keys in this order.
constexpr std::array<Setting, CSettings::kCount> kSettings{{
    {"main", "alwaysontop", &Values::alwaysOnTop, 0},
    {"main", "nsresolve", &Values::nsResolve, 0},
    {"main", "portresolve", &Values::portResolve, 0},
    {"main", "idleseconds", &Values::idleTime, 10, std::nullopt, 1000},
    {"filters", "filtertcp", &Values::filterTcp, 0},
    {"filters", "filterudp", &Values::filterUdp, 0},
    {"filters", "filtericmp", &Values::filterIcmp, 0},
    {"mainwindow", "status", &Values::windowStatus, -1},
    {"mainwindow", "top", &Values::windowTop, -1},
    {"mainwindow", "bottom", &Values::windowBottom, -1},
    {"mainwindow", "left", &Values::windowLeft, -1},
    {"mainwindow", "right", &Values::windowRight, -1},
    {"list", "srcaddr", &Values::srcAddrWidth, 120},
    {"list", "destaddr", &Values::destAddrWidth, 120},
    {"list", "srcport", &Values::srcPortWidth, 80},
    {"list", "destport", &Values::destPortWidth, 80},
    {"list", "proto", &Values::protoWidth, 50},
    {"list", "traffic", &Values::trafficWidth, 100},
    {"list", "bs", &Values::bsWidth, 80},
    {"list", "abs", &Values::absWidth, 80},
    {"log", "uselogfile", &Values::useLogFile, 0},
    {"log", "autodelete", &Values::autoDelete, 0},
    {"log", "mbdelete", &Values::mbDelete, 1, Bounds{1, 999, 1}},
    {"log", "logtype", &Values::logType, 0, Bounds{0, 6, 0}},
    {"log", "logfile", &Values::logFile},
}};

// The one text setting keeps its untruncated stored form in CSettings::m_storedLogFile.
static_assert(std::count_if(kSettings.begin(), kSettings.end(), [](const Setting& setting) {
                  return std::holds_alternative<std::string Values::*>(setting.field);
              }) == 1);

} // namespace

CSettings::CSettings(IProfile& profile, IProcessInfo& process)
    : CIniFile(profile, process) {
    Load();
}

CSettings::~CSettings() {
    try {
        Save();
    } catch (...) {
        // Saving is best effort: a failed write leaves the file as it was.
    }
}

void CSettings::Load() {
    for (const Setting& setting : kSettings) {
        if (const auto* field = std::get_if<int Values::*>(&setting.field)) {
            int value = ReadInt(setting.section, setting.key, setting.defaultValue);
            if (setting.bounds && (value < setting.bounds->low || value > setting.bounds->high))
                value = setting.bounds->fallback;
            m_values.** field = value;
        } else if (const auto* field = std::get_if<unsigned Values::*>(&setting.field)) {
            const unsigned stored = ReadUnsigned(setting.section, setting.key,
                                                 static_cast<unsigned>(setting.defaultValue));
            // Saturates instead of wrapping, so a huge stored number comes back as the
            // largest one the field holds rather than as some small one.
            m_values.** field = std::min(stored, UINT_MAX / setting.scale) * setting.scale;
        } else {
            const auto text = std::get<std::string Values::*>(setting.field);
            m_values.*text = ReadText(setting.section, setting.key, {}, kLogFileSize);
            if ((m_values.*text).size() == kLogFileSize - 1) {
                std::string stored = ReadText(setting.section, setting.key, {}, std::string::npos);
                if (stored.size() > kLogFileSize - 1)
                    m_storedLogFile = std::move(stored);
            }
        }
    }
}

// All keys go in one rewrite of the file: a large file is read and replaced once, not once per
// key. A save that fails (the folder locked by another program for longer than the profile
// waits, a read-only disk) is not tried again: the process is on its way out, possibly under a
// logout's deadline, and the file keeps what it held before the run.
void CSettings::Save() const {
    std::vector<ProfileWrite> writes;
    writes.reserve(kSettings.size());
    for (const Setting& setting : kSettings) {
        std::string value;
        if (const auto* field = std::get_if<int Values::*>(&setting.field)) {
            value = std::to_string(m_values.**field);
        } else if (const auto* field = std::get_if<unsigned Values::*>(&setting.field)) {
            value = std::to_string(m_values.**field / setting.scale);
        } else {
            const std::string& text = m_values.*std::get<std::string Values::*>(setting.field);
            const bool shortened =
                !m_storedLogFile.empty() && m_storedLogFile.compare(0, text.size(), text) == 0;
            value = shortened ? m_storedLogFile : text;
        }
        writes.push_back({setting.section, setting.key, std::move(value)});
    }
    WriteTexts(writes);
}

} // namespace fb
