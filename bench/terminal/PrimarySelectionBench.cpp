// The receive view's primary selection pasted by another program: a view over a log of
// --chars characters (200,000,000 unless told), all of it selected with the mouse (a Shift+click
// at its end), and, --request-after-ms later, another X client asking for the selection: a
// second process of this program, as xclip would. A receiver thread stands for the receive
// worker: it appends 256 bytes to the log every millisecond, under the log's lock, while the
// view refreshes once a frame as the window does.
//
// Each round prints, from the release of the mouse to the other program having the text: the
// longest the user-interface thread went without running a 1 ms timer, the longest one append
// of the receiver took (its wait for the log's lock), how long the other program waited from
// its request to the text, how many characters it got, and how much more resident memory the
// window holds afterwards. The summary gives the median, the least and the most of the times
// over --rounds (5 unless told).
//
// It needs an X display (the primary selection is X11's): run it with run-under-xvfb. It uses
// only the view's and the log's public faces, so the same source measures older builds.
//
//   bench/terminal/run-under-xvfb build/bench/terminal/vorlanti_primary_selection_bench
#include "EventLoop.h"
#include "ProcessMeter.h"
#include "StallMeter.h"
#include "terminal/ReceiveLog.h"
#include "terminal/ReceiveView.h"
#include "terminal/accessible/AccessibleFactory.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace
{
struct Options
{
    std::int64_t chars = 200'000'000;
    int requestAfterMs = 1000;
    int rounds = 5;
};

// The other program: started before the round, so that starting a process is not measured;
// says it is ready, asks for the primary selection when told to, and says how much text it
// got and how long that took.
int FetchPrimary(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    std::printf("ready\n");
    std::fflush(stdout);
    char go[8];
    if (std::fgets(go, sizeof go, stdin) == nullptr)
        return 1;
    const std::int64_t start = NowNs();
    const QString text = QGuiApplication::clipboard()->text(QClipboard::Selection);
    std::printf("%lld %.1f %d\n", static_cast<long long>(text.size()),
                double(NowNs() - start) / 1e6, text.startsWith(QLatin1String("000102")) ? 1 : 0);
    return 0;
}

// Stands for the receive worker: 256 bytes every millisecond; keeps the longest append.
class CReceiver
{
  public:
    explicit CReceiver(CReceiveLog& log)
        : m_thread(
              [this, &log]
              {
                  std::vector<std::uint8_t> block(256);
                  for (std::size_t i = 0; i < block.size(); ++i)
                      block[i] = static_cast<std::uint8_t>(i);
                  while (!m_stop)
                  {
                      const std::int64_t start = NowNs();
                      log.AppendBytes(block.data(), static_cast<std::uint32_t>(block.size()));
                      const std::int64_t took = NowNs() - start;
                      std::int64_t longest = m_longest;
                      while (took > longest && !m_longest.compare_exchange_weak(longest, took))
                      {
                      }
                      std::this_thread::sleep_for(std::chrono::milliseconds(1));
                  }
              })
    {
    }
    ~CReceiver()
    {
        m_stop = true;
        m_thread.join();
    }
    // The longest append since the last call.
    double TakeLongestMs() { return double(m_longest.exchange(0)) / 1e6; }

  private:
    std::atomic<bool> m_stop{false};
    std::atomic<std::int64_t> m_longest{0};
    std::thread m_thread;
};

struct Round
{
    double stallMs = 0;
    double receiverMs = 0;
    double waitedMs = 0; // the other program, from its request to the text
    double heldMB = 0;   // resident memory the window holds afterwards beyond what it held before
    long long chars = 0;
    bool right = false;
};

Round RunRound(CReceiveView& view, CReceiver& receiver, const Options& options, char* self)
{
    // Nothing selected, then everything from the start to --chars with a Shift+click.
    view.SetSelection(0, 0);
    RunFor(100);
    const int end = static_cast<int>(options.chars);
    view.ScrollToOffset(end);
    const QRect at = view.CharacterRect(end);
    const QPoint point(at.left(), at.center().y());

    QProcess other;
    other.start(QString::fromLocal8Bit(self), {QStringLiteral("--fetch-primary")});
    RunUntil([&] { return other.canReadLine(); }, 10000, 5);
    other.readLine();

    Round round;
    const std::int64_t resident = ResidentBytes();
    receiver.TakeLongestMs();
    CStallMeter stall;
    QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, point);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, point);
    if (view.SelectionEnd() - view.SelectionStart() != end)
    {
        std::fprintf(stderr, "the selection holds %d characters, not %d\n",
                     view.SelectionEnd() - view.SelectionStart(), end);
        std::exit(1);
    }
    RunFor(options.requestAfterMs);
    other.write("go\n");
    RunUntil([&] { return other.state() == QProcess::NotRunning; }, 120000, 5);
    round.stallMs = stall.LongestMs();
    round.receiverMs = receiver.TakeLongestMs();
    RunFor(100);
    round.heldMB = double(ResidentBytes() - resident) / 1e6;
    double waited = 0;
    int right = 0;
    if (std::sscanf(other.readAllStandardOutput().constData(), "%lld %lf %d", &round.chars, &waited,
                    &right) != 3)
        round.chars = -1;
    round.waitedMs = waited;
    round.right = right != 0;
    return round;
}

