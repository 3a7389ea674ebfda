// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/registry/RegistryText.h"

#include "platform/Text.h"

#include <QString>

#include <algorithm>

namespace fb::linux_impl {

std::string FoldRegistryName(std::string_view name) {
    if (IsAscii(name) || !IsValidUtf8(name)) {
        std::string folded(name);
        std::transform(folded.begin(), folded.end(), folded.begin(), FoldAscii);
        return folded;
    }
    const QByteArray folded =
        QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded().toUtf8();
    return std::string(folded.constData(), static_cast<std::size_t>(folded.size()));
}

std::string NormalizeRegistryPath(std::string_view path) {
    std::string normalized;
    normalized.reserve(path.size());
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('\\', pos);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > pos) {
            if (!normalized.empty())
                normalized.push_back('\\');
            normalized.append(path.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return normalized;
}

const RegValue* RegKeyNode::Find(std::string_view name) const {
    const std::string folded = FoldRegistryName(name);
    for (const auto& value : values) {
        if (FoldRegistryName(value.name) == folded)
            return &value;
    }
    return nullptr;
}

RegValue* RegKeyNode::Find(std::string_view name) {
    return const_cast<RegValue*>(std::as_const(*this).Find(name));
}

bool RegKeyNode::Set(std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
    if (RegValue* value = Find(name)) {
        if (value->type == type && value->data == data)
            return false;
        value->type = type;
        value->data = std::move(data);
        return true;
    }
    values.push_back(RegValue{std::string(name), type, std::move(data)});
    return true;
}

bool RegKeyNode::Erase(std::string_view name) {
    const RegValue* found = Find(name);
    if (found == nullptr)
        return false;
    values.erase(values.begin() + (found - values.data()));
    return true;
}

const RegKeyNode* RegHive::FindKey(std::string_view path) const {
    const auto found = m_keys.find(FoldRegistryName(NormalizeRegistryPath(path)));
    return found == m_keys.end() ? nullptr : &found->second;
}

RegKeyNode* RegHive::FindKey(std::string_view path) {
    return const_cast<RegKeyNode*>(std::as_const(*this).FindKey(path));
}

bool RegHive::KeyExists(std::string_view path) const {
    const std::string folded = FoldRegistryName(NormalizeRegistryPath(path));
    if (folded.empty() || m_keys.count(folded) != 0)
        return true;
    const std::string prefix = folded + '\\';
    const auto next = m_keys.lower_bound(prefix);
    return next != m_keys.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

RegKeyNode& RegHive::CreateKey(std::string_view path, std::int64_t now) {
    std::string normalized = NormalizeRegistryPath(path);
    auto [it, inserted] = m_keys.try_emplace(FoldRegistryName(normalized));
    if (inserted) {
        it->second.path = std::move(normalized);
        it->second.modified = now;
    }
    return it->second;
}

bool RegHive::Is64Bit() const {
    return std::find(options.begin(), options.end(), "#arch=win64") != options.end();
}

} // namespace fb::linux_impl
