// Long run of the terminal window: the real window (offscreen) with a pseudo-terminal as COM1,
// fed at a steady rate by a child process playing the device, with "Clear window" pressed at a
// fixed interval. Prints resident memory and CPU once per sample interval, memory around every
// clear, and at the end whether memory came back after each clear, whether CPU stayed flat,
// and whether the log holds exactly the bytes sent since the last clear, in order.
//
// Flags: --seconds=1800 --clear-every=300 --sample-every=30 --rate=11520 (bytes per second).
// The exit status is 0 when every check held.
#include "EventLoop.h"
#include "ProcessMeter.h"
#include "PtyDevice.h"
#include "terminal/ControlIds.h"
#include "terminal/TerminalDlg.h"
#include "terminal/accessible/AccessibleFactory.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
struct Options
{
    int seconds = 1800;
    int clearEvery = 300;
    int sampleEvery = 30;
    int rate = 11520;
};

// Memory that comes back after a clear may sit this far above the start: allocator slack and
// the few pages Qt touches for the first time during a run.
constexpr double kMemorySlackMiB = 2.0;
// The stream repeats with this period; the log is checked against it by position.
constexpr std::size_t kPatternSize = 1 << 20;

double ResidentMiB()
{
    return double(ResidentBytes()) / 1048576.0;
}

// Shared with the feeder process, which uses only system calls (it is forked from a process
// with threads).
struct FeedState
{
    std::atomic<std::int64_t> sent{0};
    std::atomic<bool> stop{false};
};

