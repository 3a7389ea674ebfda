// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Profile.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fb::fakes {

// In-memory INI files keyed by their exact path: section and key names case-insensitive,
// sections and keys kept in the order they were first written.
class FakeProfile : public IProfile {
public:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    using File = std::vector<Section>;

    // Failure switch: every write returns false and changes nothing.
    bool failWrites = false;
    // Folders the user may not write, and the user's own folder (UserFolder()).
    std::set<std::string> readOnlyFolders;
    std::string userFolder;
    // Calls seen: reads of a key, and writes (each call, of one key or of many, is one).
    int reads = 0;
    int writes = 0;

    static std::string Fold(std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    }

    // Test setup and inspection.
    void Set(const std::string& file, const std::string& section, const std::string& key,
             const std::string& value) {
        Section& target = SectionOf(m_files[file], section);
        for (Entry& entry : target.entries) {
            if (Fold(entry.key) == Fold(key)) {
                entry.value = value;
                return;
            }
        }
        target.entries.push_back({key, value});
    }
    std::optional<std::string> Get(const std::string& file, const std::string& section,
                                   const std::string& key) const {
        auto found = m_files.find(file);
        if (found == m_files.end())
            return std::nullopt;
        for (const Section& candidate : found->second) {
            if (Fold(candidate.name) != Fold(section))
                continue;
            for (const Entry& entry : candidate.entries) {
                if (Fold(entry.key) == Fold(key))
                    return entry.value;
            }
            return std::nullopt;
        }
        return std::nullopt;
    }
    bool HasFile(const std::string& file) const { return m_files.count(file) != 0; }
    // The file as text: "[section]" lines, each followed by its "key=value" lines.
    std::string Text(const std::string& file) const {
        std::string text;
        auto found = m_files.find(file);
        if (found == m_files.end())
            return text;
        for (const Section& section : found->second) {
            text += "[" + section.name + "]\n";
            for (const Entry& entry : section.entries)
                text += entry.key + "=" + entry.value + "\n";
        }
        return text;
    }

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t size,
                          const std::string& file) override {
        ++reads;
        if (size == 0)
            return {};
        std::string value = Get(file, section, key).value_or(defaultValue);
        if (value.size() > size - 1)
            value.resize(size - 1);
        return value;
    }

    int GetInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& file) override {
        ++reads;
        const std::optional<std::string> text = Get(file, section, key);
        if (!text || text->empty())
            return defaultValue;
        std::size_t i = 0;
        bool negative = false;
        if (i < text->size() && ((*text)[i] == '-' || (*text)[i] == '+'))
            negative = (*text)[i++] == '-';
        std::uint32_t value = 0;
        for (; i < text->size() && (*text)[i] >= '0' && (*text)[i] <= '9'; ++i)
            value = value * 10u + static_cast<std::uint32_t>((*text)[i] - '0');
        if (negative)
            value = 0u - value;
        return static_cast<int>(static_cast<std::int32_t>(value));
    }

    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file) override {
        ++writes;
        if (failWrites || section.empty() || key.empty() || file.empty())
            return false;
        Set(file, section, key, value);
        return true;
    }

    bool WriteStrings(const std::string& file, const std::vector<ProfileWrite>& keys,
                      const std::string& startFrom) override {
        ++writes;
        if (failWrites || file.empty() || keys.empty())
            return false;
        if (!HasFile(file) && HasFile(startFrom))
            m_files[file] = m_files[startFrom];
        bool all = true;
        for (const ProfileWrite& write : keys) {
            if (write.section.empty() || write.key.empty())
                all = false;
            else
                Set(file, write.section, write.key, write.value);
        }
        return all;
    }

    bool Exists(const std::string& file) override { return HasFile(file); }
    bool CanWriteFolder(const std::string& folder) override {
        return readOnlyFolders.count(folder) == 0;
    }
    std::string UserFolder() override { return userFolder; }

private:
    static Section& SectionOf(File& file, const std::string& name) {
        for (Section& section : file) {
            if (Fold(section.name) == Fold(name))
                return section;
        }
        file.push_back({name, {}});
        return file.back();
    }

    std::map<std::string, File> m_files;
};

} // namespace fb::fakes