void Summarise(const char* what, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::printf("  %-28s median %8.1f  min %8.1f  max %8.1f\n", what, values[values.size() / 2],
                values.front(), values.back());
}
} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--fetch-primary")
        return FetchPrimary(argc, argv);
    Options options;
    for (int i = 1; i < argc; ++i)
    {
        std::string v;
        if (TakeFlag(argv[i], "--chars", &v))
            options.chars = std::stoll(v);
        else if (TakeFlag(argv[i], "--request-after-ms", &v))
            options.requestAfterMs = std::stoi(v);
        else if (TakeFlag(argv[i], "--rounds", &v))
            options.rounds = std::max(1, std::stoi(v));
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    InstallAccessibleFactory();
    if (!QGuiApplication::clipboard()->supportsSelection())
    {
        std::fprintf(stderr, "no primary selection here: run this under X (run-under-xvfb)\n");
        return 1;
    }

    CReceiveLog log;
    {
        std::vector<std::uint8_t> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<std::uint8_t>(i);
        for (std::int64_t chars = 0; chars < options.chars; chars += 2 * std::int64_t(block.size()))
            log.AppendBytes(block.data(), static_cast<std::uint32_t>(block.size()));
    }
    CReceiveView view;
    view.resize(640, 480);
    view.SetLog(&log);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return 1;
    QTimer frames; // the window refreshes the view once a frame while data comes
    QObject::connect(&frames, &QTimer::timeout, [&] { view.Refresh(); });
    frames.start(33);
    CReceiver receiver(log);
    RunFor(200);

    std::printf("primary selection of %lld characters, asked for %d ms after it was made, "
                "while a receiver appends 256 bytes a millisecond\n",
                static_cast<long long>(options.chars), options.requestAfterMs);
    std::vector<double> stall, appended, waited;
    for (int r = 0; r < options.rounds; ++r)
    {
        const Round round = RunRound(view, receiver, options, argv[0]);
        std::printf("round %d: window's longest stall %.1f ms, receiver's longest append %.1f ms, "
                    "the other program waited %.1f ms for %lld characters%s; the window holds "
                    "%.0f MB more\n",
                    r + 1, round.stallMs, round.receiverMs, round.waitedMs, round.chars,
                    round.chars > 0 && !round.right ? " (NOT the log's text)" : "", round.heldMB);
        std::fflush(stdout);
        stall.push_back(round.stallMs);
        appended.push_back(round.receiverMs);
        waited.push_back(round.waitedMs);
    }
    std::printf("over %d rounds (targets: both under 50 ms):\n", options.rounds);
    Summarise("window's longest stall, ms", stall);
    Summarise("receiver's longest append, ms", appended);
    Summarise("other program's wait, ms", waited);
    return 0;
}
