#include "terminal/TerminalDlg.h"

#include "commands/CommandListBox.h"
#include "res/Icons.h"
#include "serial/LineSettings.h"
#include "terminal/AboutDlg.h"
#include "terminal/Contrast.h"
#include "terminal/ControlCast.h"
#include "terminal/ControlIds.h"
#include "terminal/InputField.h"
#include "terminal/ReceiveView.h"
#include "terminal/StatusPane.h"
#include "terminal/TerminalLayout.h"
#include "text/CommandLine.h"
#include "text/HexCodec.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace
{
constexpr std::uint32_t kReadTimeoutMs = 50; // a read waits this long for a first byte
constexpr std::uint32_t kWriteTimeoutMs = 300;
constexpr int kPortChangePauseMs = 500;
constexpr int kLinkWatchMs = 250; // how often the port pane tells a send's progress

// Behind the banner when the window's own colour would swallow its blue: a light grey on which
// the banner reads as it does on a light desktop.
const QColor kBannerBacking(240, 240, 240);

} // namespace

CTerminalDlg::CTerminalDlg(SerialDeviceRoots roots, QWidget* parent)
    : QDialog(parent), m_port(std::move(roots)),
      m_sender(
          [this](const std::vector<std::uint8_t>& bytes, std::uint32_t* sent,
                 const CSerialPort::WriteProgress& progress)
          { return SendBytes(bytes, sent, progress); },
          [this]
          { QMetaObject::invokeMethod(this, &CTerminalDlg::ShowPortPane, Qt::QueuedConnection); })
{
    setWindowTitle(QString::fromLatin1(kTerminalTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(TerminalTemplateFont());
    setWindowIcon(VorlantiIcon());
    m_bannerFont = BannerFont();
    SetCommandFileChooser(nullptr);

    m_linkWatch.setInterval(kLinkWatchMs);
    connect(&m_linkWatch, &QTimer::timeout, this, &CTerminalDlg::WatchLink);

    CreateControls();
    connect(&m_pacer, &CReceivePacer::frameDue, m_ctrlReceive, &CReceiveView::Refresh);
    OnInitDialog();
    FitContents();
    BindEvents();
}

CTerminalDlg::~CTerminalDlg()
{
    // The loader uses the reader and posts to this window: it gives up within one read and ends.
    m_commandFile.Abandon();
    if (m_commandLoader.joinable())
        m_commandLoader.join();
    // The sender and the worker use the port, the log and this window: they end before any of
    // them goes. Closing wakes them both; the window has left the screen by its end, so the
    // close's short wait for queued output holds up nothing the user sees.
    m_sender.RequestStop();
    m_port.Close();
    m_sender.Join();
    StopWorker();
    // The view is a child widget and so outlives the members; it must not reach the log then.
    m_ctrlReceive->SetLog(nullptr);
}

QWidget* CTerminalDlg::GetDlgItem(int id) const
{
    return m_items.value(id, nullptr);
}

// While a close or a port change runs, the event loops it waits in take no clicks or keys, but
// assistive technologies press buttons and change choices through posted events and timers,
// which still come: the handlers below then do nothing, so one close or open runs at a time.
class CTerminalDlg::CPortWork
{
  public:
    explicit CPortWork(CTerminalDlg& dlg) : m_dlg(dlg)
    {
        if (m_dlg.m_portWork++ == 0)
            m_dlg.ShowPortButtons();
    }
    ~CPortWork()
    {
        if (--m_dlg.m_portWork == 0)
            m_dlg.ShowPortButtons();
    }
    CPortWork(const CPortWork&) = delete;
    CPortWork& operator=(const CPortWork&) = delete;

  private:
    CTerminalDlg& m_dlg;
};

void CTerminalDlg::OnOpenPort()
{
    if (m_portWork == 0)
        OpenPort();
}

void CTerminalDlg::OnClosePort()
{
    if (m_portWork == 0 && m_bPortOpen != 0)
        ClosePort();
}

void CTerminalDlg::OnSelChangePort()
{
    if (m_portWork > 0 || m_bPortOpen == 0)
        return;
    const CPortWork work(*this);
    ClosePort();
    PauseWithoutUserInput(kPortChangePauseMs);
    OpenPort();
}

void CTerminalDlg::OpenPort()
{
    const int n = As<QComboBox>(GetDlgItem(IDC_PORT))->currentIndex() + 1;
    // A worker or sender left from a failed close still uses the old device: they end before
    // the device is replaced, so that at most one of each ever runs.
    StopWorker();
    if (m_port.IsOpen())
    {
        const CPortWork work(*this);
        ClosePortAndSender();
    }
    if (m_port.Open(n))
    {
        // What the pane told of the last session (a short send, a refused press, output a
        // close discarded or may have lost) is over; a device gone or back is told anew by the
        // link watch, refused settings by the settings applied below.
        m_sender.ForgetLast();
        m_refusedSend = m_refusedWaiting = 0;
        m_discardedAtClose = 0;
        m_heldAtClose = 0;
        SetPortStatus(QString::asprintf("COM%d open success", n));
        ApplyLineSettings();
        m_port.SetTimeouts(kReadTimeoutMs, kWriteTimeoutMs);
        StartWorker();
    }
    else
    {
        SetPortStatus(QString::asprintf("COM%d open fail", n),
                      QString::fromStdString(m_port.GetLastOpenError()));
        m_bPortOpen = 0;
    }
    ShowPortButtons();
}

void CTerminalDlg::ClosePort()
{
    const CPortWork work(*this);
    if (ClosePortAndSender())
    {
        m_shownLinkState = LinkState::Closed;
        m_deviceBack = false;
        m_settingsNote.clear();
        SetPortStatus(QStringLiteral("COM close"));
        // Closing woke the worker's read; it ends within one pass.
        StopWorker();
    }
    else
    {
        SetPortStatus(QStringLiteral("COM close fail"));
    }
}

void CTerminalDlg::OnSelChangeBaudRate()
{
    const int index = As<QComboBox>(GetDlgItem(IDC_BAUDRATE))->currentIndex();
    As<QLabel>(GetDlgItem(IDC_STATUS_BAUD))
        ->setText(QString::asprintf(
            "%dbps", static_cast<int>(g_baudRates[static_cast<std::size_t>(index)])));
    ApplyLineSettings();
}

int CTerminalDlg::ApplyLineSettings()
{
    DCB dcb;
    if (!m_port.GetState(&dcb))
        return 0;
    FillLineSettings(&dcb);
    const int took = m_port.SetState(dcb);
    NoteRefusedSettings(dcb);
    return took;
}

// The controls keep what the user chose even when the device refuses it, so the pane says what
// the device runs instead and why, until a change it takes.
void CTerminalDlg::NoteRefusedSettings(const DCB& chosen)
{
    const QString why = QString::fromStdString(m_port.GetLastSettingsError());
    QString note;
    if (!why.isEmpty())
    {
        const int n = As<QComboBox>(GetDlgItem(IDC_PORT))->currentIndex() + 1;
        DCB inForce;
        const QString kept = m_port.GetState(&inForce)
                                 ? QString::fromStdString(SettingsThatDiffer(inForce, chosen))
                                 : QString();
        note = kept.isEmpty() ? QStringLiteral("COM%1 kept its settings: %2.").arg(n).arg(why)
                              : QStringLiteral("COM%1 kept %2: %3.").arg(n).arg(kept, why);
    }
    if (note == m_settingsNote)
        return;
    m_settingsNote = note;
    ShowPortPane();
}

void CTerminalDlg::OnDtrRtsClicked()
{
    ApplyLineSettings();
}

void CTerminalDlg::FillLineSettings(DCB* dcb)
{
    LineChoices choices;
    choices.baudIndex = As<QComboBox>(GetDlgItem(IDC_BAUDRATE))->currentIndex();
    choices.byteSizeIndex = As<QComboBox>(GetDlgItem(IDC_BYTESIZE))->currentIndex();
    choices.stopBitsIndex = As<QComboBox>(GetDlgItem(IDC_STOPBITS))->currentIndex();
    choices.parityIndex = As<QComboBox>(GetDlgItem(IDC_PARITY))->currentIndex();
    choices.flowIndex = As<QComboBox>(GetDlgItem(IDC_FLOW))->currentIndex();
    choices.dtrChecked = As<QCheckBox>(GetDlgItem(IDC_DTR))->isChecked();
    choices.rtsChecked = As<QCheckBox>(GetDlgItem(IDC_RTS))->isChecked();
    MapLineSettings(choices, dcb);
}

void CTerminalDlg::OnClearWindow()
{
    // The view draws from the log, so emptying the log under its lock empties what the view
    // shows in the same step; Refresh then resets its scrolling and selection.
    m_receiveLog.Clear();
    m_ctrlReceive->Refresh();
}

void CTerminalDlg::OnSendChars()
{
    if (m_portWork > 0)
        return;
    if (m_bPortOpen == 0)
    {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("Not open port"), QMessageBox::Ok, this);
        box.exec();
        return;
    }
    // One byte a character, shared with the field rather than copied; the sender decodes it.
    const QByteArray text = As<CInputField>(GetDlgItem(IDC_INPUT))->Bytes();
    if (text.isEmpty())
        return;
    const std::uint64_t count = (static_cast<std::uint64_t>(text.size()) + 1) / 2;
    const bool queued = m_sender.Queue(
        count, [text](const std::atomic<bool>& stop)
        { return DecodeHexText(text.constData(), static_cast<std::uint32_t>(text.size()), stop); });
    m_refusedSend = queued ? 0 : count;
    m_refusedWaiting = queued ? 0 : m_sender.State().waiting;
    ShowPortPane();
    if (queued)
        m_linkWatch.start();
}

int CTerminalDlg::WriteBytes(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t* sent,
                             const CSerialPort::WriteProgress& progress)
{
    if (sent != nullptr)
        *sent = 0;
    if (bytes == nullptr || count == 0)
        return 0;
    std::uint32_t written = 0;
    const int took = m_port.Write(bytes, count, &written, progress) ? 1 : 0;
    if (sent != nullptr)
        *sent = written;
    return took;
}

// The sender's write of one press, and why it fell short if it did.
SendEnd CTerminalDlg::SendBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t* sent,
                                const CSerialPort::WriteProgress& progress)
{
    const auto count = static_cast<std::uint32_t>(bytes.size());
    if (!WriteBytes(bytes.data(), count, sent, progress))
        return m_port.GetLinkState() == LinkState::DeviceGone ? SendEnd::DeviceGone
                                                              : SendEnd::Failed;
    return *sent < count ? SendEnd::TimedOut : SendEnd::Complete;
}

