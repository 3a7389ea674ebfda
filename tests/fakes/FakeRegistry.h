// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fb::fakes {

// An in-memory registry with case-insensitive key and value names.
class FakeRegistry : public IRegistry {
public:
    struct Value {
        std::uint32_t type = reg::kNone;
        std::vector<std::uint8_t> data;
    };

    static std::string Fold(std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }

    static std::string KeyId(RegRoot root, const std::string& path) {
        return (root == RegRoot::CurrentUser ? "hkcu\\" : "hklm\\") + Fold(path);
    }

    // Test setup and inspection.
    void SetString(RegRoot root, const std::string& path, const std::string& name,
                   const std::string& text) {
        Value value{reg::kSz, std::vector<std::uint8_t>(text.begin(), text.end())};
        value.data.push_back(0);
        m_keys[KeyId(root, path)][Fold(name)] = value;
    }
    void SetDword(RegRoot root, const std::string& path, const std::string& name,
                  std::uint32_t number) {
        Value value{reg::kDword, std::vector<std::uint8_t>(4)};
        std::memcpy(value.data.data(), &number, 4);
        m_keys[KeyId(root, path)][Fold(name)] = value;
    }
    void AddKey(RegRoot root, const std::string& path) { m_keys[KeyId(root, path)]; }
    bool HasKey(RegRoot root, const std::string& path) const {
        return m_keys.count(KeyId(root, path)) != 0;
    }
    const Value* Find(RegRoot root, const std::string& path, const std::string& name) const {
        auto key = m_keys.find(KeyId(root, path));
        if (key == m_keys.end())
            return nullptr;
        auto value = key->second.find(Fold(name));
        return value == key->second.end() ? nullptr : &value->second;
    }
    std::string GetString(RegRoot root, const std::string& path, const std::string& name) const {
        const Value* value = Find(root, path, name);
        if (value == nullptr)
            return {};
        std::string text(value->data.begin(), value->data.end());
        return text.substr(0, text.find('\0'));
    }
    bool GetDword(RegRoot root, const std::string& path, const std::string& name,
                  std::uint32_t& number) const {
        const Value* value = Find(root, path, name);
        if (value == nullptr || value->type != reg::kDword || value->data.size() != 4)
            return false;
        std::memcpy(&number, value->data.data(), 4);
        return true;
    }

    // Failure switches.
    bool failOpen = false;
    bool failCreate = false;
    bool failSet = false;
    int writes = 0;

    std::unique_ptr<IRegKey> OpenKey(RegRoot root, const std::string& path, bool,
                                     long* error) override {
        if (failOpen || m_keys.count(KeyId(root, path)) == 0) {
            if (error)
                *error = reg::kFileNotFound;
            return nullptr;
        }
        if (error)
            *error = reg::kSuccess;
        return std::make_unique<Key>(*this, KeyId(root, path));
    }

    std::unique_ptr<IRegKey> CreateKey(RegRoot root, const std::string& path,
                                       long* error) override {
        if (failCreate) {
            if (error)
                *error = reg::kAccessDenied;
            return nullptr;
        }
        m_keys[KeyId(root, path)];
        if (error)
            *error = reg::kSuccess;
        return std::make_unique<Key>(*this, KeyId(root, path));
    }

private:
    class Key : public IRegKey {
    public:
        Key(FakeRegistry& owner, std::string id)
            : m_owner(owner)
            , m_id(std::move(id)) {}

        long QueryValue(const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override {
            auto& values = m_owner.m_keys[m_id];
            auto found = values.find(Fold(name));
            if (found == values.end())
                return reg::kFileNotFound;
            const Value& value = found->second;
            const auto needed = static_cast<std::uint32_t>(value.data.size());
            if (type)
                *type = value.type;
            if (data != nullptr) {
                if (size == nullptr)
                    return reg::kMoreData;
                if (*size < needed) {
                    *size = needed;
                    return reg::kMoreData;
                }
                std::copy(value.data.begin(), value.data.end(), data);
            }
            if (size)
                *size = needed;
            return reg::kSuccess;
        }

        long SetValue(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                      std::uint32_t size) override {
            if (m_owner.failSet)
                return reg::kAccessDenied;
            ++m_owner.writes;
            m_owner.m_keys[m_id][Fold(name)] =
                Value{type, std::vector<std::uint8_t>(data, data + size)};
            return reg::kSuccess;
        }

        // One write for the whole set, as the file store makes it.
        long SetValues(const std::vector<RegValueWrite>& values) override {
            if (m_owner.failSet)
                return reg::kAccessDenied;
            ++m_owner.writes;
            for (const auto& value : values)
                m_owner.m_keys[m_id][Fold(value.name)] = Value{value.type, value.data};
            return reg::kSuccess;
        }

        long DeleteValue(const std::string& name) override {
            return m_owner.m_keys[m_id].erase(Fold(name)) ? reg::kSuccess : reg::kFileNotFound;
        }

    private:
        FakeRegistry& m_owner;
        std::string m_id;
    };

    std::map<std::string, std::map<std::string, Value>> m_keys;
};

} // namespace fb::fakes
