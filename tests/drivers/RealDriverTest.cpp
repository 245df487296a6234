// The port object and the window on the kernel's own serial drivers: the 8250 driver on an
// emulated 16550A UART (/dev/ttyS1) and the ftdi_sio driver on an emulated FTDI USB adapter
// (/dev/ttyUSB*), in the guest that tests/drivers/run-in-guest boots, with the host playing the
// devices. What a pseudo-terminal cannot show is tested here: data bits, parity and stop bits
// the driver keeps or refuses, modem lines, an output queue that fills, a real unplug, and
// another adapter taking an unplugged one's node. Outside that guest every test skips.
#include "HostPlayer.h"
#include "PtyDevice.h"
#include "serial/LineSettings.h"
#include "serial/posix/TermiosMapping.h"
#include "terminal/ControlIds.h"
#include "terminal/InputField.h"
#include "terminal/TerminalDlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
using Bytes = std::vector<std::uint8_t>;

struct Driver
{
    const char* name;   // in the test's name: Uart8250 or FtdiUsb
    const char* device; // the host's name for it
    const char* node;   // the guest's device node
    bool usb;           // can be unplugged, and is plugged in by the host for each test
};
constexpr Driver kUart{"Uart8250", "uart", "/dev/ttyS1", false};
constexpr Driver kFtdi{"FtdiUsb", "A", "/dev/ttyUSB0", true};

// The user the tests try the port as where root would get past its exclusive mode.
constexpr uid_t kNobody = 65534;

CHostPlayer& Host()
{
    static CHostPlayer host;
    return host;
}

bool Exists(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0;
}

// This process's own descriptor on the device node, the port's, or -1.
int HeldBy(const char* node)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    {
        std::error_code gone;
        if (std::filesystem::read_symlink(entry.path(), gone) == node)
            return std::stoi(entry.path().filename().string());
    }
    return -1;
}

