// "Open file" with a large command file, as the user waits for it, on the real window
// (offscreen): the time from the click to the command list painted with the new commands, the
// process's peak resident memory over that time (VmHWM, reset at the click), and the longest the
// user-interface thread went without running a 1 ms timer, which is how long the window could not
// answer. Arguments: the length of each line in bytes (0: the whole file is one line) and the
// file's size in MiB; lines end in LF. The program uses only the window's public face and the
// list's item-view interface, so the same source measures older builds of the window too.
//
//   vorlanti_command_load_bench --benchmark_repetitions=5 --benchmark_filter='/64$'
#include "ProcessMeter.h"
#include "terminal/ControlIds.h"
#include "terminal/TerminalDlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace
{

QTemporaryDir& Files()
{
    static QTemporaryDir dir;
    return dir;
}

// A file of `mebibytes` MiB of lines of `lineLength` bytes ('0' to '9' by row) and an LF each,
// or of one line of that size; written once per shape. Returns the path and its line count.
std::pair<QString, int> CommandFile(int lineLength, int mebibytes)
{
    static std::map<std::pair<int, int>, std::pair<QString, int>> written;
    auto& file = written[{lineLength, mebibytes}];
    if (!file.first.isEmpty())
        return file;
    const std::size_t size = std::size_t(mebibytes) << 20;
    std::string bytes(size, '\n');
    int lines = 1;
    if (lineLength == 0)
    {
        std::fill(bytes.begin(), bytes.end(), 'A');
    }
    else
    {
        const std::size_t pitch = std::size_t(lineLength) + 1;
        lines = static_cast<int>(size / pitch);
        for (std::size_t row = 0; row < std::size_t(lines); ++row)
            std::fill_n(bytes.begin() + std::ptrdiff_t(row * pitch), lineLength,
                        static_cast<char>('0' + row % 10));
    }
    file.first =
        Files().filePath(QStringLiteral("commands-%1-%2.txt").arg(lineLength).arg(mebibytes));
    std::ofstream(file.first.toStdString(), std::ios::binary) << bytes;
    file.second = lines;
    return file;
}

std::int64_t PeakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string field;
    std::int64_t kilobytes = 0;
    while (status >> field)
        if (field == "VmHWM:" && status >> kilobytes)
            break;
    return kilobytes * 1024;
}

void ResetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Ends `loop` at the first paint of the list that shows `rows` rows once "Open file" is enabled
// again, that is once the load has ended.
class CPaintedWhenLoaded : public QObject
{
  public:
    CPaintedWhenLoaded(QAbstractItemView* list, QWidget* openFile, int rows, QEventLoop& loop)
        : m_list(list), m_openFile(openFile), m_rows(rows), m_loop(loop)
    {
        list->viewport()->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_openFile->isEnabled() &&
            m_list->model()->rowCount() == m_rows)
            m_loop.quit(); // the loop ends once this paint is done
        return false;
    }

  private:
    QAbstractItemView* m_list;
    QWidget* m_openFile;
    int m_rows;
    QEventLoop& m_loop;
};

void BM_OpenFileToPaintedList(benchmark::State& state)
{
    const auto [path, rows] =
        CommandFile(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
    {
        auto dlg = std::make_unique<CTerminalDlg>();
        dlg->show();
        if (!QTest::qWaitForWindowExposed(dlg.get()))
            std::abort();
        auto* list = qobject_cast<QAbstractItemView*>(dlg->GetDlgItem(IDC_COMMANDS));
        QWidget* openFile = dlg->GetDlgItem(IDC_OPEN_FILE);
        dlg->SetCommandFileChooser([path = path] { return path; });

        QEventLoop loop;
        CPaintedWhenLoaded painted(list, openFile, rows, loop);
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        std::int64_t lastTick = 0;
        std::int64_t longestGap = 0;
        QObject::connect(&tick, &QTimer::timeout,
                         [&]
                         {
                             const std::int64_t now = NowNs();
                             longestGap = std::max(longestGap, now - lastTick);
                             lastTick = now;
                         });
        std::int64_t start = 0;
        QTimer::singleShot(0,
                           [&]
                           {
                               ResetPeakResident();
                               start = lastTick = NowNs();
                               tick.start();
                               QTest::mouseClick(openFile, Qt::LeftButton);
                           });
        loop.exec();
        const std::int64_t end = NowNs();
        tick.stop();
        longestGap = std::max(longestGap, end - lastTick);
        state.SetIterationTime(double(end - start) / 1e9);
        state.counters["peak_MB"] = double(PeakResidentBytes()) / 1e6;
        state.counters["stall_ms"] = double(longestGap) / 1e6;
        if (list->model()->rowCount() != rows)
            std::abort();
    }
    state.counters["rows"] = rows;
}
// Line lengths 1, 16, 1023 and one line, each at 1, 8 and 64 MiB.
BENCHMARK(BM_OpenFileToPaintedList)
    ->ArgsProduct({{1, 16, 1023, 0}, {1, 8, 64}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
