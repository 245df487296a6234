// "Send chars" under load: how long the user-interface thread goes without running while a long
// send waits for the line, and whether the receiver keeps up meanwhile. The real window
// (offscreen) with a pseudo-terminal as COM1; a forked child plays a device that reads and
// streams at a steady pace, so it runs beside the window whatever the window does.
//
//   (a) 1 MiB to a device that never reads: the lateness of a 5 ms timer on the user-interface
//       thread (median, p99, max) over --stall-seconds; how long "Close port", pressed a second
//       before that, takes from the press to done; and, with another 1 MiB queued, how long
//       from the close box to the window being gone. The device hangs up after --stall-seconds,
//       so that a window that waits for the line gets it back.
//   (b) --send-kib KiB to a device that reads them at 11,520 B/s while it streams as many bytes
//       back at 11,520 B/s: the timer's lateness, the most bytes the device could not write when
//       they were due (on a real line without flow control those are lost), and whether the
//       receive log holds every byte streamed, in order, and the device every byte sent.
//
// Flags: --stall-seconds=5 --send-kib=512 --only=ab
#include "EventLoop.h"
#include "ProcessMeter.h"
#include "PtyDevice.h"
#include "terminal/ControlIds.h"
#include "terminal/TerminalDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#if __has_include("terminal/InputField.h")
#include "terminal/InputField.h"
#include "terminal/accessible/AccessibleFactory.h"
#else
#include <QLineEdit> // the Input field of the builds before the field of our own
#endif
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
struct Options
{
    int stallSeconds = 5;
    int sendKiB = 512;
    std::string only = "ab";
};
Options g_options;

constexpr double kLineRate = 11520; // bytes per second, a 115200-baud line

// A pseudo-terminal whose device end this program holds and can hang up from any thread.
class Line
{
  public:
    Line()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128];
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0 &&
            ::ptsname_r(m_master, name, sizeof name) == 0)
            m_slave = name;
    }
    ~Line() { HangUp(); }
    bool Valid() const { return !m_slave.empty(); }
    int Master() const { return m_master; }
    const std::string& Slave() const { return m_slave; }
    void HangUp()
    {
        const int fd = m_master.exchange(-1);
        if (fd >= 0)
            ::close(fd);
    }
    // Hangs up after `seconds`, on a thread of its own: the window may be stuck in a write.
    void HangUpAfter(int seconds)
    {
        m_timer = std::thread(
            [this, seconds]
            {
                ::poll(nullptr, 0, seconds * 1000);
                HangUp();
            });
    }
    void JoinTimer()
    {
        if (m_timer.joinable())
            m_timer.join();
    }

  private:
    std::atomic<int> m_master{-1};
    std::string m_slave;
    std::thread m_timer;
};

// How late each tick of a 5 ms timer on the user-interface thread comes.
class LatenessMeter
{
  public:
    LatenessMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this]
                         {
                             const std::int64_t now = NowNs();
                             m_ms.push_back(std::max<std::int64_t>(0, now - m_due) / 1e6);
                             m_due = now + kIntervalNs;
                         });
        m_ms.reserve(1 << 20);
    }
    void Start()
    {
        m_ms.clear();
        m_due = NowNs() + kIntervalNs;
        m_timer.start(int(kIntervalNs / 1000000));
    }
    void Stop() { m_timer.stop(); }
    std::string Summary()
    {
        if (m_ms.empty())
            return "no ticks";
        std::vector<double> sorted = m_ms;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double q)
        { return sorted[std::min(sorted.size() - 1, std::size_t(q * sorted.size()))]; };
        char text[160];
        std::snprintf(text, sizeof text,
                      "timer lateness median %.2f ms, p99 %.2f ms, max %.1f ms (targets p99 < 20, "
                      "max < 50; %zu ticks)",
                      at(0.5), at(0.99), sorted.back(), sorted.size());
        return text;
    }

  private:
    static constexpr std::int64_t kIntervalNs = 5000000;
    QTimer m_timer;
    std::int64_t m_due = 0;
    std::vector<double> m_ms;
};