// A look at the device as its driver holds it, through the port's own descriptor where this
// process has one: any open of a tty raises its DTR and RTS lines, so a descriptor of our own
// would change the very lines it reads. Elsewhere root opens one, past the exclusive mode.
class Peek
{
  public:
    explicit Peek(const char* node) : m_fd(HeldBy(node)), m_own(m_fd < 0)
    {
        if (m_own)
            m_fd = ::open(node, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~Peek()
    {
        if (m_own && m_fd >= 0)
            ::close(m_fd);
    }
    Peek(const Peek&) = delete;
    Peek& operator=(const Peek&) = delete;

    bool Termios(termios2* t) const { return m_fd >= 0 && ::ioctl(m_fd, TCGETS2, t) == 0; }
    int ModemBits() const
    {
        int bits = 0;
        return m_fd >= 0 && ::ioctl(m_fd, TIOCMGET, &bits) == 0 ? bits : -1;
    }

  private:
    int m_fd;
    bool m_own;
};

// Whether no program holds the device: its flock is free, and this process has no descriptor
// on it.
bool Free(const char* node)
{
    const int fd = ::open(node, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        ::close(fd);
    return free && HeldBy(node) < 0;
}

// The line settings the driver holds, as a record (the lines as given, since termios has none).
DCB DriverSettings(const char* node, const DCB& lines)
{
    termios2 t{};
    EXPECT_TRUE(Peek(node).Termios(&t)) << node;
    DCB dcb = lines;
    DcbFromTermios(
        t, {lines.fDtrControl == DTR_CONTROL_ENABLE, lines.fRtsControl == RTS_CONTROL_ENABLE},
        &dcb);
    return dcb;
}

// Runs `child` in a process of its own as an unprivileged user, with its standard error going
// to a pipe; returns its exit status and what it wrote.
int AsNobody(const std::function<int()>& child, std::string* said)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        ::dup2(out[1], STDERR_FILENO);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(126);
        ::_exit(child());
    }
    ::close(out[1]);
    char buffer[512];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
        said->append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class OnRealDriver
{
  protected:
    explicit OnRealDriver(const Driver& driver) : m_driver(driver) {}

    void Start()
    {
        if (!Host().IsThere())
            GTEST_SKIP() << "runs only in the guest that tests/drivers/run-in-guest boots "
                            "(ctest -L drivers)";
        if (m_driver.usb)
        {
            ASSERT_TRUE(Host().Plug(m_driver.device));
            ASSERT_TRUE(WaitFor([&] { return Exists(m_driver.node); }))
                << m_driver.node << " did not appear";
        }
        ASSERT_TRUE(Host().Reset(m_driver.device));
        // Open to all, for the tests that try the port as another user.
        ASSERT_EQ(::chmod(m_driver.node, 0666), 0);
        const SerialDeviceRoots roots = m_tree.Roots();
        ASSERT_EQ(::chmod(std::filesystem::path(roots.dev).parent_path().c_str(), 0755), 0);
        ASSERT_TRUE(m_tree.Link(1, m_driver.node));
        // The real sysfs, where USB adapters are told apart.
        ASSERT_EQ(::rmdir(roots.sysClassTty.c_str()), 0);
        ASSERT_EQ(::symlink("/sys/class/tty", roots.sysClassTty.c_str()), 0);
    }

    // Every adapter out again, so that the next test's adapter A is ttyUSB0.
    void Stop()
    {
        m_dlg.reset();
        if (!Host().IsThere() || !m_driver.usb)
            return;
        EXPECT_TRUE(Host().Unplug("A"));
        EXPECT_TRUE(Host().Unplug("B"));
        EXPECT_TRUE(WaitFor([] { return !Exists("/dev/ttyUSB0") && !Exists("/dev/ttyUSB1"); }));
    }

    void MakeWindow()
    {
        m_dlg = std::make_unique<CTerminalDlg>(m_tree.Roots());
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    template <class T> T* Item(int id) { return qobject_cast<T*>(m_dlg->GetDlgItem(id)); }
    QComboBox* Choice(int id) { return Item<QComboBox>(id); }
    QString PortToolTip() { return Item<QLabel>(IDC_STATUS_PORT)->toolTip(); }
    bool ToolTipSays(const QString& words, int timeoutMs = 10000)
    {
        return WaitFor([&] { return PortToolTip().contains(words); }, timeoutMs);
    }
    void Click(int id) { QTest::mouseClick(m_dlg->GetDlgItem(id), Qt::LeftButton); }
    void Open()
    {
        Click(IDC_OPEN_PORT);
        ASSERT_EQ(Item<QLabel>(IDC_STATUS_PORT)->text(), "COM1 open success");
    }
    std::string LogText() { return m_dlg->ReceiveLog().Copy(0, m_dlg->ReceiveLog().Length()); }
    bool LogEndsWith(const std::string& hex)
    {
        const std::string log = LogText();
        return log.size() >= hex.size() &&
               log.compare(log.size() - hex.size(), hex.size(), hex) == 0;
    }
    void SendFromWindow(const Bytes& bytes)
    {
        Item<CInputField>(IDC_INPUT)->SetText(QString::fromStdString(HexOf(bytes)));
        Click(IDC_SEND);
    }
    bool SendEnded() { return !m_dlg->SendingState().busy && m_dlg->SendingState().last; }
    SendOutcome LastSend() { return m_dlg->SendingState().last.value_or(SendOutcome{}); }
    // The host has read exactly `bytes`, nothing before and nothing after them.
    void HostGotExactly(const Bytes& bytes)
    {
        const HostReceived got = Host().Received(m_driver.device, bytes.size(), 20000);
        ASSERT_TRUE(got.answered);
        EXPECT_EQ(got.count, bytes.size());
        EXPECT_EQ(got.crc, Crc32(bytes.data(), bytes.size()));
    }

    const Driver m_driver;
    CDeviceTree m_tree;
    std::unique_ptr<CTerminalDlg> m_dlg;
};

// On each driver.
class RealDriver : public OnRealDriver, public ::testing::TestWithParam<Driver>
{
  protected:
    RealDriver() : OnRealDriver(GetParam()) {}
    void SetUp() override { Start(); }
    void TearDown() override { Stop(); }
};

// On one driver, for what only it can show.
template <const Driver& kDriver> class OnOne : public OnRealDriver, public ::testing::Test
{
  protected:
    OnOne() : OnRealDriver(kDriver) {}
    void SetUp() override { Start(); }
    void TearDown() override { Stop(); }
};
using Uart8250 = OnOne<kUart>;
using FtdiUsb = OnOne<kFtdi>;

TEST_P(RealDriver, EveryRowOfTheSettingsTablesIsKeptOrRefusedAsTheDriverSays)
{
    CSerialPort port(m_tree.Roots());
    ASSERT_TRUE(port.Open(1));
    struct Row
    {
        std::string name;
        LineChoices choices;
    };
    std::vector<Row> rows;
    for (int i = 0; i < static_cast<int>(g_baudRates.size()); ++i)
        rows.push_back({std::to_string(g_baudRates[i]) + " baud", {.baudIndex = i}});
    for (int i = 0; i < kByteSizeCount; ++i)
        rows.push_back({std::to_string(kFirstByteSize + i) + " data bits", {.byteSizeIndex = i}});
    rows.push_back({"1 stop bit", {.stopBitsIndex = 0}});
    rows.push_back({"1.5 stop bits, 5 data bits", {.byteSizeIndex = 0, .stopBitsIndex = 1}});
    rows.push_back({"2 stop bits", {.stopBitsIndex = 2}});
    for (int i = 0; i < static_cast<int>(g_parityNames.size()); ++i)
        rows.push_back({std::string(g_parityNames[i]) + " parity", {.parityIndex = i}});
    for (int i = 0; i < static_cast<int>(g_flowNames.size()); ++i)
        rows.push_back({std::string(g_flowNames[i]) + " flow", {.flowIndex = i}});

    std::string table;
    std::vector<std::string> refused;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        DCB before;
        ASSERT_TRUE(port.GetState(&before));
        const DCB driverBefore = DriverSettings(m_driver.node, before);
        DCB want = before;
        MapLineSettings(row.choices, &want);
        const bool kept = port.SetState(want) != 0;
        DCB now;
        ASSERT_TRUE(port.GetState(&now));
        const DCB driverNow = DriverSettings(m_driver.node, want);
        // What the port reports is what the driver holds, taken or not.
        EXPECT_EQ(SettingsThatDiffer(now, driverNow), "");
        if (kept)
        {
            EXPECT_EQ(SettingsThatDiffer(driverNow, want), "");
            EXPECT_EQ(port.GetLastSettingsError(), "");
        }
        else
        {
            // A refused record leaves the device as it was, and the port says why.
            EXPECT_EQ(SettingsThatDiffer(driverNow, driverBefore), "");
            EXPECT_NE(port.GetLastSettingsError(), "");
            refused.push_back(row.name);
        }
        table += "  " + row.name + ": " +
                 (kept ? std::string("kept") : "refused, " + port.GetLastSettingsError()) + "\n";
    }
    std::cout << m_driver.name << " (" << m_driver.node << "), each row on top of 115200 8N1:\n"
              << table;
    // The drivers' own rules, as the note on them measured: ftdi_sio keeps its previous byte
    // size when asked for 6 data bits, the 8250 takes every row.
    EXPECT_EQ(refused,
              m_driver.usb ? std::vector<std::string>{"6 data bits"} : std::vector<std::string>{});
}

TEST_P(RealDriver, ARefusedSettingIsToldAndTheChoiceStaysUntilOneIsTaken)
{
    MakeWindow();
    Open();
    // Refused by the ftdi_sio driver, and on the UART by the rule that 1.5 stop bits need 5
    // data bits: either way the device keeps what it had and the pane says so.
    const bool usb = m_driver.usb;
    const int refusedId = usb ? IDC_BYTESIZE : IDC_STOPBITS;
    const char* refusedChoice = usb ? "6" : "1.5";
    Choice(refusedId)->setCurrentText(refusedChoice);
    EXPECT_TRUE(ToolTipSays(usb ? "COM1 kept 8 data bits: the device cannot do 6 data bits."
                                : "COM1 kept 1 stop bit: 1.5 stop bits need 5 data bits."))
        << PortToolTip().toStdString();
    EXPECT_EQ(Choice(refusedId)->currentText(), refusedChoice);
    termios2 t{};
    ASSERT_TRUE(Peek(m_driver.node).Termios(&t));
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB), tcflag_t{CS8});

