// CTerminalDlg: the terminal window, the program's one window. It owns the receive view, the
// command list, the serial port object, the command file reader and the receive log, lays out
// its 32 controls from the template (terminal/TerminalLayout.h), binds their notifications to
// the handlers below in one event table (BindEvents; the set-up is in TerminalDlgSetup.cpp),
// and runs the receive worker. It paints the banner (the hidden IDC_BANNER label's text, blue,
// in that label's rectangle), which assistive technology reads there as a label showing that
// text, and offers the About box from its context menu and from Alt+A.
//
// Port states: Closed ("Open port" enabled, "Close port" disabled, no worker) and Open (the
// other way round, one worker). While a close or a port change runs, both port buttons and
// "Send chars" are disabled, and their handlers and a port change do nothing, whoever asks: one
// close or open runs at a time. The status pane IDC_STATUS_PORT tells which, IDC_STATUS_BAUD the
// chosen baud rate; failures show only there, except "Send chars" on a closed port, which shows
// the "Not open port" message box. The port pane's tooltip is composed in one place
// (ShowPortPane) from the state, so no event hides another: why an open failed, the device gone
// (first, while it is) or back, settings the device refused (what it runs instead, and why), a
// send in progress and how far it has got, how the last send ended when it fell short (a
// complete send clears that), a press refused because too much is waiting, and output a close
// had to discard or may have lost. A successful open starts afresh: the notes of the port's last
// session (short sends, refused presses, discarded or lost output) go.
//
// Threads (the README's "Threads" table lists every thread of the program): every handler runs
// on the user-interface thread. The receive worker (one at most) reads the port and appends to
// the receive log under the log's lock; the pacer (terminal/ReceivePacer.h) says how long it
// rests between reads and when the view is refreshed, which is never while no data comes. The
// worker never waits for the user-interface thread. So the user-interface thread can, and does,
// join the old worker before it reopens the port and before the window's members are destroyed.
// A command file is read and split by the command loader thread (one at most) into
// m_commandFile; the loader posts its result as its last act and never waits for the
// user-interface thread, which then joins it and takes the lines. The window's end abandons a
// load in progress and joins. What runs off the user-interface thread, all else on it:
//   - the receive worker: ReceiveWorkerProc, with m_port.Read, m_receiveLog.AppendBytes,
//     m_pacer.AfterRead and, when reads start or stop failing, a posted WatchLink;
//   - the sender's thread: the decode of each press (DecodeHexText, text/HexCodec.h),
//     SendBytes and WriteBytes with m_port.Write, and the posted ShowPortPane when a send ends;
//   - the command loader: m_commandFile.Load, then the posted OnCommandFileLoaded;
//   - a close beside the window (RunBesideWithoutUserInput): m_port.Close;
//   - any thread: OnReceive, IsPortOpen, SendingState.
//
// Sending: "Send chars" hands the Input's text to the sender (terminal/Sender.h, one thread at
// most), which decodes it and writes it beside the receive worker; the handler returns at once,
// and presses made meanwhile go out after it, in order. Closing the port (button, port change,
// the window's end) stops the sender: the close wakes its write, gives queued output up to
// kCloseDrainLimit to leave, and runs beside the user-interface thread, which goes on painting
// but takes no clicks or keys until it is done; the sender is joined before the port reopens
// and before anything it uses is destroyed.
//
// Commands: "Open file" appends every line of the chosen file to the command list, in one step
// once the file is read; until then the button is disabled and the window goes on as usual, and
// the focus it had then comes back to it unless the user has moved the focus meanwhile. A
// file that cannot be opened adds nothing, one that cannot be read whole (or is over the
// reader's size cap, or would pass the list's row limit) adds nothing and says why in a message
// box. A double-clicked command goes into the Input field without its comment and outer spaces,
// whatever its length and whether or not the port is open; nothing is sent until "Send chars".
// The Input (CInputField) holds 8-bit text, one byte a character, so a picked line goes in and
// "Send chars" decodes it byte for byte; its Bytes() share the field's buffer, so handing them
// on copies nothing.
//
// Keys: Enter in the Input field sends like "Send chars"; a focused push button takes Enter as
// its click; Enter anywhere else does nothing. Escape and the close box end the window at once.
// Alt+A opens the About box; Shift+F10 acts like the Menu key (the focused control's context
// menu, or the window's where it has none: every control but the Input field and the receive
// view). Pressing "Open port" or "Close port" hands the focus to the other button, which its
// own click enabled, never on to "Clear window".
#pragma once

#include "commands/CommandFile.h"
#include "serial/CommTypes.h"
#include "serial/SerialPort.h"
#include "terminal/ReceiveLog.h"
#include "terminal/ReceivePacer.h"
#include "terminal/Sender.h"

#include <QDialog>
#include <QFont>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QAction;
class QMenu;
class CCommandListBox;
class CReceiveView;

class CTerminalDlg : public QDialog
{
    Q_OBJECT

  public:
    // `roots` tells the serial port object where to find devices; tests point it at a
    // temporary tree.
    explicit CTerminalDlg(SerialDeviceRoots roots = SerialDeviceRoots(), QWidget* parent = nullptr);
    ~CTerminalDlg() override;

