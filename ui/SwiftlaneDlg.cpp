// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SwiftlaneDlg.h"

#include "app/Updater.h"
#include "platform/MessageBox.h"
#include "platform/ProcessInfo.h"
#include "platform/Shell.h"
#include "res/Icon.h"
#include "res/Product.h"
#include "res/Resources.h"
#include "ui/AboutDlg.h"
#include "ui/DialogUnits.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QUrl>

#include <algorithm>
#include <utility>
#include <vector>

namespace fb {

namespace {

constexpr int kScMinimize = 0xF020;
constexpr int kScClose = 0xF060;
constexpr int kTrayCallbackMessage = 0x800A;
constexpr int kLeftButtonDoubleClick = 0x0203;

constexpr int kStatisticsPeriodMs = 1000; // also the accelerate duration's
constexpr int kSamplePeriodMs = 500;
// The graph turns the samples added since its last tick into one point every 100 ms.
constexpr int kGraphPeriodMs = 100;

const char* const kActiveText = "Mode: Active\nPush to stop";
const char* const kInactiveText = "Mode: Inactive\nPush to accelerate";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// What the window knows of some controls beyond their template entry.
struct ControlFacts {
    int id;
    // The longest text the control shows in use, so that the layout leaves room for it.
    const char16_t* longestText;
    // What a screen reader says for a caption whose visible text is terse: the caption stays as
    // it is on the screen, and the value it labels is announced with this name.
    const char16_t* spokenCaption;
    // What a scale label tells beside its percentage.
    const char16_t* description;
};

constexpr ControlFacts kControlFacts[] = {
    {res::IDC_DURATION, u" 99 hrs : 59 mins : 59 secs", nullptr, nullptr},
    {res::IDC_DURATION_ACC, u" 99 hrs : 59 mins : 59 secs", u"Time spent accelerating", nullptr},
    {res::IDC_SENT, u" 4294967295 ", nullptr, nullptr},
    {res::IDC_RECEIVED, u" 4294967295 ", nullptr, nullptr},
    {res::IDC_TYPE, u" LAN  Proxy ", nullptr, nullptr},
    {res::IDC_STATUS, u" Connected", nullptr, nullptr},
    {res::IDC_SCALE_TOP, u"100.0%", nullptr, u"Top of the graph's scale"},
    {res::IDC_SCALE_MIDDLE, u"50.0%", nullptr, u"Middle of the graph's scale"},
    {res::IDC_SCALE_BOTTOM, nullptr, nullptr, u"Bottom of the graph's scale"},
};

// One of the facts of control `id`; empty when there is none.
QString FactOf(int id, const char16_t* ControlFacts::*fact) {
    for (const ControlFacts& facts : kControlFacts)
        if (facts.id == id && facts.*fact != nullptr)
            return QString::fromUtf16(facts.*fact);
    return {};
}

// The innermost group box whose frame holds the top edge of a control (dialog units): a combo's
// template height includes its drop-down list, which may reach beyond the frame.
QGroupBox* EnclosingBox(const std::vector<std::pair<QRect, QGroupBox*>>& boxes,
                        const res::ControlTemplate& control) {
    QGroupBox* found = nullptr;
    for (const auto& [frame, box] : boxes)
        if (frame.contains(control.x, control.y) &&
            frame.contains(control.x + control.width - 1, control.y))
            found = box;
    return found;
}

// The control of one template entry, a child of `parent` at `rect` (parent coordinates).
QWidget* NewControl(const res::ControlTemplate& control, const QRect& rect, QWidget* parent) {
    const QString text =
        QString::fromUtf8(control.text.data(), static_cast<int>(control.text.size()));
    QWidget* widget = nullptr;
    switch (control.kind) {
    case res::ControlKind::GroupBox:
        widget = new QGroupBox(text, parent);
        break;
    case res::ControlKind::DropDownCombo: {
        auto* combo = new QComboBox(parent);
        // A drop-down combo with an edit field; typed text changes nothing: no completer
        // picks a row for it, and finishing an edit (Return, Tab) neither selects the row
        // the text names nor keeps the text.
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
        QLineEdit* edit = combo->lineEdit();
        // The field paints its own ground, the combo's field colour: the caret's blinking then
        // repaints the caret alone, not the combo, the frame and the window behind it.
        edit->setAutoFillBackground(true);
        QObject::disconnect(edit, &QLineEdit::editingFinished, combo, nullptr);
        QObject::connect(edit, &QLineEdit::editingFinished, combo,
                         [combo] { combo->setEditText(combo->itemText(combo->currentIndex())); });
        const int fieldHeight = combo->sizeHint().height();
        const int itemHeight = std::max(1, combo->fontMetrics().height());
        combo->setMaxVisibleItems(std::max(1, (rect.height() - fieldHeight) / itemHeight));
        widget = combo;
        widget->setGeometry(rect.x(), rect.y(), rect.width(), fieldHeight);
        break;
    }
    case res::ControlKind::PushButton:
    case res::ControlKind::PushLikeCheckBox: {
        auto* button = new CButtonST(parent);
        button->setText(text);
        button->setCheckable(control.kind == res::ControlKind::PushLikeCheckBox);
        button->setAutoDefault(false);
        widget = button;
        break;
    }
    case res::ControlKind::Static:
    case res::ControlKind::SunkenStatic:
    case res::ControlKind::RightStatic: {
        auto* label = new QLabel(text, parent);
        if (control.kind == res::ControlKind::SunkenStatic)
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (control.kind == res::ControlKind::RightStatic)
            label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        // Labels whose text changes every second paint their own (plain window-coloured)
        // background, so that a change repaints the label alone and not the group box
        // under it. They look the same as transparent ones on the plain dialog ground.
        if (control.kind != res::ControlKind::Static)
            label->setAutoFillBackground(true);
        widget = label;
        break;
    }
    case res::ControlKind::FrameStatic: {
        auto* frame = new QFrame(parent);
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
        widget = frame;
        break;
    }
    }
    if (control.kind != res::ControlKind::DropDownCombo)
        widget->setGeometry(rect);
    return widget;
}

// Names and relations for assistive technologies. As in Windows dialogs, a static text just
// before a control in the template order is that control's caption. A value keeps its text as
// its name (what changes is what a listener wants to hear) and is labelled by its caption; a
// combo, whose text is its current row, is labelled by its caption or by the group box that
// frames it, and carries that caption as its name.
void Describe(const res::ControlTemplate& control, QWidget* widget, QLabel* caption) {
    const bool captioned = control.kind == res::ControlKind::SunkenStatic ||
                           control.kind == res::ControlKind::DropDownCombo;
    if (caption != nullptr && captioned) {
        caption->setBuddy(widget);
        if (const QString spoken = FactOf(control.id, &ControlFacts::spokenCaption);
            !spoken.isEmpty())
            caption->setAccessibleName(spoken);
    }
    if (control.kind == res::ControlKind::DropDownCombo) {
        if (caption != nullptr)
            widget->setAccessibleName(caption->text());
        else if (const auto* box = qobject_cast<QGroupBox*>(widget->parentWidget()))
            widget->setAccessibleName(box->title());
    }
    if (const QString description = FactOf(control.id, &ControlFacts::description);
        !description.isEmpty())
        widget->setAccessibleDescription(description);
}

// The help page installed beside the program, else the maker's page.
std::string HelpPageAddress(const std::string& moduleFileName) {
    const QString directory = QFileInfo(Q(moduleFileName)).absolutePath();
    for (const QString& candidate :
         {directory + QStringLiteral("/../share/doc/flowbright/help.html"),
          directory + QStringLiteral("/../docs/help.html")}) {
        const QFileInfo page(candidate);
        if (page.isFile())
            return QUrl::fromLocalFile(page.canonicalFilePath())
                .toString(QUrl::FullyEncoded)
                .toStdString();
    }
    return std::string(product::kMakerPage);
}

} // namespace

CSwiftlaneDlg::CSwiftlaneDlg(const Platform& platform, std::atomic<std::int32_t>& modeFlag,
                             QWidget* parent)
    : QDialog(parent)
    , m_platform(platform)
    , m_hIcon(res::ApplicationIcon())
    , m_tray(*platform.tray)
    , m_adapters(*platform.interfaces)
    , m_accelerateMode(*platform.packetSockets, modeFlag) {
    setWindowTitle(QString::fromUtf8(res::MainDialog().caption.data(),
                                     static_cast<int>(res::MainDialog().caption.size())));
    setWindowIcon(m_hIcon);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAccessibleName(
        QString::fromUtf8(product::kName.data(), static_cast<int>(product::kName.size())));
    connect(&m_beatTimer, &QTimer::timeout, this, &CSwiftlaneDlg::OnBeat);
    CreateControls();
}

CSwiftlaneDlg::~CSwiftlaneDlg() = default;

void CSwiftlaneDlg::CreateControls() {
    const res::DialogTemplate& dialog = res::MainDialog();
    // Every label, and the longest text each value can show, fits its control.
    QList<DialogUnits::FittedText> texts;
    for (const res::ControlTemplate& control : dialog.controls) {
        const bool sunken = control.kind == res::ControlKind::SunkenStatic;
        if (control.kind == res::ControlKind::Static || sunken ||
            control.kind == res::ControlKind::RightStatic)
            texts.append(
                {QString::fromUtf8(control.text.data(), static_cast<int>(control.text.size())),
                 control.width, sunken ? 4 : 1});
        const QString longest = FactOf(control.id, &ControlFacts::longestText);
        if (!longest.isEmpty())
            texts.append({longest, control.width, sunken ? 4 : 1});
    }
    const DialogUnits units = DialogUnits::ForFont(font()).WidenedToFit(font(), texts);
    setFixedSize(units.X(dialog.width), units.Y(dialog.height));

    QWidget* previousTabStop = nullptr;
    // Controls inside a group box's frame are its children, so that the box is their container
    // for assistive technologies, as it is to the eye; their pixels stay where they were.
    std::vector<std::pair<QRect, QGroupBox*>> boxes;
    QLabel* caption = nullptr;
    for (const res::ControlTemplate& control : dialog.controls) {
        QGroupBox* box = EnclosingBox(boxes, control);
        QWidget* parent = box != nullptr ? static_cast<QWidget*>(box) : this;
        const QPoint origin = box != nullptr ? box->mapTo(this, QPoint(0, 0)) : QPoint(0, 0);
        const QRect rect =
            units.Rect(control.x, control.y, control.width, control.height).translated(-origin);
        QWidget* widget = NewControl(control, rect, parent);
        widget->setObjectName(QStringLiteral("control%1").arg(control.id));
        if (auto* newBox = qobject_cast<QGroupBox*>(widget))
            boxes.emplace_back(QRect(control.x, control.y, control.width, control.height), newBox);
        Describe(control, widget,
                 caption != nullptr && caption->parentWidget() == parent ? caption : nullptr);
        caption =
            control.kind == res::ControlKind::Static ? qobject_cast<QLabel*>(widget) : nullptr;
        if (control.tabStop) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop != nullptr)
                setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        if (control.id != res::IDC_STATIC)
            m_controls[control.id] = widget;
    }