    // The next change the device takes clears the note.
    const int takenId = usb ? IDC_BYTESIZE : IDC_STOPBITS;
    Choice(takenId)->setCurrentText(usb ? "7" : "2");
    EXPECT_TRUE(WaitFor([&] { return !PortToolTip().contains("kept"); }))
        << PortToolTip().toStdString();
    ASSERT_TRUE(Peek(m_driver.node).Termios(&t));
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB), usb ? tcflag_t{CS7} : tcflag_t{CS8 | CSTOPB});
}

TEST_P(RealDriver, TheDtrAndRtsBoxesDriveTheModemLines)
{
    MakeWindow();
    const auto lines = [&] { return Peek(m_driver.node).ModemBits() & (TIOCM_DTR | TIOCM_RTS); };
    Open();
    EXPECT_EQ(lines(), TIOCM_DTR | TIOCM_RTS);
    Click(IDC_DTR);
    EXPECT_EQ(lines(), TIOCM_RTS);
    Click(IDC_RTS);
    EXPECT_EQ(lines(), 0);
    Click(IDC_DTR);
    EXPECT_EQ(lines(), TIOCM_DTR);
    // Another setting applies the whole record; the lines stay as the boxes say.
    Choice(IDC_BAUDRATE)->setCurrentText("9600");
    EXPECT_EQ(lines(), TIOCM_DTR);
    if (!m_driver.usb)
        return;
    // An adapter plugged in again starts with both lines up; the port puts them back.
    ASSERT_TRUE(Host().Unplug(m_driver.device));
    ASSERT_TRUE(ToolTipSays("gone"));
    ASSERT_TRUE(Host().Plug(m_driver.device));
    ASSERT_TRUE(ToolTipSays("/dev/COM1 is back."));
    EXPECT_EQ(lines(), TIOCM_DTR);
    termios2 t{};
    ASSERT_TRUE(Peek(m_driver.node).Termios(&t));
    EXPECT_EQ(BaudRateOf(t), 9600u);
}

