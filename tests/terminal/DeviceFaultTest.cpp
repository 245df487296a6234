// The terminal window when the device misbehaves: it goes away and comes back while the port
// is open, it stops taking output, or the port's name leads to something that is no terminal.
#include "WindowUnderLoad.h"
#include "terminal/InputField.h"

#include <QEventLoop>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs the event loop, idle, for the given time.
void IdleFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

class DeviceFaults : public WindowUnderLoad
{
  protected:
    bool ToolTipSays(const char* word, int timeoutMs = 10000)
    {
        return WaitFor([&]
                       { return PortToolTip().contains(QLatin1String(word), Qt::CaseInsensitive); },
                       timeoutMs);
    }

    // Streams for a while from the current COM1 device, then unplugs it mid-stream.
    void StreamThenUnplug()
    {
        CStreamFeeder feeder(*m_com1, SeededBytes(64 * 1024, 5), /*repeat=*/true);
        ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceiveLog().Length() > 16384; }));
        feeder.Stop();
        m_com1.reset();
    }
};

TEST_F(DeviceFaults, UnplugAndReplugWhileOpenResumesReadingWithTheSameSettings)
{
    Choice(IDC_BAUDRATE)->setCurrentText("9600");
    Choice(IDC_STOPBITS)->setCurrentText("2");
    Open();
    const int withDevice = OpenDescriptors();
    StreamThenUnplug();
    // The device's end is gone, and so, without anybody's help, is the window's descriptor of
    // the dead device: its number and its lock are free for the next device.
    EXPECT_TRUE(WaitFor([&] { return OpenDescriptors() == withDevice - 2; }))
        << OpenDescriptors() << " descriptors open, " << withDevice << " before the unplug";
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM1 open success");
    EXPECT_TRUE(m_dlg->GetDlgItem(IDC_CLOSE_PORT)->isEnabled());
    EXPECT_TRUE(m_dlg->IsWorkerRunning());
    EXPECT_TRUE(ToolTipSays("gone")) << PortToolTip().toStdString();

    // Waiting for the device costs next to nothing.
    const double cpu = ProcessCpuSeconds();
    const auto start = Clock::now();
    IdleFor(1000);
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.3 * SecondsSince(start))
        << "a core spins while the device is away";

    // Back under the same name, and reading resumes with no user action.
    m_com1 = std::make_unique<CPtyDevice>();
    ASSERT_TRUE(m_com1->IsValid());
    ASSERT_TRUE(m_tree.Link(1, m_com1->SlavePath()));
    // Until the window has the new device open and raw, the kernel would echo what it sends.
    ASSERT_TRUE(WaitFor([&] { return OpenDescriptors() == withDevice; }));
    ASSERT_TRUE(m_com1->Send(Bytes{0xC0, 0xDE}));
    EXPECT_TRUE(WaitFor([&] { return LogEndsWith("C0DE"); }));
    PtyLineSettings line;
    ASSERT_TRUE(m_com1->LineSettings(&line));
    EXPECT_EQ(line.speed, 9600u);
    EXPECT_TRUE(line.twoStopBits);
    EXPECT_TRUE(line.raw);
    EXPECT_TRUE(ToolTipSays("COM1 is back.")) << PortToolTip().toStdString();
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM1 open success");
    EXPECT_EQ(OpenDescriptors(), withDevice);

    Item<CInputField>(IDC_INPUT)->SetText("A5");
    Click(IDC_SEND);
    EXPECT_EQ(m_com1->Receive(1, 5000), Bytes{0xA5});
}

TEST_F(DeviceFaults, LineSettingsChosenWhileTheDeviceIsAwayReachItWhenItIsBack)
{
    Open();
    const int withDevice = OpenDescriptors();
    StreamThenUnplug();
    ASSERT_TRUE(WaitFor([&] { return OpenDescriptors() == withDevice - 2; }));
    Choice(IDC_BAUDRATE)->setCurrentText("4800");
    Choice(IDC_FLOW)->setCurrentText("Hardware");
    EXPECT_EQ(Pane(IDC_STATUS_BAUD), "4800bps");

    m_com1 = std::make_unique<CPtyDevice>();
    ASSERT_TRUE(m_tree.Link(1, m_com1->SlavePath()));
    ASSERT_TRUE(WaitFor([&] { return OpenDescriptors() == withDevice; }));
    PtyLineSettings line;
    EXPECT_TRUE(
        WaitFor([&] { return m_com1->LineSettings(&line) && line.speed == 4800 && line.rtsCts; }))
        << "the device runs at " << line.speed << " baud, RTS/CTS " << line.rtsCts;
}