    // The control with the given IDC_ id, or nullptr.
    QWidget* GetDlgItem(int id) const;

    // Handlers of the event table.
    void OnOpenPort();
    void OnClosePort();
    void OnSelChangePort();
    void OnSelChangeBaudRate();
    int ApplyLineSettings();
    void OnDtrRtsClicked();
    void OnClearWindow();
    void OnSendChars();
    void OnOpenFile();
    void OnCommandPicked(const QByteArray& text);
    void OnAboutBox();

    // Names the command file "Open file" loads; an empty name means the user cancelled. The
    // default, also restored by an empty chooser, asks with the open-file dialog; tests put
    // their own in its place.
    using FileChooser = std::function<QString()>;
    void SetCommandFileChooser(FileChooser chooser);

    // Writes the current choices of the line-settings controls into `dcb`.
    void FillLineSettings(DCB* dcb);
    // One write of `count` bytes to the port; 1 when the port took it (a write stopped short at
    // its bound too), else 0. *sent, when given, gets the bytes that left on the line; progress
    // hears how many the port has taken so far. Runs on the sender's thread.
    int WriteBytes(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t* sent = nullptr,
                   const CSerialPort::WriteProgress& progress = {});
    // Adds a block of received bytes to the log and asks for the view to be refreshed, as the
    // receive worker does with what it reads. Returns 1 when given bytes, 0 for none. Safe from
    // any thread.
    int OnReceive(const std::uint8_t* bytes, std::uint32_t count);

    bool IsPortOpen() const { return m_bPortOpen.load() != 0; }
    bool IsWorkerRunning() const { return m_worker.joinable(); }
    SendState SendingState() const { return m_sender.State(); }
    const CReceiveLog& ReceiveLog() const { return m_receiveLog; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void CreateControls();
    int OnInitDialog();
    void FitContents();
    void BindEvents();
    QString ChooseCommandFile();

    // Queued by name from the loader thread, so that Qt copies the argument into its own event:
    // a functor built by the thread would be handed over through Qt's event-queue lock, which
    // ThreadSanitizer cannot see, and be reported as a race.
    Q_INVOKABLE void OnCommandFileLoaded(int loaded);

    void StartWorker();
    void StopWorker();
    void ReceiveWorkerProc();
    void WatchLink();
    SendEnd SendBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t* sent,
                      const CSerialPort::WriteProgress& progress);
    int ClosePortAndSender();

    void NoteRefusedSettings(const DCB& chosen);
    class CPortWork;
    void OpenPort();
    void ClosePort();
    void ShowPortButtons();
    void SetPortStatus(const QString& text, const QString& openError = QString());
    void ShowPortPane();
    void RefreshPortToolTips();
    void PauseWithoutUserInput(int milliseconds);
    void RunBesideWithoutUserInput(const std::function<void()>& work);

    CReceiveView* m_ctrlReceive = nullptr;     // IDC_RECEIVE, a child widget
    CCommandListBox* m_ctrlCommands = nullptr; // IDC_COMMANDS, a child widget
    CSerialPort m_port;
    std::atomic<int> m_bPortOpen{0}; // set while the port is open and the worker is to run
    CSender m_sender;                // writes to m_port, so it is declared after it
    CCommandFile m_commandFile;
    CReceiveLog m_receiveLog;

    QHash<int, QWidget*> m_items; // every control with an id, by id
    QList<QWidget*> m_controls;   // every control, in template order
    std::thread m_worker;
    std::thread m_commandLoader; // while "Open file" reads m_commandFile
    QString m_loadingPath;
    CReceivePacer m_pacer; // when the worker reads and the view is refreshed
    QTimer m_linkWatch;    // while a send is in progress: shows its progress
    LinkState m_shownLinkState = LinkState::Closed;

    int m_portWork = 0; // a close or a port change is running (CPortWork)
    // Where the focus goes back to once the port buttons are enabled again (ShowPortButtons).
    enum class FocusWaits
    {
        No,
        ForPortButton,
        ForSend,
    };
    FocusWaits m_focusWaits = FocusWaits::No;

    // What the port pane tells (ShowPortPane).
    QString m_portText;
    QString m_openError;                // why the last open failed, until the next status
    QString m_linkDevice;               // the open port's device, for the gone and back notes
    bool m_deviceBack = false;          // the device came back since the port was opened
    QString m_settingsNote;             // what the device runs instead of the settings chosen
    std::uint64_t m_refusedSend = 0;    // bytes of a press refused since the last accepted one
    std::uint64_t m_refusedWaiting = 0; // bytes waiting when it was refused
    std::uint32_t m_discardedAtClose = 0;
    std::uint32_t m_heldAtClose = 0; // at most this much of what was counted as sent was lost

    FileChooser m_chooseCommandFile;
    // While a file loads: where the focus went from "Open file", forgotten when it moves on.
    QPointer<QWidget> m_focusParkedOn;
    QObject m_focusWatch; // the watch's context: it ends with the members, before the controls

    QAction* m_aboutAction = nullptr;     // the context menu's About entry, owned by the window
    std::unique_ptr<QMenu> m_contextMenu; // the window's menu
    QFont m_bannerFont;
};