TEST_P(RealDriver, ASecondInstanceAndAnotherProgramAreRefusedWhileTheHolderReads)
{
    const SerialDeviceRoots roots = m_tree.Roots();
    CSerialPort holder(roots);
    ASSERT_TRUE(holder.Open(1));
    ASSERT_TRUE(holder.SetTimeouts(50, 300));
    DCB dcb;
    ASSERT_TRUE(holder.GetState(&dcb));
    MapLineSettings({}, &dcb);
    ASSERT_TRUE(holder.SetState(dcb));

    std::string said;
    EXPECT_EQ(AsNobody(
                  [&]
                  {
                      CSerialPort second(roots);
                      if (second.Open(1))
                          return 1;
                      const std::string why = second.GetLastOpenError();
                      return ::write(STDERR_FILENO, why.data(), why.size()) < 0 ? 2 : 0;
                  },
                  &said),
              0)
        << said;
    EXPECT_NE(said.find("in use by another program"), std::string::npos) << said;

    said.clear();
    const char* node = m_driver.node;
    EXPECT_NE(AsNobody(
                  [node]
                  {
                      ::execl("/bin/cat", "cat", node, static_cast<char*>(nullptr));
                      return 127;
                  },
                  &said),
              0);
    EXPECT_NE(said.find("Device or resource busy"), std::string::npos) << said;

    const Bytes sent = Pattern(4, 4096);
    ASSERT_TRUE(Host().Send(m_driver.device, sent.size(), 4));
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.size() < sent.size() && std::chrono::steady_clock::now() < deadline)
    {
        std::uint8_t buffer[4096];
        std::uint32_t n = 0;
        ASSERT_TRUE(holder.Read(buffer, sizeof buffer, &n));
        got.insert(got.end(), buffer, buffer + n);
    }
    EXPECT_EQ(got, sent);
}

