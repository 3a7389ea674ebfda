// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fb {

// The two registry roots the program reads.
enum class RegRoot { CurrentUser, LocalMachine };

// Result codes and value types with their Windows numbers, so that stored files and callers
// agree with the program's Windows history.
namespace reg {
inline constexpr long kSuccess = 0;      // ERROR_SUCCESS
inline constexpr long kFileNotFound = 2; // ERROR_FILE_NOT_FOUND
inline constexpr long kAccessDenied = 5; // ERROR_ACCESS_DENIED
inline constexpr long kWriteFault = 29;  // ERROR_WRITE_FAULT
inline constexpr long kMoreData = 234;   // ERROR_MORE_DATA

inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kSz = 1;
inline constexpr std::uint32_t kExpandSz = 2;
inline constexpr std::uint32_t kBinary = 3;
inline constexpr std::uint32_t kDword = 4;
inline constexpr std::uint32_t kMultiSz = 7;
inline constexpr std::uint32_t kQword = 11;
} // namespace reg

// One value of a SetValues call.
struct RegValueWrite {
    std::string name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
};

// An open registry key. Destroying it closes it.
class IRegKey {
public:
    virtual ~IRegKey() = default;

    // RegQueryValueExA. An empty name is the key's default (unnamed) value. `type`, `data` and
    // `size` may each be null. With `data` set, `*size` is the buffer's size in bytes; a value
    // that does not fit gives kMoreData and sets `*size` to the size needed, writing nothing.
    // With `data` null and `size` set, `*size` receives the value's size. A missing value gives
    // kFileNotFound.
    virtual long QueryValue(const std::string& name, std::uint32_t* type, std::uint8_t* data,
                            std::uint32_t* size) = 0;

    // True when the value is read from a Windows program's registry (the Wine prefix's hives)
    // rather than from the program's own store. Such a value names Windows files and nothing
    // else. A registry without such hives has none.
    virtual bool FromWindowsPrefix(const std::string& /*name*/) { return false; }

    // RegSetValueExA: stores `size` bytes of `data` with the given type.
    virtual long SetValue(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                          std::uint32_t size) = 0;

    // Sets several values of the key in one atomic change of the store: all of them or none.
    virtual long SetValues(const std::vector<RegValueWrite>& values) = 0;

    // RegDeleteValueA.
    virtual long DeleteValue(const std::string& name) = 0;
};

// The registry. Key paths use backslashes and, like value names, compare without regard to
// letter case.
class IRegistry {
public:
    virtual ~IRegistry() = default;

    // RegOpenKeyExA: the key when it exists, else null with the reason in `*error`.
    // `forWrite` asks for write access (KEY_ALL_ACCESS) besides reading.
    virtual std::unique_ptr<IRegKey> OpenKey(RegRoot root, const std::string& path, bool forWrite,
                                             long* error = nullptr) = 0;

    // RegCreateKeyExA: opens the key for reading and writing, creating it (and its parents)
    // when missing; null with the reason in `*error` when that is not possible.
    virtual std::unique_ptr<IRegKey> CreateKey(RegRoot root, const std::string& path,
                                               long* error = nullptr) = 0;
};

} // namespace fb