// Closes the port and ends the sender. The close may give queued output up to kCloseDrainLimit,
// so it runs beside; a send it cuts short says itself how much went out, so what the close
// discarded is told apart only when no send was in progress.
int CTerminalDlg::ClosePortAndSender()
{
    const bool sending = m_sender.State().busy;
    m_sender.RequestStop();
    int closed = 0;
    RunBesideWithoutUserInput([&] { closed = m_port.Close(); });
    m_sender.Join();
    m_discardedAtClose = sending ? 0 : m_port.GetDiscardedAtClose();
    m_heldAtClose = m_port.GetHeldByTransmitterAtClose();
    return closed;
}

int CTerminalDlg::OnReceive(const std::uint8_t* bytes, std::uint32_t count)
{
    if (bytes == nullptr || count == 0)
        return 0;
    m_receiveLog.AppendBytes(bytes, count);
    m_pacer.OnReceived(count);
    return 1;
}

void CTerminalDlg::OnOpenFile()
{
    if (m_commandLoader.joinable())
        return;
    const QString path = m_chooseCommandFile();
    if (path.isEmpty())
        return;
    // Disabled under the focus, the button passes it on to the next control; it takes it back at
    // the end unless the focus has gone anywhere else in the window meanwhile.
    QWidget* openFile = GetDlgItem(IDC_OPEN_FILE);
    const bool hadFocus = focusWidget() == openFile;
    openFile->setEnabled(false);
    if (hadFocus && focusWidget() != nullptr)
    {
        m_focusParkedOn = focusWidget();
        connect(qApp, &QApplication::focusChanged, &m_focusWatch,
                [this](QWidget*, QWidget* now)
                {
                    if (now != nullptr && now->window() == this && now != m_focusParkedOn)
                        m_focusParkedOn.clear();
                });
    }
    m_loadingPath = path;
    m_commandLoader = std::thread(
        [this, name = QFile::encodeName(path)]
        {
            const int loaded = m_commandFile.Load(name.constData());
            QMetaObject::invokeMethod(this, "OnCommandFileLoaded", Qt::QueuedConnection,
                                      Q_ARG(int, loaded));
        });
}