// The host stops reading the UART, so its output queue fills, as behind a device that holds
// the line with flow control or stops reading.
TEST_F(Uart8250, AStalledLineHoldsUpNeitherTheWindowNorTheReceiverAndLeavesNoTailBehind)
{
    MakeWindow();
    Open();
    ASSERT_TRUE(Host().Pause(m_driver.device));
    const Bytes first = Pattern(11, 64 * 1024);
    SendFromWindow(first);
    // While the send waits for the line, the window answers and the receive worker reads.
    ASSERT_TRUE(WaitFor([&] { return m_dlg->SendingState().sent > 0; }));
    const Bytes incoming = Pattern(12, 16 * 1024);
    ASSERT_TRUE(Host().Send(m_driver.device, incoming.size(), 12));
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    sinceTick.start();
    ticker.start(10);
    EXPECT_TRUE(WaitFor([&] { return LogText() == HexOf(incoming); }, 30000));
    EXPECT_TRUE(m_dlg->SendingState().busy) << "the send ended before the stream was in";
    ASSERT_TRUE(WaitFor([&] { return SendEnded(); }, 30000));
    ticker.stop();
    EXPECT_LT(longestGap, 250) << "the window stopped answering for " << longestGap << " ms";

    // The write bound passed: what had left is counted, the rest of the queue is gone.
    const SendOutcome timedOut = LastSend();
    EXPECT_EQ(timedOut.end, SendEnd::TimedOut);
    EXPECT_GT(timedOut.sent, 0u);
    EXPECT_LT(timedOut.sent, first.size());
    EXPECT_TRUE(
        ToolTipSays(QStringLiteral("Only %1 of 65,536 bytes were sent: the device did not "
                                   "take the rest in time.")
                        .arg(QLocale(QLocale::English).toString(qulonglong(timedOut.sent)))))
        << PortToolTip().toStdString();

    // The line resumes: the device gets exactly the counted bytes, and the next press's bytes
    // right after them, with nothing of the first press's tail in between.
    const Bytes next = Pattern(13, 16);
    ASSERT_TRUE(Host().Resume(m_driver.device));
    SendFromWindow(next);
    ASSERT_TRUE(WaitFor([&] { return SendEnded() && LastSend().end == SendEnd::Complete; }));
    Bytes expected(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(timedOut.sent));
    expected.insert(expected.end(), next.begin(), next.end());
    HostGotExactly(expected);
    std::cout << "Uart8250: a 65,536-byte send timed out with " << timedOut.sent
              << " bytes counted as sent; the window's longest gap meanwhile " << longestGap
              << " ms\n";

    // Closing while the line is stalled: the send cut by it counts what had left the kernel's
    // queue. The UART's own 16-byte buffer is past that queue, and the close clears it: how full
    // it was nobody can read, so the pane gives its size as the most that may not have left.
    ASSERT_TRUE(Host().Reset(m_driver.device));
    ASSERT_TRUE(Host().Pause(m_driver.device));
    const Bytes cut = Pattern(14, 2048);
    SendFromWindow(cut);
    ASSERT_TRUE(WaitFor([&] { return m_dlg->SendingState().sent == cut.size(); }));
    Click(IDC_CLOSE_PORT);
    ASSERT_EQ(Item<QLabel>(IDC_STATUS_PORT)->text(), "COM close");
    ASSERT_TRUE(SendEnded());
    const SendOutcome closed = LastSend();
    EXPECT_EQ(closed.end, SendEnd::Closed);
    EXPECT_TRUE(ToolTipSays("Up to 16 of the bytes counted as sent were still in the port's own "
                            "transmit buffer"))
        << PortToolTip().toStdString();
    ASSERT_TRUE(Host().Resume(m_driver.device));
    const HostReceived got = Host().Received(m_driver.device, closed.sent, 5000);
    ASSERT_TRUE(got.answered);
    EXPECT_LE(got.count, closed.sent);
    EXPECT_GE(got.count + 16, closed.sent);
    EXPECT_EQ(got.crc, Crc32(cut.data(), got.count));
    std::cout << "Uart8250: closing during a stalled 2,048-byte send counted " << closed.sent
              << " bytes as sent (" << cut.size() - closed.sent << " discarded); the device got "
              << got.count << "\n";
}