    m_clientCombo = qobject_cast<QComboBox*>(Control(res::IDC_CLIENT));
    m_adapterCombo = qobject_cast<QComboBox*>(Control(res::IDC_ADAPTER));
    m_runButton = qobject_cast<CButtonST*>(Control(res::IDC_RUN));
    m_accelerateButton = qobject_cast<CButtonST*>(Control(res::IDC_ACCELERATE));
    m_quitButton = qobject_cast<CButtonST*>(Control(res::IDC_QUIT));
    for (QComboBox* combo : {m_clientCombo, m_adapterCombo}) {
        combo->installEventFilter(this);
        combo->lineEdit()->installEventFilter(this);
    }

    // Only a choice from the list counts; text typed into the edit field changes nothing.
    connect(m_clientCombo, &QComboBox::activated, this, [this] {
        if (m_runGroup)
            m_runGroup->OnClientSelChange();
    });
    connect(m_adapterCombo, &QComboBox::activated, this, [this] { OnSelchangeAdapter(); });
    connect(m_runButton, &QPushButton::clicked, this, [this] {
        if (m_runGroup)
            m_runGroup->OnRunClient();
    });
    connect(m_accelerateButton, &QPushButton::clicked, this, [this] { OnAccelerate(); });
    connect(m_quitButton, &QPushButton::clicked, this, [this] { OnQuit(); });
}