TEST_F(DeviceFaults, ClosePortWorksWhileTheDeviceIsAway)
{
    const int closed = OpenDescriptors();
    const int threads = Threads();
    Open();
    const int withDevice = OpenDescriptors();
    StreamThenUnplug();
    // Both ends of the dead device are gone; the port object keeps only its wake-up descriptor.
    ASSERT_TRUE(WaitFor([&] { return OpenDescriptors() == withDevice - 2; }));
    ASSERT_TRUE(ToolTipSays("gone"));
    Click(IDC_CLOSE_PORT);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM close");
    EXPECT_TRUE(m_dlg->GetDlgItem(IDC_OPEN_PORT)->isEnabled());
    EXPECT_FALSE(m_dlg->IsWorkerRunning());
    EXPECT_EQ(OpenDescriptors(), closed - 1); // the unplugged device's end
    EXPECT_EQ(Threads(), threads);

    m_com1 = std::make_unique<CPtyDevice>();
    ASSERT_TRUE(m_tree.Link(1, m_com1->SlavePath()));
    Open();
    ASSERT_TRUE(m_com1->Send(Bytes{0x5A}));
    EXPECT_TRUE(WaitFor([&] { return LogEndsWith("5A"); }));
}

TEST_F(DeviceFaults, PressesToAStalledDeviceQueueInOrderAndTellHowMuchWentOut)
{
    Open();
    // Two presses of the longest input the field once took; the device never reads, so the
    // line soon stays full and both stop at their write bound.
    const Bytes first(16383, 0x5A), second(16383, 0xA5);
    for (const Bytes* press : {&first, &second})
    {
        Item<CInputField>(IDC_INPUT)->SetText(QString::fromStdString(HexOf(*press)));
        Click(IDC_SEND);
    }
    EXPECT_EQ(m_dlg->SendingState().asked, 2u * 16383) << "the second press waits its turn";
    ASSERT_TRUE(ToolTipSays("the device did not take the rest in time"))
        << PortToolTip().toStdString();
    const SendOutcome outcome = *m_dlg->SendingState().last;
    EXPECT_EQ(outcome.end, SendEnd::TimedOut);
    EXPECT_GT(outcome.sent, 0u);
    EXPECT_LT(outcome.sent, 2u * 16383) << "the device took everything: nothing stalled";
    EXPECT_TRUE(PortToolTip().contains(
        QStringLiteral("Only %1 of 32,766 bytes were sent")
            .arg(QLocale(QLocale::English).toString(qulonglong(outcome.sent)))))
        << PortToolTip().toStdString();
    // What was counted as sent is what the device got: the first press, then the second.
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    both.resize(outcome.sent);
    EXPECT_EQ(m_com1->Drain(200), both);

    // The window goes on: timers fire, received data shows, a complete send clears the note,
    // and the port closes at once.
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    EXPECT_TRUE(WaitFor([&] { return fired; }));
    ASSERT_TRUE(m_com1->Send(Bytes{0x77}));
    EXPECT_TRUE(WaitFor([&] { return LogEndsWith("77"); }));
    Item<CInputField>(IDC_INPUT)->SetText("C3");
    Click(IDC_SEND);
    EXPECT_EQ(m_com1->Receive(1, 5000), Bytes{0xC3});
    EXPECT_TRUE(WaitFor([&] { return !PortToolTip().contains(QLatin1String("Only")); }))
        << PortToolTip().toStdString();
    Click(IDC_CLOSE_PORT);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM close");
}

