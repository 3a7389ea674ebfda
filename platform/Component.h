// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace fb {

// One argument of a dispatch call: none, a 32-bit integer or a narrow string.
using DispArg = std::variant<std::int32_t, std::string>;

// An automation object reached through dispatch identifiers (IDispatch).
class IDispatchObject {
public:
    virtual ~IDispatchObject() = default;

    // Calls method `dispId` with `args` (DISPATCH_METHOD, no return value); 0 on success.
    virtual long InvokeMethod(int dispId, const std::vector<DispArg>& args) = 0;
};

// Creation of components by program identifier (CLSIDFromProgID + CoCreateInstance).
class IComponentFactory {
public:
    virtual ~IComponentFactory() = default;

    // The component's object, or null when no component is registered under `progId`.
    virtual std::unique_ptr<IDispatchObject> CreateByProgId(const std::string& progId) = 0;
};

} // namespace fb
