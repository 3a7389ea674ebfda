// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The registry store's own file handling on top of the shared file primitives: a store that
// cannot be read is set aside rather than written over.

#include "platform/linux/files/FileIo.h"

#include <string>

namespace fb::linux_impl {

// Renames a damaged file to "<path>.corrupt-<UTC time>" (with a number added when that name is
// taken), never replacing an earlier one. Returns the new name, or empty on failure.
std::string SetFileAside(const std::string& path);

} // namespace fb::linux_impl
