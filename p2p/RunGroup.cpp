// SPDX-License-Identifier: GPL-3.0-or-later
#include "p2p/RunGroup.h"

#include "p2p/FindP2PDlg.h"
#include "platform/Text.h"

#include <cstddef>

namespace fb {

CRunGroup::CRunGroup(IRegistry& registry, IFileSystem& files, IShell& shell, IMessageBox& messages,
                     IRunGroupView& view)
    : m_registry(registry)
    , m_files(files)
    , m_shell(shell)
    , m_messages(messages)
    , m_view(view) {}

std::string CRunGroup::NotFoundText(const std::string& name) {
    return name + " NOT FOUND. " + name + " will be removed from list.";
}

void CRunGroup::LockGroup() {
    m_view.EnableRunButton(false);
    m_view.EnableAccelerateButton(false);
    m_view.EnableAcceleration(false);
}

void CRunGroup::ReportNotFound(const std::string& name) {
    m_messages.Show(NotFoundText(name), std::string(kCaption), kMbIconError | kMbOk);
}

void CRunGroup::ShowNonePromptIfEmpty() {
    if (m_view.RowCount() == 1) {
        m_view.DeleteRow(0);
        m_view.AddRow(kNonePrompt);
    }
}

// The search starts after row 1 and wraps, so that row 2 to the end come first and row 1
// last. Row 0 is a prompt, never a client: a stored name equal to a prompt's text selects
// nothing.
int CRunGroup::FindClientRow(const std::string& name) const {
    const int count = m_view.RowCount();
    if (count <= 1)
        return -1;
    for (int step = 0; step < count; ++step) {
        const int row = (2 + step) % count;
        if (row != 0 && EqualsIgnoringAsciiCase(m_view.RowText(row), name))
            return row;
    }
    return -1;
}

void CRunGroup::FillClientCombo() {
    m_view.AddRow(kSelectPrompt);

    CFindP2PDlg find(m_registry);
    for (const auto& client : CFindP2PDlg::Clients()) {
        if ((find.*client.probe)() == 1) {
            m_view.AddRow(client.displayName);
            m_clientPaths.push_back(find.*client.path);
        }
    }

    const std::string name = find.ReadAppName();
    if (name.empty()) {
        m_clientRow = 0;
        LockGroup();
        ShowNonePromptIfEmpty();
    } else if (const int row = FindClientRow(name); row > 0) {
        // The buttons keep their state; the stored path is not checked here.
        m_clientRow = row;
    } else {
        m_clientRow = 0;
        LockGroup();
        ReportNotFound(name);
        find.WriteChoice("", "");
        ShowNonePromptIfEmpty();
    }

    m_view.SelectRow(m_clientRow);
    m_view.TransferTexts();
}

void CRunGroup::OnClientSelChange() {
    CFindP2PDlg find(m_registry);
    const int row = m_view.CurrentRow();
    if (row == 0) {
        LockGroup();
        find.WriteChoice("", "");
        return;
    }
    // No row picked (text typed into the edit field), or a row without a path: nothing changes.
    if (row < 0 || static_cast<std::size_t>(row) > m_clientPaths.size())
        return;

    const std::string name = m_view.RowText(row);
    const std::string path = m_clientPaths[static_cast<std::size_t>(row) - 1];
    if (m_files.Exists(path)) {
        find.WriteChoice(name, path);
        m_view.EnableRunButton(true);
        m_view.EnableAccelerateButton(true);
        m_view.EnableAcceleration(true);
        return;
    }

    ReportNotFound(name);
    LockGroup();
    find.WriteChoice("", "");
    m_view.DeleteRow(row);
    m_clientPaths.erase(m_clientPaths.begin() + (row - 1));
    ShowNonePromptIfEmpty();
    m_view.SelectRow(0);
}

void CRunGroup::OnRunClient() {
    CFindP2PDlg find(m_registry);
    const std::string path = find.ReadAppPath();
    if (!path.empty())
        m_shell.Execute("", path, "", "", kSwShow); // a failed start changes nothing
}

} // namespace fb