std::unique_ptr<CTerminalDlg> OpenWindow(const CDeviceTree& tree)
{
    auto dlg = std::make_unique<CTerminalDlg>(tree.Roots());
    dlg->show();
    WaitFor([&] { return dlg->isVisible(); });
    static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_OPEN_PORT))->click();
    return dlg->IsPortOpen() ? std::move(dlg) : nullptr;
}

// Puts a long text into the Input and lets the window lay it out and paint it once, which is the
// Input field's own cost, before anything is measured.
void SetInput(CTerminalDlg& dlg, const QString& text)
{
#if __has_include("terminal/InputField.h")
    qobject_cast<CInputField*>(dlg.GetDlgItem(IDC_INPUT))->SetText(text);
#else
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_INPUT))->setText(text);
#endif
    RunFor(500);
}

void Click(CTerminalDlg& dlg, int id)
{
    static_cast<QAbstractButton*>(dlg.GetDlgItem(id))->click();
}

// A shown window with COM1 open on a fresh pseudo-terminal whose device end this program
// holds, and `input` in the Input field.
struct OpenLine
{
    CDeviceTree tree;
    Line line;
    std::unique_ptr<CTerminalDlg> dlg;

    explicit OpenLine(const QString& input)
    {
        if (line.Valid() && tree.Link(1, line.Slave()))
            dlg = OpenWindow(tree);
        if (dlg)
            SetInput(*dlg, input);
    }

    // Once the event loop runs: presses "Send chars", noting when, and has the device hang up
    // --stall-seconds later.
    void SendFromTheLoop(std::int64_t* pressedNs)
    {
        QTimer::singleShot(0,
                           [this, pressedNs]
                           {
                               line.HangUpAfter(g_options.stallSeconds);
                               *pressedNs = NowNs();
                               Click(*dlg, IDC_SEND);
                           });
    }
};

void StalledDevice()
{
    const int stallMs = g_options.stallSeconds * 1000;
    const QString input = QString::fromStdString(HexOf(SeededBytes(1 << 20, 21)));
    {
        OpenLine w(input);
        if (!w.dlg)
            return;
        LatenessMeter lateness;
        std::int64_t sentNs = 0, closedNs = 0;
        const int closeAtMs = stallMs - 1000;
        w.SendFromTheLoop(&sentNs);
        QTimer::singleShot(closeAtMs, Qt::PreciseTimer,
                           [&]
                           {
                               Click(*w.dlg, IDC_CLOSE_PORT);
                               closedNs = NowNs();
                           });
        lateness.Start();
        RunUntil([&] { return closedNs != 0; }, stallMs * 20);
        RunFor(std::max(0, int((sentNs - NowNs()) / 1000000) + stallMs + 500));
        lateness.Stop();
        w.line.JoinTimer();
        std::printf("(a) 1 MiB to a device that never reads, over %d s: %s; \"Close port\" "
                    "pressed during the send took %.1f ms from the press to done\n",
                    g_options.stallSeconds, lateness.Summary().c_str(),
                    (closedNs - sentNs) / 1e6 - closeAtMs);
    }
    {
        OpenLine w(input);
        if (!w.dlg)
            return;
        std::int64_t sentNs = 0, goneNs = 0;
        w.SendFromTheLoop(&sentNs);
        QTimer::singleShot(1000, Qt::PreciseTimer,
                           [&]
                           {
                               w.dlg->close(); // the close box
                               w.dlg.reset();
                               goneNs = NowNs();
                           });
        RunUntil([&] { return goneNs != 0; }, stallMs * 20);
        w.line.JoinTimer();
        std::printf("(a) the close box pressed 1 s into a 1 MiB send to a device that never "
                    "reads: the window was gone %.1f ms after the press (target < 1000)\n",
                    (goneNs - sentNs) / 1e6 - 1000);
    }
}

// What the device child reports, in memory shared with it. The child uses system calls only
// (it is forked from a threaded process).
struct DeviceReport
{
    std::atomic<int> done{0};
    std::int64_t read = 0;       // bytes of the send it read
    std::int64_t wrong = 0;      // of those, bytes that differ from what was sent
    std::int64_t written = 0;    // bytes of its stream it wrote
    std::int64_t mostBehind = 0; // the most bytes of its stream that were due but not written
};

