// The terminal window under load: the real window, a pseudo-terminal as COM1, and a separate
// feeder process playing the device, so that the process's CPU time is the window's. Offscreen
// by default; under an X display (run-under-xvfb) the X server's CPU time is measured too.
//
//   (a) flat out: N MiB as fast as the device can send, optionally with --busy processes
//       spinning beside it; bytes per second received and shown, resident memory growth per
//       received byte, the log compared exactly
//   (b) paced at 11,520 B/s (a 115200-baud line) and at 100,000 B/s: CPU of this process and
//       of the X server as % of one core, resident memory growth per received byte, repaints
//       per second, latency while streaming
//   (c) with 1 MiB and with 256 MiB of log (filled directly): painting the view and appending
//       one 256-byte block (Google Benchmark), and one append that has to discard at the limit
//   (d) latency from a block written on the device to its hex painted: median and 99th pct
//   (e) the receive view over a log of --a11y-limit-mib, streamed past its limit at
//       --a11y-rate bytes per second with an accessibility client in the process (on every
//       insert event it reads the inserted text, the caret and the character count, as a
//       screen reader would): the longest stall of the user-interface thread, the longest
//       time between paints, the slowest accessibility call, peak memory against the log's
//       size. Needs the accessibility bus (run-under-xvfb --a11y); skipped otherwise.
//   (i) idle: the port open and nothing arriving for --idle-seconds: CPU of this process and
//       of the X server, wake-ups per second of each of this process's threads, repaints.
//       Under run-under-xvfb --a11y it runs with the accessibility bus on, as under a screen
//       reader
//
// Flags: --flat-mib=16 --busy=0 --paced-seconds=60 --fast-seconds=30 --latency-samples=300
//        --a11y-limit-mib=256 --a11y-rate=20000000 --idle-seconds=60 --only=abcd (e and i only
//        when named), and Google Benchmark's own flags for (c).
#include "EventLoop.h"
#include "ProcessMeter.h"
#include "PtyDevice.h"
#include "terminal/ControlIds.h"
#include "terminal/ReceiveLog.h"
#include "terminal/ReceiveView.h"
#include "terminal/TerminalDlg.h"
#include "terminal/accessible/AccessibleFactory.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <map>
#include <memory>
#include <new>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
struct Options
{
    int flatMiB = 16;
    int pacedSeconds = 60;
    int fastSeconds = 30;
    int latencySamples = 300;
    int busy = 0;
    int a11yLimitMiB = 256;
    double a11yRate = 20e6;
    int idleSeconds = 60;
    std::string only = "abcd";
};
Options g_options;

// CPU time of the user-interface thread (this program's main thread), in seconds.
double UiThreadCpuSeconds()
{
    unsigned long long ns = 0;
    const std::string path = "/proc/self/task/" + std::to_string(getpid()) + "/schedstat";
    if (FILE* f = std::fopen(path.c_str(), "r"))
    {
        if (std::fscanf(f, "%llu", &ns) != 1)
            ns = 0;
        std::fclose(f);
    }
    return ns / 1e9;
}

// What the feeder process writes, and where it leaves its timestamps. Lives in memory shared
// with the child; the child uses only system calls (it is forked from a threaded process).
constexpr std::size_t kMaxStamps = 200000;
struct FeedShared
{
    std::int64_t startNs = 0;
    std::atomic<std::int64_t> stamps{0}; // writes stamped so far
    std::int64_t stampNs[kMaxStamps];    // when write i began
    std::int64_t stampEnd[kMaxStamps];   // bytes sent once write i is done
};

