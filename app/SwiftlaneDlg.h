// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Accelerator.h"
#include "app/Options.h"
#include "net/AdapterList.h"
#include "net/HistogramCtrl.h"
#include "net/LocalAddresses.h"
#include "net/Statistics.h"
#include "net/Watcher.h"
#include "p2p/RunGroup.h"
#include "platform/Platform.h"
#include "ui/ButtonST.h"
#include "ui/CommandTarget.h"
#include "ui/SystemTray.h"

#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QMenu;

// The main window: the run group, the accelerate and Quit buttons, the statistics, the adapter
// choice and the acceleration graph. It owns all state of the running program and lives on in
// the notification area when closed; only Quit and Exit end it.
class CSwiftlaneDlg : public QDialog, public ICommandTarget, public IRunGroupView {
    Q_OBJECT

public:
    // Results the dialog ends with.
    static constexpr int kResultExit = 0;
    static constexpr int kResultTableMissing = 1;
    static constexpr int kResultQuit = 2;

    CSwiftlaneDlg(const fb::Platform& platform, std::atomic<std::int32_t>& modeFlag,
                  QWidget* parent = nullptr);
    ~CSwiftlaneDlg() override;

    // The start-up sequence; false when the dialog has already ended (no interface table).
    bool OnInitDialog();

    // Handlers.
    void OnTimer(int id);
    void OnSysCommand(int id);
    void OnCancel();
    void OnQuit();
    void OnExit();
    void OnAbout();
    void OnRunAtStartup();
    void OnOpenPage(int command);
    void OnAccelerate();
    void EnableAcceleration(bool resume) override;
    void SampleThroughput();
    void UpdateStatistics();
    void TickAccelerateDuration();
    void OnSelchangeAdapter();
    void OnTrayNotification(int iconId, int mouseMessage);

    // Data exchange: members to controls (false) or controls to members (true).
    void UpdateData(bool saveAndValidate);

    // ICommandTarget: commands of the tray menu and of the window menu.
    void OnCommand(int id) override;
    bool OnUpdateCommand(CCmdUI& item) override;

    // The window menu that stands in for the title bar's system menu.
    QMenu* SystemMenu() const { return m_systemMenu; }

    // Inspection for tests and the accessibility tree.
    QWidget* Control(int id) const;
    CHistogramCtrl& Graph() { return m_graph; }
    const CSampleRing& Ring() const { return m_ring; }
    int SelectedAdapter() const { return m_selectedAdapter; }
    bool TimerActive(int id) const;
    const std::string& ScaleTopText() const { return m_scaleTop; }
    const std::string& ScaleMiddleText() const { return m_scaleMiddle; }
    const std::string& ScaleBottomText() const { return m_scaleBottom; }
    CSystemTray& Tray() { return m_tray; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateControls();
    void CreateSystemMenu();
    void StartTimer(int id, int periodMs);
    void StopTimer(int id);
    void TakeStartingPoint();
    void UpdateScaleLabels();
    void DescribeGraph();
    void OpenSystemMenuFromKeyboard();
    void EndDialog(int result);
    void ResumeGraphOnReturn();

    // IRunGroupView: the run group's rows and buttons.
    int AddRow(const std::string& text) override;
    void DeleteRow(int row) override;
    int RowCount() const override;
    std::string RowText(int row) const override;
    void SelectRow(int row) override;
    int CurrentRow() const override;
    void EnableRunButton(bool enable) override;
    void EnableAccelerateButton(bool enable) override;
    void TransferTexts() override;

    fb::Platform m_platform;
    std::atomic<std::int32_t>& m_modeFlag;

    QIcon m_hIcon;
    bool m_runAtStartup = false;
    CSystemTray m_tray;
    CButtonST* m_quitButton = nullptr;
    CButtonST* m_accelerateButton = nullptr;

    // Texts shown in the window; code changes a member, then transfers all of them at once.
    StatisticsTexts m_statistics;
    StoredOptions m_options;
    std::string m_durationText;
    std::string m_durationAccText = " 0 hrs :  0 mins :  0 secs";
    CDuration m_accelerateDuration;
    CDuration m_runningDuration;

    CAdapterList m_adapters;
    std::uint32_t m_lastOutOctets = 0;
    std::uint32_t m_lastInOctets = 0;
    CHistogramCtrl m_graph;
    RateSample m_rates;
    CSampleRing m_ring;
    std::string m_scaleTop;
    std::string m_scaleMiddle;
    std::string m_scaleBottom;
    std::uint32_t m_speedDivisor = 1;
    QComboBox* m_adapterCombo = nullptr;
    std::int32_t m_selectedAdapter = 0;
    CButtonST* m_runButton = nullptr;
    QComboBox* m_clientCombo = nullptr;

    CLocalAddresses m_localAddresses;
    CRawWatcher m_watcher;
    std::unique_ptr<CRunGroup> m_runGroup;

    std::map<int, QWidget*> m_controls;
    std::map<int, QTimer*> m_timers;
    QMenu* m_systemMenu = nullptr;
    bool m_ended = false;
    // While the window is hidden in the tray nobody sees the labels: the texts live only in the
    // members above, and the labels catch up when the window is shown again.
    bool m_labelsParked = false;
    // Closing the window stopped the graph; it runs again when the window comes back, from the
    // tray or from the taskbar.
    bool m_graphPausedByClose = false;
};