TEST_F(DeviceFaults, ALongSendToAStalledDeviceHoldsUpNeitherTheWindowNorTheReceiver)
{
    const int threads = Threads();
    Open();
    const Bytes data = SeededBytes(512 * 1024, 12); // 1 MiB of hex in the Input
    Item<CInputField>(IDC_INPUT)->SetText(QString::fromStdString(HexOf(data)));
    Click(IDC_SEND);
    EXPECT_TRUE(ToolTipSays(" of 524,288 bytes sent so far")) << PortToolTip().toStdString();

    // While the send waits for the line, every other handler runs, and every byte the device
    // sends reaches the log in order.
    Click(IDC_CLEAR);
    EXPECT_EQ(m_dlg->ReceiveLog().Length(), 0);
    Choice(IDC_BAUDRATE)->setCurrentText("9600");
    EXPECT_EQ(Pane(IDC_STATUS_BAUD), "9600bps");
    PtyLineSettings line;
    ASSERT_TRUE(m_com1->LineSettings(&line));
    EXPECT_EQ(line.speed, 9600u);
    const Bytes stream = SeededBytes(256 * 1024, 13);
    {
        CStreamFeeder feeder(*m_com1, stream, /*repeat=*/false);
        ASSERT_TRUE(WaitFor([&] { return feeder.Done(); }, 30000));
    }
    const std::string expected = HexOf(stream);
    EXPECT_TRUE(WaitFor([&] { return LogText().size() >= expected.size(); }));
    EXPECT_EQ(LogText(), expected);
    EXPECT_TRUE(m_dlg->SendingState().busy);

    // "Close port" ends the send and the sender, and says how much went out.
    Click(IDC_CLOSE_PORT);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM close");
    const SendState closed = m_dlg->SendingState();
    EXPECT_FALSE(closed.busy);
    ASSERT_TRUE(closed.last);
    EXPECT_EQ(closed.last->end, SendEnd::Closed);
    EXPECT_TRUE(PortToolTip().contains(
        QStringLiteral("Only %1 of 524,288 bytes were sent: the port was closed.")
            .arg(QLocale(QLocale::English).toString(qulonglong(closed.last->sent)))))
        << PortToolTip().toStdString();
    EXPECT_EQ(m_com1->Drain(200), Bytes(data.begin(), data.begin() + closed.last->sent));
    EXPECT_EQ(Threads(), threads);

    // Ending the window during a send ends it too. The next session starts without the note.
    Open();
    EXPECT_FALSE(PortToolTip().contains(QLatin1String("Only"))) << PortToolTip().toStdString();
    Click(IDC_SEND);
    ASSERT_TRUE(WaitFor([&] { return m_dlg->SendingState().sent > 0; }));
    m_dlg->close();
    m_dlg.reset();
    EXPECT_EQ(Threads(), threads);
    EXPECT_TRUE(CSerialPort(m_tree.Roots()).Open(1));
}

// A close waits for the output the device has not taken. Presses that assistive technology
// posts meanwhile come while it waits, and none of them starts a second close.
TEST_F(DeviceFaults, PressesPostedWhileACloseWaitsStartNoSecondClose)
{
    Open();
    Item<CInputField>(IDC_INPUT)->SetText(QString(QStringLiteral("3C")).repeated(65536));
    Click(IDC_SEND);
    ASSERT_TRUE(WaitFor([&] { return m_dlg->SendingState().sent > 0; }));
    bool posted = false;
    QTimer::singleShot(0, m_dlg.get(),
                       [&]
                       {
                           posted = true;
                           m_dlg->OnClosePort();
                           m_dlg->OnOpenPort();
                           m_dlg->OnSendChars();
                           Choice(IDC_PORT)->setCurrentIndex(1);
                           // The first close is still going, alone.
                           EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM1 open success");
                           for (int id : {IDC_OPEN_PORT, IDC_CLOSE_PORT, IDC_SEND})
                               EXPECT_FALSE(m_dlg->GetDlgItem(id)->isEnabled()) << id;
                       });
    m_dlg->GetDlgItem(IDC_CLOSE_PORT)->setFocus();
    Click(IDC_CLOSE_PORT);
    EXPECT_TRUE(posted);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM close");
    EXPECT_FALSE(m_dlg->IsPortOpen());
    EXPECT_FALSE(m_dlg->IsWorkerRunning());
    EXPECT_TRUE(m_dlg->GetDlgItem(IDC_OPEN_PORT)->isEnabled());
    EXPECT_FALSE(m_dlg->GetDlgItem(IDC_CLOSE_PORT)->isEnabled());
    EXPECT_TRUE(m_dlg->GetDlgItem(IDC_SEND)->isEnabled());
    EXPECT_EQ(m_dlg->focusWidget(), m_dlg->GetDlgItem(IDC_OPEN_PORT));
    EXPECT_FALSE(PortToolTip().contains(QLatin1String("refused"))) << PortToolTip().toStdString();
    EXPECT_TRUE(CSerialPort(m_tree.Roots()).Open(1));
}