// The window menu is built the first time it opens: most sessions never open it.
QMenu& CSwiftlaneDlg::SystemMenu() {
    if (m_systemMenu != nullptr)
        return *m_systemMenu;
    m_systemMenu = new QMenu(this);
    m_systemMenu->setObjectName(QStringLiteral("systemMenu"));
    m_systemMenu->addAction(QStringLiteral("Mi&nimize"), this,
                            [this] { OnSysCommand(kScMinimize); });
    m_systemMenu->addAction(QStringLiteral("&Close\tEsc"), this,
                            [this] { OnSysCommand(kScClose); });
    if (!m_aboutText.isEmpty()) {
        m_systemMenu->addSeparator();
        m_systemMenu->addAction(m_aboutText, this, [this] { OnSysCommand(res::IDM_ABOUTBOX); });
    }
    return *m_systemMenu;
}

QWidget* CSwiftlaneDlg::Control(int id) const {
    auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

bool CSwiftlaneDlg::OnInitDialog() {
    // The updater looks for a newer version before the window does anything else.
    LaunchUpdater(*m_platform.shell);

    // The window menu carries About after a separator.
    const std::string_view about = res::LoadString(res::IDS_ABOUTBOX);
    m_aboutText = QString::fromUtf8(about.data(), static_cast<int>(about.size()));

    LoadOptions(*m_platform.registry, m_options);
    m_selectedAdapter = m_options.selectedAdapter;
    UpdateData(false);

    // Without the system's interface table there is nothing to show: the program ends.
    if (!LoadAdapters())
        return false;
    CreateGraph();
    m_beatTimer.start(kStatisticsPeriodMs);

    if (const QScreen* screen = QApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    SetUpTray();
    m_accelerateButton->SetTooltip("Accelerate P2P Application", true);
    m_quitButton->SetTooltip("Exit", true);
    m_runButton->SetTooltip("Run P2P Application", true);

    // The watcher needs the local addresses before accelerate mode, which the program starts
    // in, opens its socket on them.
    m_localAddresses.LoadLocalAddresses(*m_platform.addresses);
    OnAccelerate();
    m_accelerateButton->setChecked(true);

    // The run group comes last: without a client it suspends accelerate mode at once.
    m_runGroup = std::make_unique<CRunGroup>(*m_platform.registry, *m_platform.files,
                                             *m_platform.shell, *m_platform.messageBox, *this);
    m_runGroup->FillClientCombo();
    m_clientCombo->setFocus();
    return true;
}

bool CSwiftlaneDlg::LoadAdapters() {
    if (m_adapters.LoadInterfaceTable() == CAdapterList::LoadResult::FacilityMissing) {
        m_platform.messageBox->Show("Error loading Iphlpapi.dll", std::string(product::kName),
                                    kMbOk);
        EndDialog(kResultTableMissing);
        return false;
    }
    QStringList entries;
    entries.reserve(static_cast<qsizetype>(m_adapters.Entries().size()));
    for (const std::string& entry : m_adapters.Entries())
        entries.append(Q(entry));
    m_adapterCombo->addItems(entries); // one insertion into the list, however many adapters
    // A stored position that is no longer listed selects the first entry.
    m_selectedAdapter = m_adapters.SelectionFor(m_selectedAdapter);
    m_adapterCombo->setCurrentIndex(m_selectedAdapter);
    m_sampler.Restart(m_adapters.ReadSelectedRow(m_selectedAdapter));
    return true;
}

// The graph lies over the template's placeholder frame; it scrolls from the start, and its scale
// is the lowest one until the first sample.
void CSwiftlaneDlg::CreateGraph() {
    m_graph.Create(Control(res::IDC_GRAPH_FRAME)->geometry(), this, res::IDC_GRAPH,
                   m_platform.graphSurfaces);
    m_graph.SetRange(1, 10);
    m_graph.SetSpeed(kGraphPeriodMs);
    m_graph.setAccessibleName(QStringLiteral("Traffic graph"));
    ShowScale(ScaleTexts::BeforeFirstSample());
}

void CSwiftlaneDlg::SetUpTray() {
    m_tray.Setup(this, kTrayCallbackMessage, std::string(product::kName).c_str(), m_hIcon,
                 res::IDR_TRAYMENU, false);
    connect(&m_tray, &CSystemTray::TrayMessage, this,
            [this](int iconId, int mouseMessage) { OnTrayNotification(iconId, mouseMessage); });
    // A window brought back because the notification area went away draws again.
    connect(&m_tray, &CSystemTray::RestoredAfterTrayLoss, this,
            [this] { m_graph.SetSpeed(kGraphPeriodMs); });
}

void CSwiftlaneDlg::UpdateData(bool saveAndValidate) {
    if (m_labelsParked)
        return;
    const std::pair<int, std::string*> bound[] = {
        {res::IDC_RECEIVED, &m_statistics.received}, {res::IDC_SENT, &m_statistics.sent},
        {res::IDC_DURATION, &m_durationText},        {res::IDC_STATUS, &m_statistics.status},
        {res::IDC_TYPE, &m_statistics.type},         {res::IDC_DURATION_ACC, &m_durationAccText},
        {res::IDC_SCALE_TOP, &m_scale.top},          {res::IDC_SCALE_MIDDLE, &m_scale.middle},
        {res::IDC_SCALE_BOTTOM, &m_scale.bottom},
    };
    for (const auto& [id, text] : bound) {
        auto* label = qobject_cast<QLabel*>(Control(id));
        if (saveAndValidate)
            *text = label->text().toStdString();
        else if (label->text() != Q(*text))
            label->setText(Q(*text));
    }
}

void CSwiftlaneDlg::OnStatisticsTimer() {
    ShowStatistics(m_adapters.ReadSelectedRow(m_selectedAdapter));
}

void CSwiftlaneDlg::ShowStatistics(const IfCounters& row) {
    UpdateData(true);
    m_durationText = m_runningDuration.Tick();
    UpdateData(false);
    m_statistics.Update(row, *m_platform.connection);
    UpdateData(false);
}

// While samples are taken the beat comes every 500 ms, and the once-a-second work rides on every
// second beat with the counters its sample read.
void CSwiftlaneDlg::OnBeat() {
    const bool sampling = m_beatTimer.interval() == kSamplePeriodMs;
    const bool wholeSecond = !sampling || ++m_beatCount % 2 == 0;
    const IfCounters row = m_adapters.ReadSelectedRow(m_selectedAdapter);
    if (sampling)
        TakeSample(row);
    if (!wholeSecond)
        return;
    if (sampling)
        OnAccelerateDurationTimer();
    ShowStatistics(row);
}

void CSwiftlaneDlg::OnAccelerateDurationTimer() {
    m_durationAccText = m_accelerateDuration.Tick();
    UpdateData(false);
}

void CSwiftlaneDlg::OnSelchangeAdapter() {
    const int selection = m_adapterCombo->currentIndex();
    if (selection == m_selectedAdapter)
        return;
    m_selectedAdapter = selection;
    m_sampler.Restart(m_adapters.ReadSelectedRow(m_selectedAdapter));
    SaveSelectedAdapter(*m_platform.registry, selection);
}

void CSwiftlaneDlg::OnAccelerate() {
    m_accelerateMode.Toggle(m_localAddresses);
    FollowAccelerateMode();
    m_accelerateButton->setText(
        QString::fromLatin1(m_accelerateMode.IsOn() ? kActiveText : kInactiveText));
}

void CSwiftlaneDlg::EnableAcceleration(bool resume) {
    if (resume)
        m_accelerateMode.Resume();
    else
        m_accelerateMode.Suspend();
    FollowAccelerateMode();
    UpdateData(false);
}

// The accelerate duration, the samples and the graph run exactly while the mode samples. The beat
// starts again only when its period changes, so that the statistics keep their pace.
void CSwiftlaneDlg::FollowAccelerateMode() {
    const bool sampling = m_accelerateMode.IsSampling();
    m_graph.SetSpeed(sampling ? kGraphPeriodMs : 0);
    const int period = sampling ? kSamplePeriodMs : kStatisticsPeriodMs;
    if (m_beatTimer.interval() != period || !m_beatTimer.isActive()) {
        m_beatCount = 0;
        m_beatTimer.start(period);
    }
}

void CSwiftlaneDlg::OnSampleTimer() {
    TakeSample(m_adapters.ReadSelectedRow(m_selectedAdapter));
}

void CSwiftlaneDlg::TakeSample(const IfCounters& row) {
    const ThroughputSample sample = m_sampler.Take(row);
    if (sample.peak) {
        m_graph.SetRange(1, *sample.peak);
        // A quiet adapter sets the same peak at every sample: its texts are on show already.
        if (sample.peak != m_scalePeak)
            ShowScale(ScaleTexts::ForPeak(*sample.peak));
        m_scalePeak = sample.peak;
    }
    m_graph.AddValues(static_cast<std::uint32_t>(sample.rates.inRate),
                      static_cast<std::uint32_t>(sample.rates.outRate));
}

void CSwiftlaneDlg::ShowScale(const ScaleTexts& scale) {
    m_scale = scale;
    UpdateData(false);
    DescribeGraph();
}

void CSwiftlaneDlg::DescribeGraph() {
    // What the graph shows now, for a listener who cannot see it; the top of the scale is the
    // peak of the recent samples.
    const QString description =
        QStringLiteral("Received traffic (green line) and sent traffic (red line) of the "
                       "network adapter; peak %1 of the adapter's speed")
            .arg(Q(m_scale.top));
    if (m_graph.accessibleDescription() != description)
        m_graph.setAccessibleDescription(description);
}

void CSwiftlaneDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == res::IDM_ABOUTBOX)
        OnAbout();
    else if (id == kScMinimize)
        showMinimized();
    else if (id == kScClose)
        OnCancel();
}

