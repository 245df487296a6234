// The terminal window under storms of user actions while data streams in, and a long stream
// that must arrive whole. After each storm the process holds exactly the descriptors and
// threads it held before.
//
// Port changes pause half a second each, so the default run makes 20 of them; set
// VORLANTI_PORT_CHANGES (for example to 200) for a longer storm.
#include "WindowUnderLoad.h"
#include "terminal/ReceiveView.h"

#include <QCoreApplication>

namespace
{
using Bytes = std::vector<std::uint8_t>;

// Sanitized builds run several times slower and keep shadow memory for the log: they stream
// a quarter as much.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define STORM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define STORM_SANITIZED 1
#endif
#endif
#ifdef STORM_SANITIZED
constexpr std::size_t kLongStreamBytes = std::size_t{4} << 20;
#else
constexpr std::size_t kLongStreamBytes = std::size_t{16} << 20;
#endif

int PortChanges()
{
    const int n = qEnvironmentVariableIntValue("VORLANTI_PORT_CHANGES");
    return n > 0 ? n : 20;
}

// The bytes a repeating feeder sent last: `count` of them, ending with byte `sent` - 1.
Bytes LastSent(const Bytes& pattern, std::size_t sent, std::size_t count)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = pattern[(sent - count + i) % pattern.size()];
    return bytes;
}

// Where two texts first differ, for a readable failure instead of megabytes of diff.
std::size_t FirstDifference(const std::string& a, const std::string& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return i;
    return a.size() == b.size() ? std::string::npos : n;
}

class Storms : public WindowUnderLoad
{
  protected:
    void TakeCounts()
    {
        m_fds = OpenDescriptors();
        m_threads = Threads();
    }
    // Waits a little, since a helper of Qt's may end between the two looks of one count.
    void ExpectSameCounts()
    {
        EXPECT_TRUE(
            WaitFor([&] { return OpenDescriptors() == m_fds && Threads() == m_threads; }, 2000))
            << OpenDescriptors() << " descriptors and " << Threads() << " threads, " << m_fds
            << " and " << m_threads << " before";
    }
    // After the feeder stopped: a marker from the device shows up right behind its last byte,
    // and what the log holds is the stream's tail, whole bytes, none lost or doubled.
    void ExpectTailOfStream(CPtyDevice& device, const Bytes& pattern, std::size_t sent)
    {
        ASSERT_TRUE(device.Send(Bytes{0x3C, 0x3E}));
        ASSERT_TRUE(WaitFor([&] { return LogEndsWith("3C3E"); }));
        const std::string log = LogText();
        ASSERT_EQ(log.size() % 2, 0u);
        const std::size_t bytes = log.size() / 2 - 2;
        ASSERT_LE(bytes, sent);
        EXPECT_EQ(log.substr(0, 2 * bytes), HexOf(LastSent(pattern, sent, bytes)));
    }

    int m_fds = 0;
    int m_threads = 0;
};

TEST_F(Storms, OpenCloseCyclesWhileDataStreamsLeaveNothingBehind)
{
    const Bytes pattern = SeededBytes(8192, 1);
    CStreamFeeder feeder(*m_com1, pattern, /*repeat=*/true);
    TakeCounts();
    for (int i = 0; i < 1000; ++i)
    {
        Click(IDC_OPEN_PORT);
        ASSERT_EQ(Pane(IDC_STATUS_PORT), "COM1 open success") << "cycle " << i;
        QCoreApplication::processEvents();
        Click(IDC_CLOSE_PORT);
        ASSERT_EQ(Pane(IDC_STATUS_PORT), "COM close") << "cycle " << i;
    }
    ExpectSameCounts();
    EXPECT_FALSE(m_dlg->IsWorkerRunning());
    Open();
    EXPECT_TRUE(WaitFor([&] { return m_dlg->ReceiveLog().Length() > 4096; }));
}

TEST_F(Storms, PortChangesWhileDataStreamsLeaveNothingBehind)
{
    CPtyDevice com2;
    ASSERT_TRUE(m_tree.Link(2, com2.SlavePath()));
    const Bytes pattern = SeededBytes(8192, 2);
    CStreamFeeder feed1(*m_com1, pattern, /*repeat=*/true);
    CStreamFeeder feed2(com2, pattern, /*repeat=*/true);
    Open();
    TakeCounts();
    const int changes = PortChanges();
    for (int i = 0; i < changes; ++i)
    {
        const int n = i % 2 == 0 ? 2 : 1;
        Choice(IDC_PORT)->setCurrentIndex(n - 1);
        ASSERT_EQ(Pane(IDC_STATUS_PORT), QString::asprintf("COM%d open success", n))
            << "change " << i;
    }
    ExpectSameCounts();
    EXPECT_TRUE(m_dlg->IsWorkerRunning());
    CPtyDevice& current = changes % 2 == 0 ? *m_com1 : com2;
    CStreamFeeder& feeder = changes % 2 == 0 ? feed1 : feed2;
    Click(IDC_CLEAR);
    ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceiveLog().Length() > 4096; }));
    feed1.Stop();
    feed2.Stop();
    ExpectTailOfStream(current, pattern, feeder.Sent());
}

TEST_F(Storms, ClearWindowPressesWhileDataStreamsLeaveAWholeTail)
{
    Open();
    const Bytes pattern = SeededBytes(64 * 1024 + 7, 3);
    CStreamFeeder feeder(*m_com1, pattern, /*repeat=*/true);
    ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceiveLog().Length() > 0; }));
    TakeCounts();
    for (int i = 0; i < 1000; ++i)
    {
        Click(IDC_CLEAR);
        QCoreApplication::processEvents();
    }
    ExpectSameCounts();
    feeder.Stop();
    ExpectTailOfStream(*m_com1, pattern, feeder.Sent());
    auto* view = qobject_cast<CReceiveView*>(m_dlg->GetDlgItem(IDC_RECEIVE));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(WaitFor([&] { return view->Length() == m_dlg->ReceiveLog().Length(); }));
}

TEST_F(Storms, EndingWindowsWhileDataStreamsLeavesNothingBehind)
{
    m_dlg.reset();
    const Bytes pattern = SeededBytes(8192, 4);
    CStreamFeeder feeder(*m_com1, pattern, /*repeat=*/true);
    TakeCounts();
    for (int i = 0; i < 20; ++i)
    {
        MakeWindow();
        Open();
        ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceiveLog().Length() > 4096; })) << "window " << i;
        m_dlg->close(); // the close box
        m_dlg.reset();
        ASSERT_TRUE(CSerialPort(m_tree.Roots()).Open(1)) << "window " << i << " kept the port";
    }
    ExpectSameCounts();
}

TEST_F(Storms, ALongStreamArrivesInTheLogExactlyOnceAndInOrder)
{
    Open();
    const Bytes stream = SeededBytes(kLongStreamBytes, 16);
    CStreamFeeder feeder(*m_com1, stream, /*repeat=*/false);
    const int expectedLength = static_cast<int>(2 * stream.size());
    ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceiveLog().Length() >= expectedLength; }, 300000))
        << m_dlg->ReceiveLog().Length() / 2 << " of " << stream.size() << " bytes arrived";
    feeder.Stop();
    const std::string log = LogText();
    const std::string expected = HexOf(stream);
    EXPECT_EQ(log.size(), expected.size());
    EXPECT_EQ(FirstDifference(log, expected), std::string::npos);
}
} // namespace