class Feeder
{
  public:
    Feeder()
    {
        void* p = mmap(nullptr, sizeof(FeedShared), PROT_READ | PROT_WRITE,
                       MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        m_shared = p == MAP_FAILED ? nullptr : new (p) FeedShared;
        // Touch every page now, so that reading stamps later does not count as growth.
        if (m_shared != nullptr)
            std::memset(static_cast<void*>(m_shared->stampNs), 0,
                        sizeof m_shared->stampNs + sizeof m_shared->stampEnd);
    }
    ~Feeder()
    {
        if (Running())
            kill(m_pid, SIGKILL); // the window it fed is gone
        Wait();
        if (m_shared != nullptr)
            munmap(m_shared, sizeof(FeedShared));
    }
    FeedShared& Shared() { return *m_shared; }

    // rate 0: flat out. Otherwise `rate` bytes per second, in 1 ms steps.
    void Stream(int fd, const std::uint8_t* data, std::size_t size, double rate)
    {
        Start(
            [=, this]
            {
                m_shared->startNs = NowNs();
                std::size_t sent = 0;
                while (sent < size)
                {
                    std::size_t due = size;
                    if (rate > 0)
                        due = std::min<std::size_t>(
                            size,
                            static_cast<std::size_t>((NowNs() - m_shared->startNs) / 1e9 * rate));
                    if (due > sent)
                        sent = Stamped(fd, data, sent, due - sent);
                    if (rate > 0 || due == sent)
                        ::poll(nullptr, 0, 1);
                }
            });
    }

    // `count` blocks of `block` bytes, one every `intervalMs`; stamps the moment of each write.
    void Pulses(int fd, const std::uint8_t* data, std::size_t block, int count, int intervalMs)
    {
        Start(
            [=, this]
            {
                m_shared->startNs = NowNs();
                for (int k = 0; k < count; ++k)
                {
                    const std::int64_t due =
                        m_shared->startNs + std::int64_t(k) * intervalMs * 1000000;
                    while (NowNs() < due)
                        ::poll(
                            nullptr, 0,
                            static_cast<int>(std::max<std::int64_t>(1, (due - NowNs()) / 1000000)));
                    std::size_t sent = std::size_t(k) * block;
                    while (sent < std::size_t(k + 1) * block)
                        sent = Stamped(fd, data, sent, std::size_t(k + 1) * block - sent);
                }
            });
    }

    bool Running()
    {
        if (m_pid <= 0)
            return false;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_pid = -1;
        return m_pid > 0;
    }
    void Wait()
    {
        if (m_pid > 0)
        {
            int status = 0;
            waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
    }

  private:
    template <class Body> void Start(Body body)
    {
        m_pid = fork();
        if (m_pid == 0)
        {
            body();
            _exit(0);
        }
    }
    // One write of the bytes from `sent` on; returns the new count sent. The stamp goes out
    // before the write, since the window may show the bytes before the write call returns.
    std::size_t Stamped(int fd, const std::uint8_t* data, std::size_t sent, std::size_t size)
    {
        const std::int64_t i = m_shared->stamps.load(std::memory_order_relaxed);
        const std::int64_t end = std::int64_t(sent + size);
        if (i < std::int64_t(kMaxStamps) && (i == 0 || m_shared->stampEnd[i - 1] < end))
        {
            m_shared->stampNs[i] = NowNs();
            m_shared->stampEnd[i] = end;
            m_shared->stamps.store(i + 1, std::memory_order_release);
        }
        return sent + WriteSome(fd, data + sent, size);
    }
    static std::size_t WriteSome(int fd, const std::uint8_t* data, std::size_t size)
    {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0)
            return static_cast<std::size_t>(n);
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
        return 0;
    }

    FeedShared* m_shared = nullptr;
    pid_t m_pid = -1;
};

// Matches what the view paints against the feeder's stamps: the time from the start of a write
// on the device to the first paint that shows its last byte.
struct LatencyMeter
{
    explicit LatencyMeter(const FeedShared& feed) : shared(feed)
    {
        ms.resize(kMaxStamps); // paged in now, so that it does not count as the window's growth
        ms.clear();
    }

    const FeedShared& shared;
    std::int64_t fromNs = 0; // writes stamped before this are not counted
    std::int64_t next = 0;
    std::vector<double> ms;