TEST_F(DeviceFaults, ASendCutByAnUnplugSaysHowMuchWentOutAndTheDeviceGoneStays)
{
    Open();
    Item<CInputField>(IDC_INPUT)->SetText(QString(QStringLiteral("3C")).repeated(65536));
    Click(IDC_SEND);
    ASSERT_TRUE(WaitFor([&] { return m_dlg->SendingState().sent > 0; }));
    m_com1.reset();
    EXPECT_TRUE(ToolTipSays("gone")) << PortToolTip().toStdString();
    EXPECT_TRUE(ToolTipSays(" of 65,536 bytes were sent before the device went away."))
        << PortToolTip().toStdString();

    m_com1 = std::make_unique<CPtyDevice>();
    ASSERT_TRUE(m_tree.Link(1, m_com1->SlavePath()));
    ASSERT_TRUE(WaitFor([&] { return !ToolTipSays("gone", 0) && ToolTipSays("is back.", 0); }));
    Item<CInputField>(IDC_INPUT)->SetText("A5");
    Click(IDC_SEND);
    EXPECT_EQ(m_com1->Receive(1, 5000), Bytes{0xA5});
    EXPECT_TRUE(WaitFor([&] { return !PortToolTip().contains(QLatin1String("Only")); }))
        << PortToolTip().toStdString();
    EXPECT_TRUE(PortToolTip().contains(QLatin1String("is back.")));
}

TEST_F(DeviceFaults, ANameThatIsNoTerminalFailsToOpenAndIsLeftAlone)
{
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString();
    const std::string file = base + "/file", fifo = base + "/fifo", empty = base + "/dir";
    std::ofstream(file) << "keep";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(empty.c_str(), 0700), 0);
    struct stat fileBefore
    {
    };
    ASSERT_EQ(::stat(file.c_str(), &fileBefore), 0);

    Choice(IDC_PORT)->setCurrentIndex(1); // COM2
    const int fds = OpenDescriptors();
    for (const std::string& target : {file, fifo, empty, base + "/dangling"})
    {
        SCOPED_TRACE(target);
        ASSERT_TRUE(m_tree.Link(2, target));
        Click(IDC_OPEN_PORT);
        EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM2 open fail");
        EXPECT_FALSE(PortToolTip().isEmpty());
        EXPECT_TRUE(m_dlg->GetDlgItem(IDC_OPEN_PORT)->isEnabled());
        EXPECT_FALSE(m_dlg->IsWorkerRunning());
        EXPECT_EQ(OpenDescriptors(), fds);
    }
    // Untouched: the file keeps its bytes and times, nobody is left reading the FIFO (a
    // writer that does not wait finds no reader), the directory stays empty.
    struct stat fileAfter
    {
    };
    ASSERT_EQ(::stat(file.c_str(), &fileAfter), 0);
    const auto same = [](const timespec& a, const timespec& b)
    { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
    EXPECT_TRUE(same(fileAfter.st_mtim, fileBefore.st_mtim));
    EXPECT_TRUE(same(fileAfter.st_atim, fileBefore.st_atim));
    std::ostringstream content;
    content << std::ifstream(file).rdbuf();
    EXPECT_EQ(content.str(), "keep");
    errno = 0;
    EXPECT_EQ(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_TRUE(QDir(QString::fromStdString(empty)).isEmpty());
}
} // namespace
