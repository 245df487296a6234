// "Open file" with a large command file, as the user waits for it: the time from the file being
// chosen to the command list painted with the new commands, on the real window (offscreen).
// Files of 10,000 and 100,000 lines of 100 bytes (hex, a comment, CR LF); the same file loaded
// into an empty list and appended to a list that already holds 100,000 commands.
#include "commands/CommandListBox.h"
#include "terminal/ControlIds.h"
#include "terminal/TerminalDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <QTest>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace
{

QString WriteCommandFile(const QTemporaryDir& dir, int lines)
{
    const QString path = dir.filePath(QStringLiteral("commands-%1.txt").arg(lines));
    std::ofstream out(path.toStdString(), std::ios::binary);
    char line[128];
    for (int i = 0; i < lines; ++i)
    {
        std::snprintf(line, sizeof line, "%08X 55AA 0102030405060708 // command %06d",
                      static_cast<unsigned>(i), i);
        std::string text(line);
        text.resize(98, ' ');
        out << text << "\r\n";
    }
    return path;
}

// Counts the paints of a widget.
class CPaintCounter : public QObject
{
  public:
    explicit CPaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int Count() const { return m_paints; }

  protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_paints;
        return false;
    }

  private:
    int m_paints = 0;
};

QTemporaryDir& Files()
{
    static QTemporaryDir dir;
    return dir;
}

// Arguments: lines in the file; commands already in the list.
void BM_OpenFileToPaintedList(benchmark::State& state)
{
    const int lines = static_cast<int>(state.range(0));
    const int already = static_cast<int>(state.range(1));
    const QString path = WriteCommandFile(Files(), lines);
    const QString earlier = already > 0 ? WriteCommandFile(Files(), already) : QString();
    for (auto _ : state)
    {
        auto dlg = std::make_unique<CTerminalDlg>();
        dlg->show();
        if (!QTest::qWaitForWindowExposed(dlg.get()))
            std::abort();
        auto* list = static_cast<CCommandListBox*>(dlg->GetDlgItem(IDC_COMMANDS));
        if (!earlier.isEmpty())
        {
            dlg->SetCommandFileChooser([&] { return earlier; });
            dlg->OnOpenFile();
            QCoreApplication::processEvents();
        }
        dlg->SetCommandFileChooser([&] { return path; });
        CPaintCounter paints(list->viewport());

        QElapsedTimer timer;
        timer.start();
        dlg->OnOpenFile();
        // The list lays itself out and paints from the event loop, as it does for the user.
        while (paints.Count() == 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);

        if (list->count() != lines + already)
            std::abort();
    }
    state.counters["commands"] = lines;
}
BENCHMARK(BM_OpenFileToPaintedList)
    ->Args({10000, 0})
    ->Args({100000, 0})
    ->Args({100000, 100000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

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
