// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "res/Product.h"

#include <string>
#include <string_view>
#include <vector>

namespace fb {

// What the Run P2P group needs of the main window: the client combo box (1034), the Run button
// (1030), the ACCELLERATE! button (1001) and accelerate mode's timers.
class IRunGroupView {
public:
    virtual ~IRunGroupView() = default;

    // The combo box's rows; AddRow appends (the list is not sorted) and returns the new row.
    virtual int AddRow(const std::string& text) = 0;
    virtual void DeleteRow(int row) = 0;
    virtual int RowCount() const = 0;
    virtual std::string RowText(int row) const = 0;
    virtual void SelectRow(int row) = 0;
    virtual int CurrentRow() const = 0; // -1 when no row is selected

    virtual void EnableRunButton(bool enable) = 0;
    virtual void EnableAccelerateButton(bool enable) = 0;
    // Suspends (false) or resumes (true) accelerate mode's timers without changing the mode;
    // ends with a transfer of the window's texts to its controls.
    virtual void EnableAcceleration(bool resume) = 0;
    // Transfers the window's texts to its controls.
    virtual void TransferTexts() = 0;
};

// The Run P2P group: lists the detected clients, keeps the stored choice, checks a picked
// client's executable and starts the chosen one. The main window forwards its start-up fill,
// the combo's selection change and the Run button's click here.
class CRunGroup {
public:
    static constexpr const char* kSelectPrompt = "Select application to run";
    static constexpr const char* kNonePrompt = "No P2P Application has been detected";
    static constexpr std::string_view kCaption = product::kName;

    CRunGroup(IRegistry& registry, IFileSystem& files, IShell& shell, IMessageBox& messages,
              IRunGroupView& view);

    // Lists the clients the catalogue detects and reselects the stored choice; once, at the
    // end of the main window's start-up.
    void FillClientCombo();
    // A row was picked from the combo's list.
    void OnClientSelChange();
    // The Run button was clicked: starts what "APP_PATH" holds now.
    void OnRunClient();

    // "%s NOT FOUND. %s will be removed from list." with the name in both places.
    static std::string NotFoundText(const std::string& name);

    // Executable paths; element k belongs to combo row k + 1 (row 0 is the prompt).
    std::vector<std::string> m_clientPaths;
    // The row selected at the end of the start-up fill.
    int m_clientRow = 0;

private:
    void LockGroup();
    void ReportNotFound(const std::string& name);
    void ShowNonePromptIfEmpty();
    int FindClientRow(const std::string& name) const;

    IRegistry& m_registry;
    IFileSystem& m_files;
    IShell& m_shell;
    IMessageBox& m_messages;
    IRunGroupView& m_view;
};

} // namespace fb