    void Painted(qint64 shownEnd)
    {
        const std::int64_t now = NowNs();
        const std::int64_t stamped = shared.stamps.load(std::memory_order_acquire);
        for (; next < stamped && 2 * shared.stampEnd[next] <= shownEnd; ++next)
            if (shared.stampNs[next] >= fromNs)
                ms.push_back((now - shared.stampNs[next]) / 1e6);
    }
    double Quantile(double q)
    {
        if (ms.empty())
            return 0;
        std::sort(ms.begin(), ms.end());
        return ms[std::min(ms.size() - 1, std::size_t(q * ms.size()))];
    }
};

// A shown window with COM1 open on a fresh pseudo-terminal.
struct OpenWindow
{
    CDeviceTree tree;
    CPtyDevice device;
    std::unique_ptr<CTerminalDlg> dlg;
    CReceiveView* view = nullptr;
    bool ok = false;

    explicit OpenWindow(bool openPort = true)
    {
        if (!device.IsValid() || !tree.Link(1, device.SlavePath()))
            return;
        dlg = std::make_unique<CTerminalDlg>(tree.Roots());
        dlg->show();
        view = static_cast<CReceiveView*>(dlg->GetDlgItem(IDC_RECEIVE));
        WaitFor([&] { return dlg->isVisible(); });
        if (openPort)
            static_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_OPEN_PORT))->click();
        ok = !openPort || dlg->IsPortOpen();
    }
};