void CTerminalDlg::OnCommandFileLoaded(int loaded)
{
    // The loader posted this as its last act, so the join does not wait.
    m_commandLoader.join();
    const QString path = std::exchange(m_loadingPath, QString());
    // A file that cannot be opened adds nothing, quietly. One that could not be read whole, or
    // is over the size cap, says why: a list left as it was must not pass for a file without
    // commands.
    QString reason;
    if (!loaded)
        reason = QString::fromLocal8Bit(m_commandFile.GetReadError());
    else if (!m_ctrlCommands->AddCommands(m_commandFile.TakeLines()))
        reason = QStringLiteral("The command list cannot hold any more commands");
    QWidget* openFile = GetDlgItem(IDC_OPEN_FILE);
    openFile->setEnabled(true);
    QObject::disconnect(qApp, nullptr, &m_focusWatch, nullptr);
    if (m_focusParkedOn != nullptr && focusWidget() == m_focusParkedOn)
        openFile->setFocus(Qt::OtherFocusReason);
    m_focusParkedOn.clear();
    if (reason.isEmpty())
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Open file"),
                    QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason, QMessageBox::Ok,
                    this);
    box.setInformativeText(QStringLiteral("No commands were added."));
    box.exec();
}

void CTerminalDlg::SetCommandFileChooser(FileChooser chooser)
{
    if (!chooser)
        chooser = [this] { return ChooseCommandFile(); };
    m_chooseCommandFile = std::move(chooser);
}