void CSwiftlaneDlg::reject() {
    // Esc: hide to the tray.
    OnCancel();
}

void CSwiftlaneDlg::closeEvent(QCloseEvent* event) {
    // The close box hides the window; only Quit and Exit end the program.
    if (m_ended) {
        event->accept();
        return;
    }
    event->ignore();
    OnCancel();
}

void CSwiftlaneDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Mouse)
        SystemMenu().popup(event->globalPos());
    else
        OpenSystemMenuFromKeyboard();
}

void CSwiftlaneDlg::keyPressEvent(QKeyEvent* event) {
    // The keys that open a window's menu without a mouse: Alt+Space (where the window manager
    // leaves it to the window), Shift+F10 and the Menu key.
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((key == Qt::Key_Space && modifiers == Qt::AltModifier) ||
        (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier) ||
        (key == Qt::Key_Menu && modifiers == Qt::NoModifier)) {
        OpenSystemMenuFromKeyboard();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CSwiftlaneDlg::eventFilter(QObject* watched, QEvent* event) {
    // A combo's edit field has a context menu of its own for the mouse; from the keyboard, the
    // Menu key opens the window menu there as everywhere else in the window. (The combo hands
    // such a request to its field directly, so both are watched.)
    if (event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() != QContextMenuEvent::Mouse) {
        OpenSystemMenuFromKeyboard();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CSwiftlaneDlg::OpenSystemMenuFromKeyboard() {
    // The platform may report the Menu key both as a key and as a context-menu request.
    QMenu& menu = SystemMenu();
    if (menu.isVisible())
        return;
    menu.popup(mapToGlobal(QPoint(0, 0)));
    if (QAction* first = menu.actions().value(0))
        menu.setActiveAction(first);
}

void CSwiftlaneDlg::showEvent(QShowEvent* event) {
    m_labelsParked = false;
    UpdateData(false);
    QDialog::showEvent(event);
    ResumeGraphOnReturn();
}

void CSwiftlaneDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Without a notification area, closing minimises: the window comes back from the taskbar
    // or the window manager's list, which some window systems report as a state change only.
    if (event->type() == QEvent::WindowStateChange && !isMinimized() && isVisible())
        ResumeGraphOnReturn();
}

void CSwiftlaneDlg::ResumeGraphOnReturn() {
    if (!m_graphPausedByClose)
        return;
    m_graphPausedByClose = false;
    // The graph runs while the samples it shows are taken, as after a restore from the tray.
    if (m_accelerateMode.IsSampling())
        m_graph.SetSpeed(kGraphPeriodMs);
}

void CSwiftlaneDlg::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    // Only a hide of our own (to the tray) parks the labels: a window system that minimises
    // without ever sending the matching show event must not leave them behind.
    if (!event->spontaneous())
        m_labelsParked = true;
}

void CSwiftlaneDlg::OnCancel() {
    UpdateData(true);
    SaveOptions(*m_platform.registry, m_options);
    m_graph.SetSpeed(0);
    m_graphPausedByClose = true;
    HideWindowToTray(this, false, &m_tray);
}

void CSwiftlaneDlg::OnQuit() {
    m_beatTimer.stop();
    EndDialog(kResultQuit);
}

void CSwiftlaneDlg::OnExit() {
    m_beatTimer.stop();
    EndDialog(kResultExit);
}

void CSwiftlaneDlg::EndDialog(int result) {
    m_ended = true;
    done(result);
}

void CSwiftlaneDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CSwiftlaneDlg::OnRunAtStartup() {
    ToggleRunAtStartup(*m_platform.registry, *m_platform.process, m_runAtStartup);
}

void CSwiftlaneDlg::OnOpenPage(int command) {
    std::string address;
    bool open = true;
    switch (command) {
    case res::ID_SAFETY:
        address = product::kSafetyPage;
        break;
    case res::ID_FILE_SHARING:
        address = product::kFileSharingPage;
        break;
    case res::ID_HELP:
        address = HelpPageAddress(m_platform.process->ModuleFileName());
        break;
    case res::ID_EMUSIC:
        address = product::kMusicPage;
        open = false;
        break;
    case res::ID_ANONYMOUS:
        address = product::kAnonymousPage;
        open = false;
        break;
    case res::ID_MEDIA:
        address = product::kMediaPage;
        open = false;
        break;
    default:
        return;
    }
    m_platform.shell->Execute(open ? "open" : "", address, "", "", open ? kSwShowNormal : kSwShow);
}

void CSwiftlaneDlg::OnTrayNotification(int iconId, int mouseMessage) {
    if (mouseMessage == kLeftButtonDoubleClick) {
        m_graph.SetSpeed(kGraphPeriodMs);
        RestoreWindowFromTray(this, false, &m_tray);
    }
    m_tray.HandleTrayMessage(iconId, mouseMessage);
}

void CSwiftlaneDlg::OnCommand(int id) {
    switch (id) {
    case res::ID_RUN_AT_STARTUP:
        OnRunAtStartup();
        break;
    case res::ID_ABOUT:
        OnAbout();
        break;
    case res::ID_EXIT:
        OnExit();
        break;
    case res::ID_SAFETY:
    case res::ID_HELP:
    case res::ID_FILE_SHARING:
    case res::ID_EMUSIC:
    case res::ID_ANONYMOUS:
    case res::ID_MEDIA:
        OnOpenPage(id);
        break;
    default:
        break;
    }
}

bool CSwiftlaneDlg::OnUpdateCommand(CCmdUI& item) {
    if (item.id != res::ID_RUN_AT_STARTUP)
        return false;
    m_runAtStartup = QueryRunAtStartup(*m_platform.registry);
    item.checked = m_runAtStartup;
    return true;
}

int CSwiftlaneDlg::AddRow(const std::string& text) {
    m_clientCombo->addItem(Q(text));
    return m_clientCombo->count() - 1;
}

void CSwiftlaneDlg::DeleteRow(int row) {
    m_clientCombo->removeItem(row);
}

int CSwiftlaneDlg::RowCount() const {
    return m_clientCombo->count();
}

std::string CSwiftlaneDlg::RowText(int row) const {
    return m_clientCombo->itemText(row).toStdString();
}

void CSwiftlaneDlg::SelectRow(int row) {
    m_clientCombo->setCurrentIndex(row);
}

int CSwiftlaneDlg::CurrentRow() const {
    return m_clientCombo->currentIndex();
}

void CSwiftlaneDlg::EnableRunButton(bool enable) {
    m_runButton->setEnabled(enable);
}

void CSwiftlaneDlg::EnableAccelerateButton(bool enable) {
    m_accelerateButton->setEnabled(enable);
}

void CSwiftlaneDlg::TransferTexts() {
    UpdateData(false);
}

} // namespace fb