// Processes that keep a core busy while they live, like `yes > /dev/null`.
class BusyLoops
{
  public:
    explicit BusyLoops(int count)
    {
        for (int i = 0; i < count; ++i)
        {
            const pid_t pid = fork();
            if (pid == 0)
            {
                volatile unsigned long spin = 0;
                for (;;)
                    spin = spin + 1;
            }
            if (pid > 0)
                m_pids.push_back(pid);
        }
    }
    ~BusyLoops()
    {
        for (const pid_t pid : m_pids)
        {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

  private:
    std::vector<pid_t> m_pids;
};

void FlatOut()
{
    const std::size_t size = std::size_t(g_options.flatMiB) << 20;
    OpenWindow w;
    if (!w.ok)
    {
        std::printf("(a) could not open a pseudo-terminal as COM1\n");
        return;
    }
    const std::vector<std::uint8_t> data = SeededBytes(size, 42);
    std::int64_t shownNs = 0;
    QObject::connect(w.view, &CReceiveView::painted,
                     [&](qint64 end)
                     {
                         if (shownNs == 0 && end >= qint64(2 * size))
                             shownNs = NowNs();
                     });
    Feeder feeder;
    const BusyLoops busy(g_options.busy);
    const double cpu0 = CpuSeconds();
    const std::int64_t rss0 = ResidentBytes();
    feeder.Stream(w.device.MasterFd(), data.data(), size, 0);
    RunUntil([&] { return shownNs != 0; }, 300000, 5);
    const double cpu = CpuSeconds() - cpu0;
    const std::int64_t rss = ResidentBytes() - rss0;
    feeder.Wait();
    if (shownNs == 0)
    {
        std::printf("(a) flat out: not all shown within 300 s\n");
        return;
    }
    const double seconds = (shownNs - feeder.Shared().startNs) / 1e9;
    const bool intact = w.dlg->ReceiveLog().Copy(0, int(2 * size)) == HexOf(data);
    std::printf("(a) flat out with %d busy processes beside it: %.1f MiB received and shown in "
                "%.2f s = %.2f MB/s (target >= 100 MB/s), %.1f ms of this process's CPU per MiB; "
                "resident growth %.2f bytes per received byte (target <= 2.1); log %s the data\n",
                g_options.busy, size / 1048576.0, seconds, size / seconds / 1e6,
                1000 * cpu / (size / 1048576.0), double(rss) / double(size),
                intact ? "matches" : "DOES NOT MATCH");
}

void Paced(double rate, int seconds)
{
    if (seconds <= 0)
        return;
    OpenWindow w;
    if (!w.ok)
        return;
    const std::size_t warmSeconds = 2;
    const std::size_t size = static_cast<std::size_t>(rate * (seconds + warmSeconds + 1));
    const std::vector<std::uint8_t> data = SeededBytes(size, 7);
    int paints = 0;
    Feeder feeder;
    LatencyMeter latency{feeder.Shared()};
    latency.fromNs = NowNs() + std::int64_t(warmSeconds) * 1000000000;
    QObject::connect(w.view, &CReceiveView::painted,
                     [&](qint64 end)
                     {
                         ++paints;
                         latency.Painted(end);
                     });
    feeder.Stream(w.device.MasterFd(), data.data(), size, rate);
    RunUntil([] { return false; }, int(warmSeconds * 1000), 1000);

    const long xServer = XServerPid();
    const double x0 = xServer ? ProcessCpuSeconds(xServer) : 0;
    const double cpu0 = CpuSeconds();
    const double ui0 = UiThreadCpuSeconds();
    const std::int64_t rss0 = ResidentBytes(), t0 = NowNs();
    const int log0 = w.dlg->ReceiveLog().Length();
    paints = 0;
    RunUntil([] { return false; }, seconds * 1000, 1000);
    const double cpu = CpuSeconds() - cpu0;
    const double ui = UiThreadCpuSeconds() - ui0;
    const double x = xServer ? ProcessCpuSeconds(xServer) - x0 : 0;
    const double wall = (NowNs() - t0) / 1e9;
    const std::int64_t rss = ResidentBytes() - rss0;
    const double received = (w.dlg->ReceiveLog().Length() - log0) / 2.0;
    const std::string xFigure = xServer ? std::to_string(100 * x / wall).substr(0, 4) + " %"
                                        : std::string("not measured (offscreen)");
    std::printf("(b) paced %.0f B/s for %d s: CPU %.2f %% of one core (the user-interface thread "
                "%.2f %%); X server %s; together %.2f %% (target <= %s %%); resident growth %.2f "
                "bytes per received byte; %.0f bytes received; %.1f repaints/s; latency while "
                "streaming: median %.1f ms (target < 35), p99 %.1f ms (target < 60)\n",
                rate, seconds, 100 * cpu / wall, 100 * ui / wall, xFigure.c_str(),
                100 * (cpu + x) / wall, rate < 50000 ? "1.5" : "2.0", rss / std::max(1.0, received),
                received, paints / wall, latency.Quantile(0.5), latency.Quantile(0.99));
}

void Latency()
{
    OpenWindow w;
    if (!w.ok)
        return;
    const int samples = std::min<int>(g_options.latencySamples, int(kMaxStamps));
    const std::size_t block = 8;
    const int intervalMs = 37; // not a multiple of a frame, so arrivals fall all over it
    const std::vector<std::uint8_t> data = SeededBytes(block * samples, 9);
    Feeder feeder;
    LatencyMeter latency{feeder.Shared()};
    QObject::connect(w.view, &CReceiveView::painted, [&](qint64 end) { latency.Painted(end); });
    feeder.Pulses(w.device.MasterFd(), data.data(), block, samples, intervalMs);
    RunUntil([&] { return latency.next == samples; }, samples * intervalMs + 10000, 50);
    feeder.Wait();
    std::printf("(d) latency, device write to hex painted, %zu blocks of %zu bytes %d ms apart: "
                "median %.1f ms, p99 %.1f ms (target < 5), max %.1f ms\n",
                latency.ms.size(), block, intervalMs, latency.Quantile(0.5), latency.Quantile(0.99),
                latency.Quantile(1.0));
}

// (c): windows whose logs were filled directly, kept across benchmark runs.
std::map<int, std::unique_ptr<OpenWindow>> g_filledWindows;

OpenWindow& FilledWindow(int mib)
{
    auto& slot = g_filledWindows[mib];
    if (!slot)
    {
        slot = std::make_unique<OpenWindow>(false);
        const std::vector<std::uint8_t> chunk = SeededBytes(64 << 10, 5);
        while (slot->dlg->ReceiveLog().Length() < (mib << 20))
            slot->dlg->OnReceive(chunk.data(), std::uint32_t(chunk.size()));
        QApplication::processEvents();
    }
    return *slot;
}

void BM_PaintView(benchmark::State& state)
{
    OpenWindow& w = FilledWindow(int(state.range(0)));
    for (auto _ : state)
        w.view->viewport()->repaint();
    state.counters["log_MiB"] = w.dlg->ReceiveLog().Length() / 1048576.0;
}
BENCHMARK(BM_PaintView)->Arg(1)->Arg(256)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_AppendBlock(benchmark::State& state)
{
    OpenWindow& w = FilledWindow(int(state.range(0)));
    const std::vector<std::uint8_t> block = SeededBytes(256, 6);
    for (auto _ : state)
        w.dlg->OnReceive(block.data(), 256);
    QApplication::processEvents();
    state.counters["log_MiB"] = w.dlg->ReceiveLog().Length() / 1048576.0;
}
BENCHMARK(BM_AppendBlock)
    ->Arg(1)
    ->Arg(256)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(20000);

// The rare expensive append: the log is full and an eighth of it makes way.
void AppendAtTheLimit()
{
    OpenWindow w(false);
    const std::vector<std::uint8_t> chunk = SeededBytes(1 << 20, 8);
    const int limit = w.dlg->ReceiveLog().GetLimit();
    while (w.dlg->ReceiveLog().Length() + int(2 * chunk.size()) <= limit)
        w.dlg->OnReceive(chunk.data(), std::uint32_t(chunk.size()));
    const std::vector<std::uint8_t> block = SeededBytes(256, 6);
    while (w.dlg->ReceiveLog().Length() + 512 <= limit)
        w.dlg->OnReceive(block.data(), 256);
    const std::int64_t t0 = NowNs();
    w.dlg->OnReceive(block.data(), 256);
    const double ms = (NowNs() - t0) / 1e6;
    std::printf("(c) append at the full log (%d characters): %.1f ms, once per %.0f MiB received\n",
                limit, ms, limit / 8 / 2 / 1048576.0);
}

// (e): what a screen reader's questions cost while the log streams past its limit.
struct AccessibilityClient
{
    static inline double slowestCallMs = 0;
    static inline std::int64_t inserts = 0;
    static inline std::int64_t charactersRead = 0;
    static inline QAccessible::UpdateHandler passOn = nullptr;

    static void Handle(QAccessibleEvent* event)
    {
        if (event->type() == QAccessible::TextInserted)
        {
            const auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
            QAccessibleInterface* accessible = event->accessibleInterface();
            QAccessibleTextInterface* text = accessible ? accessible->textInterface() : nullptr;
            if (text != nullptr)
            {
                const auto timed = [](auto call)
                {
                    const std::int64_t t0 = NowNs();
                    call();
                    slowestCallMs = std::max(slowestCallMs, (NowNs() - t0) / 1e6);
                };
                const int from = inserted->changePosition();
                const int to = from + int(inserted->textInserted().size());
                timed([&] { charactersRead += text->text(from, to).size(); });
                timed([&] { (void)text->cursorPosition(); });
                timed([&] { (void)text->characterCount(); });
                ++inserts;
            }
        }
        if (passOn != nullptr)
            passOn(event);
    }
};

void AccessibleAtTheLimit()
{
    // The bridge to the accessibility bus comes up a moment after the application.
    RunUntil([] { return QAccessible::isActive(); }, 5000);
    if (!QAccessible::isActive())
    {
        std::printf("(e) skipped: accessibility is not active (run under run-under-xvfb --a11y)\n");
        return;
    }
    const int limit = std::min(CTextBuffer::kDefaultLimit, g_options.a11yLimitMiB << 20);
    CReceiveLog log(limit);
    CReceiveView view;
    view.resize(430, 310); // the window's receive view at scale 1
    view.SetLog(&log);
    view.show();
    WaitFor([&] { return view.isVisible(); });
    const std::int64_t rssBefore = ResidentBytes();

    // The receive worker's part: blocks of a read's size at the given rate, a log of text
    // (twice the limit) in all, so that the limit is passed and an eighth discarded many times.
    const std::int64_t total = limit;
    std::atomic<bool> done{false};
    std::thread appender(
        [&]
        {
            const std::vector<std::uint8_t> block = SeededBytes(4096, 11);
            const std::int64_t start = NowNs();
            for (std::int64_t sent = 0; sent < total;)
            {
                const auto due = std::int64_t((NowNs() - start) / 1e9 * g_options.a11yRate);
                for (; sent < std::min(due, total); sent += std::int64_t(block.size()))
                    log.AppendBytes(block.data(), std::uint32_t(block.size()));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            done = true;
        });

    AccessibilityClient::passOn = QAccessible::installUpdateHandler(&AccessibilityClient::Handle);
    std::int64_t lastPaint = NowNs(), stillMs = 0;
    QObject::connect(&view, &CReceiveView::painted,
                     [&](qint64)
                     {
                         const std::int64_t now = NowNs();
                         stillMs = std::max(stillMs, (now - lastPaint) / 1000000);
                         lastPaint = now;
                     });
    QTimer frames; // the window's frame clock
    frames.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frames, &QTimer::timeout, [&] { view.Refresh(); });
    frames.start(16);
    std::int64_t lastTick = NowNs(), stallMs = 0;
    QTimer ticks; // the user-interface thread's pulse
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout,
                     [&]
                     {
                         const std::int64_t now = NowNs();
                         stallMs = std::max(stallMs, (now - lastTick) / 1000000 - 5);
                         lastTick = now;
                     });
    ticks.start(5);
    RunUntil([&] { return done.load(); }, 600000, 50);
    appender.join();
    view.Refresh();
    QApplication::processEvents();
    QAccessible::installUpdateHandler(AccessibilityClient::passOn);
    std::int64_t discarded = 0;
    {
        const std::lock_guard lock(log.Mutex());
        discarded = log.DiscardedLocked();
    }
    const double peak = double(PeakResidentBytes());
    std::printf("(e) log limit %d characters, %.0f MiB of text streamed at %.0f B/s, %.0f MiB "
                "discarded; with an accessibility client (%lld insert events, %.0f MiB read): "
                "longest stall of the user-interface thread %lld ms, longest time between "
                "paints %lld ms (target < 1000), slowest accessibility call %.1f ms (target < "
                "100); peak RSS %.0f MiB = %.2f x the log's size (target < 1.2; %.0f MiB before "
                "streaming)\n",
                limit, 2.0 * total / 1048576.0, g_options.a11yRate, discarded / 1048576.0,
                static_cast<long long>(AccessibilityClient::inserts),
                AccessibilityClient::charactersRead / 1048576.0, static_cast<long long>(stallMs),
                static_cast<long long>(stillMs), AccessibilityClient::slowestCallMs,
                peak / 1048576.0, peak / limit, rssBefore / 1048576.0);
}

// Times each thread of this process has given up the processor (voluntary context switches):
// on an idle line, each is a wake-up that came to nothing.
std::map<std::string, long> WakeUpsByThread()
{
    std::map<std::string, long> counts;
    const std::string tasks = "/proc/self/task";
    if (DIR* dir = opendir(tasks.c_str()))
    {
        while (const dirent* entry = readdir(dir))
        {
            if (entry->d_name[0] == '.')
                continue;
            const std::string task = tasks + "/" + entry->d_name;
            std::string name = entry->d_name;
            if (FILE* f = std::fopen((task + "/comm").c_str(), "r"))
            {
                char comm[64] = {};
                if (std::fgets(comm, sizeof comm, f))
                    name = std::string(comm, std::strcspn(comm, "\n")) + " " + entry->d_name;
                std::fclose(f);
            }
            if (FILE* f = std::fopen((task + "/status").c_str(), "r"))
            {
                char line[256];
                long n = 0;
                while (std::fgets(line, sizeof line, f))
                    if (std::sscanf(line, "voluntary_ctxt_switches: %ld", &n) == 1)
                        counts[name] = n;
                std::fclose(f);
            }
        }
        closedir(dir);
    }
    return counts;
}

void Idle()
{
    OpenWindow w;
    if (!w.ok)
        return;
    int paints = 0;
    QObject::connect(w.view, &CReceiveView::painted, [&](qint64) { ++paints; });
    RunFor(2000); // the window settles: first paints, fonts, the accessibility bridge
    const long xServer = XServerPid();
    const double x0 = xServer ? ProcessCpuSeconds(xServer) : 0;
    const double cpu0 = CpuSeconds();
    const auto wakes0 = WakeUpsByThread();
    const std::int64_t t0 = NowNs();
    paints = 0;
    RunFor(g_options.idleSeconds * 1000);
    const double wall = (NowNs() - t0) / 1e9;
    const double cpu = CpuSeconds() - cpu0;
    const double x = xServer ? ProcessCpuSeconds(xServer) - x0 : 0;
    std::string threads;
    for (const auto& [name, count] : WakeUpsByThread())
    {
        const auto before = wakes0.find(name);
        const long woke = count - (before == wakes0.end() ? 0 : before->second);
        if (woke > 0)
            threads += " " + name + " " + std::to_string(woke / wall).substr(0, 5);
    }
    std::printf(
        "(i) idle, port open, %d s: CPU %.3f %% of one core (target < 0.1 %%); X server "
        "%s; %.1f repaints/s; wake-ups per second by thread:%s%s\n",
        g_options.idleSeconds, 100 * cpu / wall,
        xServer ? (std::to_string(100 * x / wall).substr(0, 5) + " %").c_str() : "not measured",
        paints / wall, threads.c_str(), QAccessible::isActive() ? " (accessibility on)" : "");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Our flags first; the rest goes to Google Benchmark.
    int kept = 1;
    for (int i = 1; i < argc; ++i)
    {
        std::string v;
        if (TakeFlag(argv[i], "--flat-mib", &v))
            g_options.flatMiB = std::stoi(v);
        else if (TakeFlag(argv[i], "--paced-seconds", &v))
            g_options.pacedSeconds = std::stoi(v);
        else if (TakeFlag(argv[i], "--fast-seconds", &v))
            g_options.fastSeconds = std::stoi(v);
        else if (TakeFlag(argv[i], "--latency-samples", &v))
            g_options.latencySamples = std::stoi(v);
        else if (TakeFlag(argv[i], "--busy", &v))
            g_options.busy = std::stoi(v);
        else if (TakeFlag(argv[i], "--a11y-limit-mib", &v))
            g_options.a11yLimitMiB = std::stoi(v);
        else if (TakeFlag(argv[i], "--a11y-rate", &v))
            g_options.a11yRate = std::stod(v);
        else if (TakeFlag(argv[i], "--idle-seconds", &v))
            g_options.idleSeconds = std::stoi(v);
        else if (TakeFlag(argv[i], "--only", &v))
            g_options.only = v;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    QApplication app(argc, argv);
    InstallAccessibleFactory();
    const auto wants = [](char part) { return g_options.only.find(part) != std::string::npos; };

    if (wants('a'))
        FlatOut();
    if (wants('b'))
    {
        Paced(11520, g_options.pacedSeconds);
        Paced(100000, g_options.fastSeconds);
    }
    if (wants('d'))
        Latency();
    if (wants('e'))
        AccessibleAtTheLimit();
    if (wants('i'))
        Idle();
    std::fflush(stdout);
    if (wants('c'))
    {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        g_filledWindows.clear();
        AppendAtTheLimit();
    }
    return 0;
}