// The device: a child process that writes the pattern at `rate` bytes per second in 5 ms steps
// until told to stop.
class Feeder
{
  public:
    Feeder(int fd, const std::vector<std::uint8_t>& pattern, int rate)
    {
        void* p = mmap(nullptr, sizeof(FeedState), PROT_READ | PROT_WRITE,
                       MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return;
        m_state = new (p) FeedState;
        m_pid = fork();
        if (m_pid != 0)
            return;
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const std::int64_t start = NowNs();
        std::int64_t sent = 0;
        while (!m_state->stop.load())
        {
            const std::int64_t due = (NowNs() - start) / 1000 * rate / 1000000;
            while (sent < due && !m_state->stop.load())
            {
                const std::size_t at = std::size_t(sent) % pattern.size();
                const std::size_t n =
                    std::min<std::size_t>(std::size_t(due - sent), pattern.size() - at);
                const ssize_t w = ::write(fd, pattern.data() + at, n);
                if (w > 0)
                {
                    sent += w;
                    m_state->sent.store(sent);
                    continue;
                }
                pollfd out{fd, POLLOUT, 0};
                ::poll(&out, 1, 5);
            }
            ::poll(nullptr, 0, 5);
        }
        _exit(0);
    }
    ~Feeder() { Stop(); }
    bool Started() const { return m_pid > 0; }
    std::int64_t Sent() const { return m_state->sent.load(); }
    void Stop()
    {
        if (m_pid <= 0)
            return;
        m_state->stop = true;
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

  private:
    FeedState* m_state = nullptr;
    pid_t m_pid = -1;
};

bool ParseFlag(const char* arg, const char* name, int* value)
{
    const std::size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=')
        return false;
    *value = std::atoi(arg + n + 1);
    return true;
}

struct Soak
{
    Options options;
    CDeviceTree tree;
    CPtyDevice device;
    std::unique_ptr<CTerminalDlg> dlg;
    std::vector<std::uint8_t> pattern = SeededBytes(kPatternSize, 2024);

    std::int64_t startNs = 0;
    double startMiB = 0;
    double peakMiB = 0;
    double worstAfterClearMiB = 0; // above the start
    double lastCpu = 0;
    std::int64_t lastNs = 0;
    std::vector<double> cpuPercent;
    int clears = 0;

    double Elapsed() const { return (NowNs() - startNs) / 1e9; }

    void Sample()
    {
        const double cpu = CpuSeconds();
        const std::int64_t now = NowNs();
        const double percent = 100 * (cpu - lastCpu) / ((now - lastNs) / 1e9);
        lastCpu = cpu;
        lastNs = now;
        cpuPercent.push_back(percent);
        const double rss = ResidentMiB();
        peakMiB = std::max(peakMiB, rss);
        std::printf("t=%5.0f s  resident %7.2f MiB  log %6.2f MiB  CPU %5.2f %% of one core\n",
                    Elapsed(), rss, dlg->ReceiveLog().Length() / 1048576.0, percent);
        std::fflush(stdout);
    }

    void Clear()
    {
        const double before = ResidentMiB();
        peakMiB = std::max(peakMiB, before);
        static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_CLEAR))->click();
        const double after = ResidentMiB();
        worstAfterClearMiB = std::max(worstAfterClearMiB, after - startMiB);
        ++clears;
        std::printf("t=%5.0f s  clear %d: resident %.2f MiB before, %.2f MiB after "
                    "(start %.2f MiB)\n",
                    Elapsed(), clears, before, after, startMiB);
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i)
    {
        if (!ParseFlag(argv[i], "--seconds", &options.seconds) &&
            !ParseFlag(argv[i], "--clear-every", &options.clearEvery) &&
            !ParseFlag(argv[i], "--sample-every", &options.sampleEvery) &&
            !ParseFlag(argv[i], "--rate", &options.rate))
        {
            std::fprintf(stderr,
                         "usage: %s [--seconds=N] [--clear-every=N] [--sample-every=N] "
                         "[--rate=BYTES_PER_SECOND]\n",
                         argv[0]);
            return 2;
        }
    }
    if (options.seconds <= 0 || options.clearEvery <= 0 || options.sampleEvery <= 0 ||
        options.rate <= 0)
    {
        std::fprintf(stderr, "every flag takes a positive number\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallAccessibleFactory();

    Soak soak;
    soak.options = options;
    if (!soak.device.IsValid() || !soak.tree.Link(1, soak.device.SlavePath()))
    {
        std::fprintf(stderr, "could not make a pseudo-terminal COM1\n");
        return 1;
    }
    soak.dlg = std::make_unique<CTerminalDlg>(soak.tree.Roots());
    soak.dlg->show();
    static_cast<QAbstractButton*>(soak.dlg->GetDlgItem(IDC_OPEN_PORT))->click();
    if (!soak.dlg->IsPortOpen())
    {
        std::fprintf(stderr, "could not open COM1\n");
        return 1;
    }
    // Let the window settle (first paints, fonts, caches) before taking the starting level.
    RunFor(2000);

    Feeder feeder(soak.device.MasterFd(), soak.pattern, options.rate);
    if (!feeder.Started())
    {
        std::fprintf(stderr, "could not start the feeder\n");
        return 1;
    }
    soak.startNs = soak.lastNs = NowNs();
    soak.lastCpu = CpuSeconds();
    soak.startMiB = soak.peakMiB = ResidentMiB();
    std::printf("soak: %d B/s for %d s, clear every %d s, sample every %d s; start resident "
                "%.2f MiB\n",
                options.rate, options.seconds, options.clearEvery, options.sampleEvery,
                soak.startMiB);
    std::fflush(stdout);

    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { soak.Sample(); });
    sample.start(options.sampleEvery * 1000);
    QTimer clear;
    // No clear at the very end, so that the final check compares a full interval's log.
    QObject::connect(&clear, &QTimer::timeout,
                     [&]
                     {
                         if (soak.Elapsed() < options.seconds - 1)
                             soak.Clear();
                     });
    clear.start(options.clearEvery * 1000);
    RunFor(options.seconds * 1000);
    sample.stop();
    clear.stop();

    // The last bytes sent arrive within a few reads; then the log is checked against the stream.
    feeder.Stop();
    const std::int64_t sent = feeder.Sent();
    int length = -1;
    for (int i = 0; i < 100 && length != soak.dlg->ReceiveLog().Length(); ++i)
    {
        length = soak.dlg->ReceiveLog().Length();
        RunFor(100);
    }
    const std::size_t logBytes = std::size_t(length) / 2;
    bool intact = length % 2 == 0 && std::int64_t(logBytes) <= sent;
    if (intact)
    {
        std::vector<std::uint8_t> expected(logBytes);
        for (std::size_t i = 0; i < logBytes; ++i)
            expected[i] = soak.pattern[(std::size_t(sent) - logBytes + i) % kPatternSize];
        intact = soak.dlg->ReceiveLog().Copy(0, length) == HexOf(expected);
    }

    // Flat CPU: no interval after the first costs more than twice the median, plus a little
    // for the noise of an idle machine.
    std::vector<double> sorted(soak.cpuPercent.begin(), soak.cpuPercent.end());
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    const double worst = sorted.empty() ? 0 : sorted.back();
    const bool flat = worst <= 2 * median + 0.5;
    const bool memoryBack = soak.worstAfterClearMiB <= kMemorySlackMiB;
    std::printf("sent %lld bytes; the log holds the last %zu of them %s\n",
                static_cast<long long>(sent), logBytes,
                intact ? "exactly, in order" : "NOT AS SENT");
    std::printf("resident: start %.2f MiB, peak %.2f MiB, worst after a clear %+.2f MiB "
                "(allowed +%.1f) over %d clears: %s\n",
                soak.startMiB, soak.peakMiB, soak.worstAfterClearMiB, kMemorySlackMiB, soak.clears,
                memoryBack ? "back each time" : "NOT BACK");
    std::printf("CPU: median %.2f %%, lowest %.2f %%, highest %.2f %% of one core: %s\n", median,
                sorted.empty() ? 0 : sorted.front(), worst, flat ? "flat" : "NOT FLAT");
    return intact && memoryBack && flat ? 0 : 1;
}
