// The terminal window's set-up: its 32 controls made from the template's table and laid out in
// dialog units, their choices filled with the defaults selected, the event table that binds
// each control's notification to its handler, and the window's menu. Runs once, from the
// constructor; the handlers are in TerminalDlg.cpp.
#include "commands/CommandListBox.h"
#include "serial/LineSettings.h"
#include "terminal/ControlCast.h"
#include "terminal/ControlIds.h"
#include "terminal/InputField.h"
#include "terminal/PortChoice.h"
#include "terminal/ReceiveView.h"
#include "terminal/StatusPane.h"
#include "terminal/TerminalDlg.h"
#include "terminal/TerminalLayout.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <algorithm>
#include <array>

void CTerminalDlg::CreateControls()
{
    const CDialogUnits units(font());
    setFixedSize(units.ToPixels(QSize(kTemplateWidth, kTemplateHeight)));
    const int listItemHeight = QFontMetrics(font()).height() + 2;

    std::array<QWidget*, kTerminalControls.size()> created{};
    for (std::size_t i = 0; i < kTerminalControls.size(); ++i)
    {
        const ControlSpec& control = kTerminalControls[i];
        const QString caption = control.caption ? QString::fromLatin1(control.caption) : QString();
        QRect place = units.ToPixels(control.x, control.y, control.cx, control.cy);
        QWidget* widget = nullptr;
        switch (control.kind)
        {
        case ControlKind::GroupBox:
            widget = new QGroupBox(caption, this);
            // Frames lie under every control: "Open file" comes before its frame in the
            // template, and a frame stacked above it would take its clicks.
            widget->lower();
            break;
        case ControlKind::Label:
        {
            // Named before it has a text: a new text makes assistive technology ask for the
            // label's reading at once, and the banner's own is chosen by the label's name.
            auto* label = new QLabel(this);
            label->setObjectName(QString::fromLatin1(control.objectName));
            label->setText(caption);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case ControlKind::ComboBox:
        {
            auto* combo = control.id == IDC_PORT ? new CPortChoice(this) : new QComboBox(this);
            combo->setEditable(false);
            // A drop-down list has no menu of its own but takes the request for one; this way
            // the right button, the Menu key and Shift+F10 reach the window's menu.
            combo->setContextMenuPolicy(Qt::NoContextMenu);
            // The template gives the opened list's height; the closed box takes one row.
            const int closed = units.ToPixelsY(kClosedComboHeight);
            combo->setMaxVisibleItems(std::max(1, (place.height() - closed) / listItemHeight));
            place.setHeight(closed);
            widget = combo;
            break;
        }
        case ControlKind::PushButton:
        {
            auto* button = new QPushButton(caption, this);
            // No default button: Enter clicks only the focused button (keyPressEvent).
            button->setAutoDefault(false);
            widget = button;
            break;
        }
        case ControlKind::CheckBox:
            widget = new QCheckBox(caption, this);
            break;
        case ControlKind::Edit:
        {
            auto* input = new CInputField(this);
            input->SetText(caption);
            widget = input;
            break;
        }
        case ControlKind::StatusPane:
            // Named by what it shows; the table's name says what it is for.
            widget = new CStatusPane(caption, QString::fromLatin1(control.accessibleName), this);
            break;
        case ControlKind::ListBox:
            m_ctrlCommands = new CCommandListBox(this);
            widget = m_ctrlCommands;
            break;
        case ControlKind::ReceiveView:
            m_ctrlReceive = new CReceiveView(this);
            widget = m_ctrlReceive;
            break;
        }
        widget->setObjectName(QString::fromLatin1(control.objectName));
        if (control.kind != ControlKind::StatusPane)
            widget->setAccessibleName(QString::fromLatin1(control.accessibleName));
        widget->setGeometry(place);
        if (!control.visible)
            widget->hide();
        if (control.id != 0)
            m_items.insert(control.id, widget);
        created[i] = widget;
        m_controls.append(widget);
    }

    // Labels name the controls they stand beside, and the tab order is the template order.
    QWidget* previous = nullptr;
    for (std::size_t i = 0; i < kTerminalControls.size(); ++i)
    {
        QWidget* widget = created[i];
        if (kTerminalControls[i].buddyId != 0)
            As<QLabel>(widget)->setBuddy(GetDlgItem(kTerminalControls[i].buddyId));
        if (widget->focusPolicy() & Qt::TabFocus)
        {
            if (previous != nullptr)
                setTabOrder(previous, widget);
            previous = widget;
        }
    }
}

// No caption or choice is ever cut off: where this font needs a few pixels more than the
// template gives a label, check box or drop-down list, the control grows rightwards into the
// gap beside it. Runs once the choices are filled, since a list needs room for its longest.
void CTerminalDlg::FitContents()
{
    for (std::size_t i = 0; i < kTerminalControls.size(); ++i)
    {
        const ControlSpec& control = kTerminalControls[i];
        QWidget* widget = m_controls[static_cast<qsizetype>(i)];
        if (!control.visible)
            continue;
        int needed = 0;
        if (control.kind == ControlKind::Label || control.kind == ControlKind::CheckBox)
            needed = widget->minimumSizeHint().width();
        else if (control.kind == ControlKind::ComboBox)
            needed = widget->sizeHint().width();
        if (needed > widget->width())
            widget->resize(needed, widget->height());
    }
}

int CTerminalDlg::OnInitDialog()
{
    auto* port = As<QComboBox>(GetDlgItem(IDC_PORT));
    for (int n = 1; n <= kPortCount; ++n)
        port->addItem(QString::asprintf("COM%d", n));
    port->setCurrentIndex(0);

    auto* baud = As<QComboBox>(GetDlgItem(IDC_BAUDRATE));
    for (std::uint32_t rate : g_baudRates)
        baud->addItem(QString::asprintf("%d", static_cast<int>(rate)));
    baud->setCurrentIndex(kDefaultBaudIndex);

    auto* byteSize = As<QComboBox>(GetDlgItem(IDC_BYTESIZE));
    for (int size = kFirstByteSize; size < kFirstByteSize + kByteSizeCount; ++size)
        byteSize->addItem(QString::asprintf("%d", size));
    byteSize->setCurrentIndex(kDefaultByteSizeIndex);

    auto* stopBits = As<QComboBox>(GetDlgItem(IDC_STOPBITS));
    for (const char* name : g_stopBitsNames)
        stopBits->addItem(QString::fromLatin1(name));
    stopBits->setCurrentIndex(kDefaultStopBitsIndex);

    auto* parity = As<QComboBox>(GetDlgItem(IDC_PARITY));
    for (const char* name : g_parityNames)
        parity->addItem(QString::fromLatin1(name));
    parity->setCurrentIndex(kDefaultParityIndex);

    auto* flow = As<QComboBox>(GetDlgItem(IDC_FLOW));
    for (const char* name : g_flowNames)
        flow->addItem(QString::fromLatin1(name));
    flow->setCurrentIndex(kDefaultFlowIndex);

    As<QCheckBox>(GetDlgItem(IDC_DTR))->setChecked(true);
    As<QCheckBox>(GetDlgItem(IDC_RTS))->setChecked(true);

    GetDlgItem(IDC_OPEN_PORT)->setEnabled(true);
    GetDlgItem(IDC_CLOSE_PORT)->setEnabled(false);
    SetPortStatus(QStringLiteral("COM not open"));

    m_port.CreateLock();
    RefreshPortToolTips();
    As<CPortChoice>(GetDlgItem(IDC_PORT))->SetAboutToOpen([this] { RefreshPortToolTips(); });
    m_ctrlReceive->SetLog(&m_receiveLog);

    // The About entry of the context menu; added to the window too, so that Alt+A reaches it
    // wherever the focus is. No control's caption claims Alt+A as a mnemonic.
    m_aboutAction = new QAction(QString::fromUtf8(kAboutEntryText), this);
    m_aboutAction->setData(int{IDM_ABOUTBOX});
    m_aboutAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
    m_aboutAction->setShortcutContext(Qt::WindowShortcut);
    addAction(m_aboutAction);
    // One menu for the window's life: assistive technology keeps what it learnt of the entry
    // for the menu it first saw it in, so a menu made anew at each opening lists a dead entry.
    // A popup window, so not one of the window's controls.
    m_contextMenu = std::make_unique<QMenu>();
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(m_aboutAction);

    port->setFocus();
    return 1;
}

// The event table: each control notification bound to its handler. Choices notify only when
// the user changes them, since the defaults above are selected before anything is bound.
void CTerminalDlg::BindEvents()
{
    const auto clicked = [this](int id, void (CTerminalDlg::*handler)())
    { connect(As<QAbstractButton>(GetDlgItem(id)), &QAbstractButton::clicked, this, handler); };
    const auto selChange = [this](int id, auto handler)
    { connect(As<QComboBox>(GetDlgItem(id)), &QComboBox::currentIndexChanged, this, handler); };

    clicked(IDC_CLOSE_PORT, &CTerminalDlg::OnClosePort);
    clicked(IDC_OPEN_PORT, &CTerminalDlg::OnOpenPort);
    clicked(IDC_CLEAR, &CTerminalDlg::OnClearWindow);
    clicked(IDC_SEND, &CTerminalDlg::OnSendChars);
    connect(As<CInputField>(GetDlgItem(IDC_INPUT)), &CInputField::returnPressed, this,
            &CTerminalDlg::OnSendChars);
    clicked(IDC_OPEN_FILE, &CTerminalDlg::OnOpenFile);
    selChange(IDC_BAUDRATE, &CTerminalDlg::OnSelChangeBaudRate);
    selChange(IDC_PARITY, &CTerminalDlg::ApplyLineSettings);
    clicked(IDC_DTR, &CTerminalDlg::OnDtrRtsClicked);
    clicked(IDC_RTS, &CTerminalDlg::OnDtrRtsClicked);
    selChange(IDC_BYTESIZE, &CTerminalDlg::ApplyLineSettings);
    selChange(IDC_FLOW, &CTerminalDlg::ApplyLineSettings);
    selChange(IDC_STOPBITS, &CTerminalDlg::ApplyLineSettings);
    selChange(IDC_PORT, &CTerminalDlg::OnSelChangePort);
    connect(m_aboutAction, &QAction::triggered, this, &CTerminalDlg::OnAboutBox);
    // Handled inside the list's double-click, before the list's own handling of it.
    connect(m_ctrlCommands, &CCommandListBox::commandPicked, this, &CTerminalDlg::OnCommandPicked,
            Qt::DirectConnection);
}
