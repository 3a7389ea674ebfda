// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Accelerator.h"
#include "app/Options.h"
#include "net/AdapterList.h"
#include "net/LocalAddresses.h"
#include "net/Statistics.h"
#include "p2p/RunGroup.h"
#include "platform/Platform.h"
#include "ui/ButtonST.h"
#include "ui/CommandTarget.h"
#include "ui/HistogramCtrl.h"
#include "ui/SystemTray.h"

#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QMenu;

namespace fb {

// The main window: the run group, the accelerate and Quit buttons, the statistics, the adapter
// choice and the acceleration graph. It is the view of the display-free pieces it owns (the
// throughput sampler, accelerate mode, the statistics and duration texts, the run group): its
// timers drive them and it shows what they give back. It lives on in the notification area when
// closed; only Quit and Exit end it.
class CSwiftlaneDlg : public QDialog, public ICommandTarget, public IRunGroupView {
    Q_OBJECT

public:
    // Results the dialog ends with.
    static constexpr int kResultExit = 0;
    static constexpr int kResultTableMissing = 1;
    static constexpr int kResultQuit = 2;

    CSwiftlaneDlg(const Platform& platform, std::atomic<std::int32_t>& modeFlag,
                  QWidget* parent = nullptr);
    ~CSwiftlaneDlg() override;

    // The start-up sequence; false when the dialog has already ended (no interface table).
    bool OnInitDialog();

    // Handlers.
    void OnSysCommand(int id);
    void OnCancel();
    void OnQuit();
    void OnExit();
    void OnAbout();
    void OnRunAtStartup();
    void OnOpenPage(int command);
    void OnAccelerate();
    void EnableAcceleration(bool resume) override;
    void OnSelchangeAdapter();
    void OnTrayNotification(int iconId, int mouseMessage);

    // Data exchange: members to controls (false) or controls to members (true).
    void UpdateData(bool saveAndValidate);

    // ICommandTarget: commands of the tray menu and of the window menu.
    void OnCommand(int id) override;
    bool OnUpdateCommand(CCmdUI& item) override;

public Q_SLOTS:
    // The periodic work: the statistics once a second, the accelerate duration once a second
    // while accelerating, and a throughput sample every 500 ms while accelerating. One timer
    // beats for all of it (OnBeat); each handler reads the adapter's counters itself when called
    // alone.
    void OnStatisticsTimer();
    void OnAccelerateDurationTimer();
    void OnSampleTimer();

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
    QMenu& SystemMenu();
    QWidget* Control(int id) const;
    bool LoadAdapters();
    void CreateGraph();
    void SetUpTray();
    void FollowAccelerateMode();
    void OnBeat();
    void ShowStatistics(const IfCounters& row);
    void TakeSample(const IfCounters& row);
    void ShowScale(const ScaleTexts& scale);
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

    Platform m_platform;

    QIcon m_hIcon;
    bool m_runAtStartup = false;
    CSystemTray m_tray;
    CButtonST* m_quitButton = nullptr;
    CButtonST* m_accelerateButton = nullptr;

    // Texts shown in the window; code changes a member, then transfers all of them at once.
    StatisticsTexts m_statistics;
    StoredOptions m_options;
    std::string m_durationText;
    std::string m_durationAccText = CDuration::kInitialAccelerateText;
    CDuration m_accelerateDuration;
    CDuration m_runningDuration;

    CAdapterList m_adapters;
    CThroughputSampler m_sampler;
    CHistogramCtrl m_graph;
    ScaleTexts m_scale = ScaleTexts::BeforeFirstSample();
    std::optional<int> m_scalePeak; // the peak m_scale shows, from the first sample on
    QComboBox* m_adapterCombo = nullptr;
    std::int32_t m_selectedAdapter = 0;
    CButtonST* m_runButton = nullptr;
    QComboBox* m_clientCombo = nullptr;

    CLocalAddresses m_localAddresses;
    CAccelerateMode m_accelerateMode;
    std::unique_ptr<CRunGroup> m_runGroup;

    // Every 500 ms while samples are taken, else every second: the program wakes once per beat.
    QTimer m_beatTimer;
    unsigned m_beatCount = 0;

    std::map<int, QWidget*> m_controls;
    QMenu* m_systemMenu = nullptr;
    QString m_aboutText;
    bool m_ended = false;
    // While the window is hidden in the tray nobody sees the labels: the texts live only in the
    // members above, and the labels catch up when the window is shown again.
    bool m_labelsParked = false;
    // Closing the window stopped the graph; it runs again when the window comes back, from the
    // tray or from the taskbar.
    bool m_graphPausedByClose = false;
};

} // namespace fb
