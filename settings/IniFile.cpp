// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/IniFile.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace fb {

static_assert(sizeof(unsigned) == 4, "settings are stored as 32-bit numbers");

namespace {

// strtoul in base 10 with a 32-bit unsigned long, as the settings file's numbers were always
// read: leading white space, an optional sign, then digits up to the first other character.
unsigned StrToUl32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint64_t>(text[i] - '0');
        if (value > UINT32_MAX) {
            overflow = true;
            value = UINT32_MAX; // keep the accumulator bounded; the result saturates
        }
    }
    if (overflow)
        return UINT32_MAX;
    const auto magnitude = static_cast<std::uint32_t>(value);
    return negative ? 0u - magnitude : magnitude;
}

} // namespace

namespace {

// The folder part of a path ("." for a bare name).
std::string FolderOf(const std::string& path, char separator) {
    const std::size_t last = path.rfind(separator);
    if (last == std::string::npos)
        return ".";
    return last == 0 ? path.substr(0, 1) : path.substr(0, last);
}

CIniFile::Location Locate(IProfile& profile, IProcessInfo& process) {
    const char separator = process.PathSeparator();
    const std::string besideProgram = CIniFile::PathFor(process.ModuleFileName(), separator);
    if (besideProgram.empty())
        return {};
    const bool writable = profile.CanWriteFolder(FolderOf(besideProgram, separator));
    return CIniFile::LocationFor(besideProgram, writable,
                                 writable ? std::string() : profile.UserFolder(), separator);
}

} // namespace

CIniFile::CIniFile(IProfile& profile, IProcessInfo& process)
    : m_profile(profile)
    , m_location(Locate(profile, process)) {}

CIniFile::Location CIniFile::LocationFor(const std::string& besideProgram, bool folderWritable,
                                         const std::string& userFolder, char separator) {
    if (besideProgram.empty() || folderWritable || userFolder.empty())
        return {besideProgram, {}};
    std::string file = userFolder;
    if (file.back() != separator)
        file += separator;
    file += "flowbright.ini";
    return {std::move(file), besideProgram};
}

std::string CIniFile::ReadPath() const {
    if (m_location.shipped.empty() || m_profile.Exists(m_location.file))
        return m_location.file;
    return m_location.shipped;
}

std::string CIniFile::PathFor(const std::string& moduleFileName, char separator) {
    // A program path that does not fit the buffer cannot name the program: a shortened one
    // would name some other file.
    if (moduleFileName.empty() || moduleFileName.size() >= kPathSize ||
        moduleFileName.find('\0') != std::string::npos)
        return {};
    std::string path = moduleFileName;
    // Paths are UTF-8, whose multibyte sequences never contain the bytes of '.' or the
    // separator, so a byte search finds only real dots and separators.
    const std::size_t lastSeparator = path.rfind(separator);
    const std::size_t nameStart = lastSeparator == std::string::npos ? 0 : lastSeparator + 1;
    const std::size_t lastDot = path.rfind('.');
    if (lastDot != std::string::npos && lastDot > nameStart)
        path.resize(lastDot);
    path += ".ini";
    if (path.size() >= kPathSize)
        return {};
    return path;
}

std::size_t CIniFile::ReadText(const std::string& section, const std::string& key,
                               const std::string& defaultValue, char* buffer,
                               std::size_t size) const {
    if (buffer == nullptr || size == 0)
        return 0;
    const std::string text = ReadText(section, key, defaultValue, size);
    const std::size_t length = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return length;
}

std::string CIniFile::ReadText(const std::string& section, const std::string& key,
                               const std::string& defaultValue, std::size_t size) const {
    if (size == 0)
        return {};
    if (m_location.file.empty())
        return defaultValue.substr(0, std::min(defaultValue.find('\0'), size - 1));
    return m_profile.GetString(section, key, defaultValue, size, ReadPath());
}

bool CIniFile::WriteText(const std::string& section, const std::string& key,
                         const std::string& value) const {
    return WriteTexts({ProfileWrite{section, key, value}});
}

bool CIniFile::WriteTexts(const std::vector<ProfileWrite>& writes) const {
    if (m_location.file.empty())
        return false;
    return m_profile.WriteStrings(m_location.file, writes, m_location.shipped);
}

int CIniFile::ReadInt(const std::string& section, const std::string& key, int defaultValue) const {
    if (m_location.file.empty())
        return defaultValue;
    return m_profile.GetInt(section, key, defaultValue, ReadPath());
}

bool CIniFile::WriteInt(const std::string& section, const std::string& key, int value) const {
    return WriteText(section, key, std::to_string(value));
}

unsigned CIniFile::ReadUnsigned(const std::string& section, const std::string& key,
                                unsigned defaultValue) const {
    return StrToUl32(ReadText(section, key, std::to_string(defaultValue), kNumberTextSize));
}

bool CIniFile::WriteUnsigned(const std::string& section, const std::string& key,
                             unsigned value) const {
    return WriteText(section, key, std::to_string(value));
}

} // namespace fb