TEST_F(FtdiUsb, AnUnplugIsToldAtOnceAndTheReplugResumesWithTheSameSettings)
{
    MakeWindow();
    Choice(IDC_BAUDRATE)->setCurrentText("57600");
    Choice(IDC_BYTESIZE)->setCurrentText("7");
    Choice(IDC_PARITY)->setCurrentText("Even");
    Open();
    Click(IDC_DTR);

    // Unplugged while receiving.
    const Bytes stream = Pattern(21, 1 << 20);
    ASSERT_TRUE(Host().Send(m_driver.device, stream.size(), 21));
    ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceiveLog().Length() > 128 * 1024; }, 30000));
    ASSERT_TRUE(Host().Unplug(m_driver.device));
    QElapsedTimer sinceUnplug;
    sinceUnplug.start();
    ASSERT_TRUE(ToolTipSays("gone"));
    const qint64 told = sinceUnplug.elapsed();
    std::cout << "FtdiUsb: the pane told of the unplug after " << told << " ms\n";
    EXPECT_LT(told, 2500) << "the pane should tell within half a second, give or take the guest";
    // What came before the unplug is in the log, in order.
    const std::string before = LogText();
    ASSERT_GT(before.size(), 0u);
    EXPECT_EQ(before, HexOf(Bytes(stream.begin(), stream.begin() + before.size() / 2)));

    // Plugged in again: reading resumes by itself, with the settings and lines last chosen.
    ASSERT_TRUE(Host().Plug(m_driver.device));
    ASSERT_TRUE(ToolTipSays("/dev/COM1 is back."));
    termios2 t{};
    ASSERT_TRUE(Peek(m_driver.node).Termios(&t));
    EXPECT_EQ(BaudRateOf(t), 57600u);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD), tcflag_t{CS7 | PARENB});
    EXPECT_EQ(Peek(m_driver.node).ModemBits() & (TIOCM_DTR | TIOCM_RTS), TIOCM_RTS);
    const Bytes after = Pattern(22, 4096);
    ASSERT_TRUE(Host().Send(m_driver.device, after.size(), 22));
    EXPECT_TRUE(WaitFor([&] { return LogText() == before + HexOf(after); }, 20000));

    // Unplugged while a send is going: it says how much really went out.
    const Bytes big = Pattern(23, 1 << 20);
    ASSERT_TRUE(Host().Reset(m_driver.device));
    ASSERT_TRUE(Host().Ask("unplug-at A 262144"));
    SendFromWindow(big);
    ASSERT_TRUE(WaitFor([&] { return SendEnded(); }, 30000));
    const SendOutcome cut = LastSend();
    const HostReceived got = Host().Received(m_driver.device);
    ASSERT_TRUE(got.answered);
    EXPECT_EQ(cut.end, SendEnd::DeviceGone);
    EXPECT_GE(got.count, 262144u);
    // What had surely left the kernel when its queue was last seen: never more than the device
    // got, and short of it by at most the slice handed over last and what the driver held.
    EXPECT_LE(cut.sent, got.count);
    EXPECT_GT(cut.sent + 8192, got.count);
    EXPECT_EQ(got.crc, Crc32(big.data(), got.count));
    EXPECT_TRUE(ToolTipSays(QStringLiteral("Only %1 of 1,048,576 bytes were sent before the "
                                           "device went away.")
                                .arg(QLocale(QLocale::English).toString(qulonglong(cut.sent)))))
        << PortToolTip().toStdString();
    std::cout << "FtdiUsb: a 1,048,576-byte send cut by an unplug counted " << cut.sent
              << " bytes as sent; the device got " << got.count << "\n";
}

TEST_F(FtdiUsb, AnotherAdapterInTheUnpluggedOnesPlaceIsNeverOpened)
{
    MakeWindow();
    Choice(IDC_BAUDRATE)->setCurrentText("57600");
    Open();
    ASSERT_TRUE(Host().Unplug("A"));
    ASSERT_TRUE(ToolTipSays("gone"));
    // Adapter B takes the node A had.
    ASSERT_TRUE(Host().Plug("B"));
    ASSERT_TRUE(WaitFor([] { return Exists("/dev/ttyUSB0"); }));
    // Long enough for several looks for A (one per read time-out, 50 ms).
    QTest::qWait(1000);
    termios2 t{};
    ASSERT_TRUE(Peek("/dev/ttyUSB0").Termios(&t));
    EXPECT_NE(BaudRateOf(t), 57600u) << "adapter B got COM1's settings";
    EXPECT_TRUE(Free("/dev/ttyUSB0")) << "adapter B is held";
    EXPECT_TRUE(PortToolTip().contains("gone")) << PortToolTip().toStdString();

    // A comes back under the next number, and COM1 follows it there.
    ASSERT_TRUE(Host().Plug("A"));
    ASSERT_TRUE(ToolTipSays("/dev/ttyUSB1 is back")) << PortToolTip().toStdString();
    ASSERT_TRUE(Peek("/dev/ttyUSB1").Termios(&t));
    EXPECT_EQ(BaudRateOf(t), 57600u);
    const Bytes fromA = Pattern(31, 4096);
    ASSERT_TRUE(Host().Send("A", fromA.size(), 31));
    EXPECT_TRUE(WaitFor([&] { return LogText() == HexOf(fromA); }, 20000));
    EXPECT_TRUE(Free("/dev/ttyUSB0")) << "adapter B is held";
}

std::string NameOf(const ::testing::TestParamInfo<Driver>& info)
{
    return info.param.name;
}
INSTANTIATE_TEST_SUITE_P(Drivers, RealDriver, ::testing::Values(kUart, kFtdi), NameOf);

} // namespace
