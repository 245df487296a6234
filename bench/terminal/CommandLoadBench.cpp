// "Open file" with a large command file, as the user waits for it, on the real window
// (offscreen): the time from the click to the command list painted with the new commands, the
// process's peak resident memory over that time (VmHWM, reset at the click), and the longest the
// user-interface thread went without running a 1 ms timer, which is how long the window could not
// answer. Arguments: the length of each line in bytes (0: the whole file is one line) and the
// file's size in MiB; lines end in LF. The program uses only the window's public face and the
// list's item-view interface, so the same source measures older builds of the window too.
//
// Two actions on a loaded list follow, each with the longest the user-interface thread went
// without running the 1 ms timer: Ctrl+C on the one command of a one-line 64 MiB file (its time
// is that of the key, and the resident memory it added), and a keyboard search over the
// 33,554,432 rows of a 64 MiB file of one-character lines whose only match is the last row
// (its time runs from the key to the match made current).
//
//   vorlanti_command_load_bench --benchmark_repetitions=5 --benchmark_filter='/64$'
//   vorlanti_command_load_bench --benchmark_repetitions=5 --benchmark_filter='Copy|Search'
#include "ProcessMeter.h"
#include "StallMeter.h"
#include "terminal/ControlIds.h"
#include "terminal/TerminalDlg.h"
#include "terminal/accessible/AccessibleFactory.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QMimeData>
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

std::unique_ptr<CTerminalDlg> ShownWindow()
{
    auto dlg = std::make_unique<CTerminalDlg>();
    dlg->show();
    if (!QTest::qWaitForWindowExposed(dlg.get()))
        std::abort();
    return dlg;
}

void BM_OpenFileToPaintedList(benchmark::State& state)
{
    const auto [path, rows] =
        CommandFile(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
    {
        auto dlg = ShownWindow();
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

// A shown window whose command list holds the file at `path`, of `rows` rows.
std::unique_ptr<CTerminalDlg> LoadedWindow(const QString& path, int rows)
{
    auto dlg = ShownWindow();
    auto* list = qobject_cast<QAbstractItemView*>(dlg->GetDlgItem(IDC_COMMANDS));
    QWidget* openFile = dlg->GetDlgItem(IDC_OPEN_FILE);
    dlg->SetCommandFileChooser([path] { return path; });
    QTest::mouseClick(openFile, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return openFile->isEnabled() && list->model()->rowCount() == rows; },
                         120000))
        std::abort();
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QCoreApplication::processEvents();
    return dlg;
}

void BM_CopyALongCommand(benchmark::State& state)
{
    const auto [path, rows] = CommandFile(0, 64);
    auto dlg = LoadedWindow(path, rows);
    auto* list = qobject_cast<QAbstractItemView*>(dlg->GetDlgItem(IDC_COMMANDS));
    for (auto _ : state)
    {
        QGuiApplication::clipboard()->clear();
        QCoreApplication::processEvents();
        const std::int64_t resident = ResidentBytes();
        CStallMeter stall;
        const std::int64_t start = NowNs();
        QTest::keySequence(list, QKeySequence::Copy);
        state.SetIterationTime(double(NowNs() - start) / 1e9);
        state.counters["stall_ms"] = stall.LongestMs();
        state.counters["added_MB"] = double(ResidentBytes() - resident) / 1e6;
        if (!QGuiApplication::clipboard()->mimeData()->hasText())
            std::abort();
    }
}
BENCHMARK(BM_CopyALongCommand)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SearchEveryRow(benchmark::State& state)
{
    static const auto file = []
    {
        std::string bytes(CCommandFile::kMaxFileSize, '\n');
        for (std::size_t i = 0; i < bytes.size(); i += 2)
            bytes[i] = '0';
        bytes[bytes.size() - 2] = 'Z';
        const QString path = Files().filePath(QStringLiteral("search.txt"));
        std::ofstream(path.toStdString(), std::ios::binary) << bytes;
        return std::pair{path, static_cast<int>(bytes.size() / 2)};
    }();
    auto dlg = LoadedWindow(file.first, file.second);
    auto* list = qobject_cast<QAbstractItemView*>(dlg->GetDlgItem(IDC_COMMANDS));
    const QModelIndex first = list->model()->index(0, 0);
    const QModelIndex last = list->model()->index(file.second - 1, 0);
    for (auto _ : state)
    {
        list->setCurrentIndex(first);
        QCoreApplication::processEvents();
        QEventLoop loop;
        const auto found =
            QObject::connect(list->selectionModel(), &QItemSelectionModel::currentChanged,
                             [&](const QModelIndex& now)
                             {
                                 if (now == last)
                                     loop.quit();
                             });
        CStallMeter stall;
        std::int64_t start = 0;
        QTimer::singleShot(0,
                           [&]
                           {
                               start = NowNs();
                               QTest::keyClick(list, Qt::Key_Z);
                           });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        QObject::disconnect(found);
        if (list->currentIndex() != last)
            std::abort();
        state.SetIterationTime(double(NowNs() - start) / 1e9);
        state.counters["stall_ms"] = stall.LongestMs();
        // The next key must start a search of its own, not add to this one.
        QTest::qWait(QApplication::keyboardInputInterval() + 50);
    }
    state.counters["rows"] = file.second;
}
BENCHMARK(BM_SearchEveryRow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallAccessibleFactory();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