void PacedDevice()
{
    const std::size_t sendBytes = std::size_t(g_options.sendKiB) << 10;
    const std::vector<std::uint8_t> sent = SeededBytes(sendBytes, 31);
    const std::vector<std::uint8_t> stream = SeededBytes(sendBytes, 32);
    OpenLine w(QString::fromStdString(HexOf(sent)));
    if (!w.dlg)
        return;
    CTerminalDlg& dlg = *w.dlg;
    void* shared = mmap(nullptr, sizeof(DeviceReport), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED)
        return;
    auto* report = new (shared) DeviceReport;
    const double seconds = sendBytes / kLineRate;
    const pid_t child = fork();
    if (child == 0)
    {
        const int fd = w.line.Master();
        const std::int64_t start = NowNs();
        const std::int64_t limit = start + std::int64_t((seconds * 3 + 30) * 1e9);
        std::uint8_t buffer[4096];
        while ((std::size_t(report->read) < sendBytes ||
                std::size_t(report->written) < stream.size()) &&
               NowNs() < limit)
        {
            const auto due = std::int64_t((NowNs() - start) / 1e9 * kLineRate);
            const std::int64_t readDue = std::min<std::int64_t>(due, std::int64_t(sendBytes));
            if (readDue > report->read)
            {
                const ssize_t n = ::read(
                    fd, buffer, std::min<std::size_t>(sizeof buffer, readDue - report->read));
                for (ssize_t i = 0; i < n; ++i)
                    report->wrong += buffer[i] != sent[report->read + i];
                if (n > 0)
                    report->read += n;
            }
            const std::int64_t writeDue = std::min<std::int64_t>(due, std::int64_t(stream.size()));
            if (writeDue > report->written)
            {
                const ssize_t n =
                    ::write(fd, stream.data() + report->written, writeDue - report->written);
                if (n > 0)
                    report->written += n;
            }
            report->mostBehind = std::max(report->mostBehind, writeDue - report->written);
            ::poll(nullptr, 0, 1);
        }
        report->done = 1;
        _exit(0);
    }
    LatenessMeter lateness;
    lateness.Start();
    QTimer::singleShot(0, [&] { Click(dlg, IDC_SEND); });
    RunUntil([&] { return report->done && dlg.ReceiveLog().Length() >= 2 * int(report->written); },
             int((seconds * 3 + 60) * 1000));
    lateness.Stop();
    waitpid(child, nullptr, 0);
    const std::size_t written = std::size_t(report->written);
    const bool logWhole =
        dlg.ReceiveLog().Copy(0, dlg.ReceiveLog().Length()) ==
        HexOf(std::vector<std::uint8_t>(stream.begin(), stream.begin() + written));
    std::printf("(b) %zu KiB sent to a device reading at %.0f B/s while it streams %zu KiB back "
                "at the same pace: %s; the device was at most %lld bytes behind its stream "
                "(bytes a real line would lose; target 0 beyond its buffers), wrote %zu of %zu; "
                "the log %s; the device read %lld of %zu bytes sent, %lld wrong\n",
                sendBytes >> 10, kLineRate, stream.size() >> 10, lateness.Summary().c_str(),
                static_cast<long long>(report->mostBehind), written, stream.size(),
                logWhole ? "holds every byte streamed, in order" : "DOES NOT MATCH the stream",
                static_cast<long long>(report->read), sendBytes,
                static_cast<long long>(report->wrong));
    munmap(shared, sizeof(DeviceReport));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int i = 1; i < argc; ++i)
    {
        std::string v;
        if (TakeFlag(argv[i], "--stall-seconds", &v))
            g_options.stallSeconds = std::max(2, std::stoi(v));
        else if (TakeFlag(argv[i], "--send-kib", &v))
            g_options.sendKiB = std::max(1, std::stoi(v));
        else if (TakeFlag(argv[i], "--only", &v))
            g_options.only = v;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    InstallAccessibleFactory();
    if (g_options.only.find('a') != std::string::npos)
        StalledDevice();
    if (g_options.only.find('b') != std::string::npos)
        PacedDevice();
    std::fflush(stdout);
    return 0;
}
