// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Component.h"
#include "platform/MessageBox.h"
#include "platform/ProcessInfo.h"

namespace fb::linux_impl {

// The running process: /proc/self/exe and getcwd.
class ProcessInfo : public IProcessInfo {
public:
    std::string ModuleFileName() override;
    std::string CurrentDirectory() override;
};

// Automation components do not exist on this platform: every lookup by program identifier
// finds none, and the windows keep the platform's look.
class ComponentFactory : public IComponentFactory {
public:
    std::unique_ptr<IDispatchObject> CreateByProgId(const std::string& progId) override;
};

// Message boxes as modal Qt message boxes over the active window.
class MessageBox : public IMessageBox {
public:
    int Show(const std::string& text, const std::string& caption, unsigned type) override;
};

} // namespace fb::linux_impl
