// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/IniFile.h"

#include <cstddef>
#include <string>

namespace fb {

// The options of the packet-capture component, kept in the program's INI file: all of them
// are read when the object is built and written back, clamped, when it is destroyed, so the
// file always holds every key after a run.
class CSettings : public CIniFile {
public:
    static constexpr std::size_t kCount = 25;
    // Capacity of the log file's name, terminating zero included.
    static constexpr std::size_t kLogFileSize = 260;

    // The settings as loaded; their keys, defaults and bounds are in the table of Settings.cpp.
    struct Values {
        int alwaysOnTop{};
        int nsResolve{};
        int portResolve{};
        unsigned idleTime{}; // milliseconds; stored in whole seconds
        int filterUdp{};
        int filterTcp{};
        int filterIcmp{};
        int windowStatus{};
        int windowTop{};
        int windowBottom{};
        int windowLeft{};
        int windowRight{};
        int srcAddrWidth{};
        int destAddrWidth{};
        int srcPortWidth{};
        int destPortWidth{};
        int protoWidth{};
        int trafficWidth{};
        int bsWidth{};
        int absWidth{};
        int useLogFile{};
        int autoDelete{};
        int mbDelete{};      // megabytes, 1 to 999
        int logType{};       // 0 to 6
        std::string logFile; // at most kLogFileSize - 1 characters
    };

    // Reads all settings from the file beside the program.
    CSettings(IProfile& profile, IProcessInfo& process);
    // Writes all settings back, in one rewrite of the file.
    ~CSettings() override;

    const Values& Loaded() const { return m_values; }

private:
    void Load();
    void Save() const;

    Values m_values;
    // The log file's name as stored, when it is longer than the field holds: written back
    // instead of the shortened field so that a run never cuts the stored name.
    std::string m_storedLogFile;
};

} // namespace fb