QString CTerminalDlg::ChooseCommandFile()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // "*" rather than "*.*": here a name needs no dot, and "All Files" must show them all.
    dialog.setNameFilters({QStringLiteral("Txt Files (*.txt)"), QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("TXT"));
    dialog.selectFile(QStringLiteral("*.TXT"));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

void CTerminalDlg::OnCommandPicked(const QByteArray& text)
{
    if (text.isNull())
        return;
    // The text ends at its first NUL; of that, only the part without the comment and the outer
    // spaces is copied, once, and goes into the Input as it is: one character a byte.
    const std::string_view kept =
        CleanCommand(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    As<CInputField>(GetDlgItem(IDC_INPUT))
        ->SetBytes(QByteArray(kept.data(), static_cast<qsizetype>(kept.size())));
}

void CTerminalDlg::OnAboutBox()
{
    CAboutDlg about(this);
    about.exec();
}

// Qt has filled the background before this and paints the controls after it, so the banner
// lies under everything else, as if drawn before the window's own painting.
void CTerminalDlg::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    const auto* label = As<QLabel>(GetDlgItem(IDC_BANNER));
    const QRect rect = label->geometry();
    const QColor blue = QColor::fromRgb(kBannerRgb);
    QPainter painter(this);
    if (Contrast(blue, palette().color(QPalette::Window)) < kReadableContrast)
        painter.fillRect(rect, kBannerBacking);
    painter.setFont(m_bannerFont);
    painter.setPen(blue);
    // One line, cut at the rectangle's edges: drawText clips to it unless told otherwise.
    painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, label->text());
}

void CTerminalDlg::contextMenuEvent(QContextMenuEvent* event)
{
    m_contextMenu->exec(event->globalPos());
}

void CTerminalDlg::keyPressEvent(QKeyEvent* event)
{
    // Shift+F10 does what the Menu key does: the focused control's context menu, or, where it
    // has none, the window's.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)
    {
        QWidget* target = focusWidget() != nullptr ? focusWidget() : this;
        const QPoint centre = target->rect().center();
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, centre,
                                    target->mapToGlobal(centre));
        QCoreApplication::sendEvent(target, &menuEvent);
        event->accept();
        return;
    }

    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
    {
        // The Input field has already sent (returnPressed); nothing else ends the window.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled())
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CTerminalDlg::StartWorker()
{
    m_bPortOpen = 1;
    m_worker = std::thread(&CTerminalDlg::ReceiveWorkerProc, this);
    m_shownLinkState = LinkState::Connected;
    m_deviceBack = false;
}

void CTerminalDlg::StopWorker()
{
    m_linkWatch.stop();
    m_bPortOpen = 0;
    if (m_worker.joinable())
        m_worker.join();
}

// An unplugged device leaves the port open (the port object waits for it to come back), so the
// pane's text stays; its tooltip tells the user that the device is gone and, later, that it is
// back. The worker asks for this look when its reads start or stop failing, which is when the
// device goes and comes back; while a send is in progress the link watch also looks every
// kLinkWatchMs to keep its progress in the tooltip up to date. An idle port wakes nobody here.
void CTerminalDlg::WatchLink()
{
    const LinkState state = m_port.GetLinkState();
    if (state != m_shownLinkState)
    {
        m_linkDevice = QString::fromStdString(m_port.GetDevicePath());
        m_deviceBack = m_shownLinkState == LinkState::DeviceGone && state == LinkState::Connected;
        m_shownLinkState = state;
    }
    ShowPortPane();
    if (!m_sender.State().busy)
        m_linkWatch.stop();
}

// One pass reads what is queued and appends it; the pacer says how long to rest before the next
// (terminal/ReceivePacer.h) and posts the view's refresh. Reads that start or stop failing
// (the device went or came back) ask the window to look at the link.
void CTerminalDlg::ReceiveWorkerProc()
{
    std::vector<std::uint8_t> buffer(CReceivePacer::kReadBlock);
    bool lastRead = true;
    while (m_bPortOpen != 0)
    {
        std::uint32_t count = 0;
        const bool read = m_port.Read(buffer.data(), CReceivePacer::kReadBlock, &count) != 0;
        if (read && count > 0)
            m_receiveLog.AppendBytes(buffer.data(), count);
        if (read != lastRead)
            QMetaObject::invokeMethod(this, &CTerminalDlg::WatchLink, Qt::QueuedConnection);
        lastRead = read;
        std::this_thread::sleep_for(m_pacer.AfterRead(count, read));
    }
}

// "Open port" and "Close port" take turns, each disabled by its own click, and while a close or a
// port change runs neither is enabled, nor is "Send chars". Left to Qt, the focus would go on
// from a disabled button to the next control, "Clear window", where the user's next Enter or
// Space would empty the receive log. The port button that is enabled takes it instead; while
// none is, the focus waits on no control and then comes back to the button it left ("Send
// chars", or the enabled port button), unless it has been put elsewhere meanwhile.
void CTerminalDlg::ShowPortButtons()
{
    QWidget* const open = GetDlgItem(IDC_OPEN_PORT);
    QWidget* const close = GetDlgItem(IDC_CLOSE_PORT);
    QWidget* const send = GetDlgItem(IDC_SEND);
    QWidget* const focus = focusWidget();
    if (m_portWork > 0)
    {
        if (focus == open || focus == close || focus == send)
        {
            m_focusWaits = focus == send ? FocusWaits::ForSend : FocusWaits::ForPortButton;
            focus->clearFocus();
        }
        for (QWidget* button : {open, close, send})
            button->setEnabled(false);
        return;
    }
    QWidget* const enable = m_bPortOpen != 0 ? close : open;
    QWidget* const disable = enable == open ? close : open;
    enable->setEnabled(true);
    send->setEnabled(true);
    if (focus == disable || (m_focusWaits != FocusWaits::No && focus == nullptr))
        (m_focusWaits == FocusWaits::ForSend ? send : enable)->setFocus(Qt::OtherFocusReason);
    m_focusWaits = FocusWaits::No;
    disable->setEnabled(false);
}

void CTerminalDlg::SetPortStatus(const QString& text, const QString& openError)
{
    m_portText = text;
    m_openError = openError;
    ShowPortPane();
}

// The port pane's text and tooltip, both from the state, and only ever set here.
void CTerminalDlg::ShowPortPane()
{
    const QLocale english(QLocale::English);
    const auto count = [&](std::uint64_t n) { return english.toString(qulonglong(n)); };
    QStringList notes;
    if (!m_openError.isEmpty())
        notes << m_openError;
    if (m_shownLinkState == LinkState::DeviceGone)
        notes << QStringLiteral("The device %1 is gone; reading resumes by itself when it is back.")
                     .arg(m_linkDevice);
    else if (m_deviceBack)
        notes << QStringLiteral("The device %1 is back.").arg(m_linkDevice);
    if (!m_settingsNote.isEmpty())
        notes << m_settingsNote;
    const SendState send = m_sender.State();
    if (send.busy)
        notes << QStringLiteral("Sending: %1 of %2 bytes sent so far.")
                     .arg(count(send.sent), count(send.asked));
    if (send.last && send.last->end != SendEnd::Complete)
    {
        const QString only = QStringLiteral("Only %1 of %2 bytes were sent")
                                 .arg(count(send.last->sent), count(send.last->asked));
        switch (send.last->end)
        {
        case SendEnd::TimedOut:
            notes << only + QStringLiteral(": the device did not take the rest in time.");
            break;
        case SendEnd::Closed:
            notes << only + QStringLiteral(": the port was closed.");
            break;
        case SendEnd::DeviceGone:
            notes << only + QStringLiteral(" before the device went away.");
            break;
        case SendEnd::Failed:
            notes << only + QStringLiteral(": the port refused the rest.");
            break;
        case SendEnd::Complete:
            break;
        }
    }
    if (m_refusedSend > 0)
        notes << QStringLiteral("A send of %1 bytes was refused: %2 bytes are already waiting, "
                                "and at most %3 may wait.")
                     .arg(count(m_refusedSend), count(m_refusedWaiting), count(kSendQueueLimit));
    if (m_discardedAtClose > 0)
        notes << QStringLiteral("Closing the port discarded %1 bytes that had not left yet.")
                     .arg(count(m_discardedAtClose));
    if (m_heldAtClose > 0)
        notes << QStringLiteral("Up to %1 of the bytes counted as sent were still in the port's "
                                "own transmit buffer when it closed, and may not have left.")
                     .arg(count(m_heldAtClose));

    auto* pane = As<CStatusPane>(GetDlgItem(IDC_STATUS_PORT));
    const QString toolTip = notes.join(QLatin1Char('\n'));
    if (pane->text() != m_portText)
        pane->setText(m_portText);
    if (pane->toolTip() != toolTip)
        pane->setToolTip(toolTip);
}

void CTerminalDlg::RefreshPortToolTips()
{
    auto* port = As<QComboBox>(GetDlgItem(IDC_PORT));
    for (int i = 0; i < port->count(); ++i)
    {
        const int n = i + 1;
        const std::string path = m_port.DescribePort(n);
        const QString device = QString::fromStdString(path);
        QString tip = device.isEmpty() ? QString::asprintf("No device is COM%d right now", n)
                                       : QString::asprintf("COM%d is ", n) + device;
        // A COMn link made by an administrator says little by itself; name what it points to.
        const QString target = QFileInfo(device).canonicalFilePath();
        if (!device.isEmpty() && !target.isEmpty() && target != device)
            tip += QStringLiteral(" (") + target + QLatin1Char(')');
        // Opening the console raw at another rate garbles the kernel's messages and any login
        // on it, so say so before the user opens it.
        if (m_port.IsSystemConsole(path))
            tip += QStringLiteral(", the system console");
        port->setItemData(i, tip, Qt::ToolTipRole);
    }
}

// The pause of a port change. Painting and timers go on, but clicks and keys wait until it
// is over; presses that come otherwise find the port handlers shut (CPortWork), so nothing
// runs between the close and the reopen.
void CTerminalDlg::PauseWithoutUserInput(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// Work that may take longer than a frame, run on a thread of its own. The event loop goes on
// painting and running timers meanwhile, but clicks and keys wait until the work is done, so no
// click or key starts another handler in the middle of the one that asked for it.
void CTerminalDlg::RunBesideWithoutUserInput(const std::function<void()>& work)
{
    QEventLoop loop;
    std::thread beside(
        [&]
        {
            work();
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    beside.join();
}
