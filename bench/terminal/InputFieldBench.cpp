// The Input field with a long text, as the user waits for it: the time from an action to the
// field painted again, for a keystroke in the middle of the text, a paste of the whole text
// into an empty field, a picked command line of that length, and a word move (Ctrl+Right) and a
// double-click in a text that is one long word. "after" is the real window's CInputField;
// "before" is the QLineEdit the window had at afc5652 (no length limit, the window's font and
// the Input's place), with that commit's pick handler. QLineEdit lays out its
// whole text on every change, so it is measured at sizes that keep the run within memory.
// PickFromList is the whole pick on the real window: a double-click on a command list row of
// that length (and a comment) to the Input painted with the command. It uses only the window's
// public face, so the same source measures older builds of the window too.
//
//   build/bench/terminal/vorlanti_input_field_bench
//   build/bench/terminal/vorlanti_input_field_bench --benchmark_filter='(Paste|PickFromList)/after'
#include "ProcessMeter.h"
#include "commands/CommandListBox.h"
#include "terminal/ControlIds.h"
#include "terminal/InputField.h"
#include "terminal/TerminalDlg.h"
#include "terminal/TerminalLayout.h"
#include "terminal/accessible/AccessibleFactory.h"
#include "text/CommandLine.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace
{
QByteArray HexText(qsizetype chars)
{
    return QByteArray("0123456789ABCDEF").repeated(chars / 16 + 1).left(chars);
}

// One Input field, before or after, shown and focused in a window of its own.
class CField
{
  public:
    explicit CField(bool before)
    {
        if (before)
        {
            m_window = std::make_unique<QDialog>();
            m_window->setFont(TerminalTemplateFont());
            const CDialogUnits units(m_window->font());
            m_window->setFixedSize(units.ToPixels(QSize(kTemplateWidth, kTemplateHeight)));
            m_edit = new QLineEdit(m_window.get());
            m_edit->setMaxLength(std::numeric_limits<int>::max());
            for (const ControlSpec& control : kTerminalControls)
                if (control.id == IDC_INPUT)
                    m_edit->setGeometry(
                        units.ToPixels(control.x, control.y, control.cx, control.cy));
            m_widget = m_edit;
        }
        else
        {
            m_terminal = new CTerminalDlg();
            m_window.reset(m_terminal);
            m_input = static_cast<CInputField*>(m_terminal->GetDlgItem(IDC_INPUT));
            m_widget = m_input;
        }
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            std::abort();
        QApplication::setActiveWindow(m_window.get());
        m_widget->setFocus();
    }

    QWidget* Widget() const { return m_widget; }
    CTerminalDlg* Terminal() const { return m_terminal; }

    void SetText(const QByteArray& text, qsizetype cursor)
    {
        if (m_edit != nullptr)
        {
            m_edit->setText(QString::fromLatin1(text));
            m_edit->setCursorPosition(static_cast<int>(cursor));
        }
        else
        {
            m_input->SetBytes(text);
            m_input->SetCursorPosition(cursor);
        }
        QCoreApplication::processEvents();
    }

    void SetCursor(qsizetype cursor)
    {
        if (m_edit != nullptr)
            m_edit->setCursorPosition(static_cast<int>(cursor));
        else
            m_input->SetCursorPosition(cursor);
    }

    qsizetype Length() const
    {
        return m_edit != nullptr ? m_edit->text().size() : m_input->Length();
    }

    // A double-clicked command line, as each window's handler puts it into its Input.
    void Pick(const QByteArray& line)
    {
        if (m_edit == nullptr)
        {
            m_terminal->OnCommandPicked(line);
            return;
        }
        std::string command(line.constData(), static_cast<std::size_t>(line.size()));
        CutComment(command.data());
        TrimSpaces(command.data());
        command.resize(std::strlen(command.c_str()));
        m_edit->setText(QString::fromLocal8Bit(command));
    }

  private:
    std::unique_ptr<QDialog> m_window;
    CTerminalDlg* m_terminal = nullptr;
    QLineEdit* m_edit = nullptr;
    CInputField* m_input = nullptr;
    QWidget* m_widget = nullptr;
};

// Runs `action` and the paint that shows its result, and records how long both took.
template <class Action> void Time(benchmark::State& state, QWidget* widget, Action action)
{
    const std::int64_t start = NowNs();
    action();
    widget->repaint();
    state.SetIterationTime(static_cast<double>(NowNs() - start) / 1e9);
}

void Finish(benchmark::State& state, const CField& field, qsizetype expected)
{
    if (field.Length() != expected)
        state.SkipWithError("the field does not hold what was put in");
    state.counters["chars"] = static_cast<double>(expected);
    state.counters["rss_MiB"] = static_cast<double>(ResidentBytes()) / (1024.0 * 1024.0);
}

void Keystroke(benchmark::State& state, bool before, qsizetype chars)
{
    CField field(before);
    field.SetText(HexText(chars), chars / 2);
    qsizetype typed = 0;
    for (auto _ : state)
    {
        Time(state, field.Widget(), [&] { QTest::keyClick(field.Widget(), Qt::Key_A); });
        ++typed;
    }
    Finish(state, field, chars + typed);
}

// Ctrl+Right from the middle of a text that is one long word, the caret put back between moves.
void WordMove(benchmark::State& state, bool before, qsizetype chars)
{
    CField field(before);
    field.SetText(HexText(chars), chars / 2);
    for (auto _ : state)
    {
        field.SetCursor(chars / 2);
        Time(state, field.Widget(),
             [&] { QTest::keyClick(field.Widget(), Qt::Key_Right, Qt::ControlModifier); });
    }
    Finish(state, field, chars);
}

// A double-click on that word, which selects it.
void DoubleClickWord(benchmark::State& state, bool before, qsizetype chars)
{
    CField field(before);
    field.SetText(HexText(chars), chars / 2);
    const QPoint middle = field.Widget()->rect().center();
    for (auto _ : state)
    {
        field.SetCursor(chars / 2);
        Time(state, field.Widget(),
             [&] { QTest::mouseDClick(field.Widget(), Qt::LeftButton, Qt::NoModifier, middle); });
    }
    Finish(state, field, chars);
}

void Paste(benchmark::State& state, bool before, qsizetype chars)
{
    CField field(before);
    QGuiApplication::clipboard()->setText(QString::fromLatin1(HexText(chars)));
    for (auto _ : state)
    {
        field.SetText(QByteArray(), 0);
        Time(state, field.Widget(),
             [&] { QTest::keyClick(field.Widget(), Qt::Key_V, Qt::ControlModifier); });
    }
    Finish(state, field, chars);
}

void Pick(benchmark::State& state, bool before, qsizetype chars)
{
    CField field(before);
    field.SetText("typed", 5);
    const QByteArray line = HexText(chars) + "   // the comment";
    for (auto _ : state)
        Time(state, field.Widget(), [&] { field.Pick(line); });
    Finish(state, field, chars);
}

void PickFromList(benchmark::State& state, bool before, qsizetype chars)
{
    CField field(before);
    field.SetText("typed", 5);
    auto* list = static_cast<CCommandListBox*>(field.Terminal()->GetDlgItem(IDC_COMMANDS));
    list->AddCommand(HexText(chars) + "   // the comment");
    const QPoint row = list->visualRect(list->model()->index(0, 0)).center();
    for (auto _ : state)
        Time(state, field.Widget(),
             [&] { QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, row); });
    Finish(state, field, chars);
}

void Register(const char* action, void (*run)(benchmark::State&, bool, qsizetype), bool before,
              qsizetype chars, const char* size)
{
    const std::string name = std::string(action) + (before ? "/before" : "/after") + "/" + size;
    benchmark::RegisterBenchmark(name.c_str(), run, before, chars)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(before ? 1 : 5)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("min", [](const std::vector<double>& v)
                            { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics("max", [](const std::vector<double>& v)
                            { return *std::max_element(v.begin(), v.end()); });
}
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallAccessibleFactory();

    constexpr qsizetype kMi = 1024 * 1024;
    for (const auto& [action, run] :
         {std::pair{"Keystroke", &Keystroke}, std::pair{"Paste", &Paste}, std::pair{"Pick", &Pick},
          std::pair{"WordMove", &WordMove}, std::pair{"DoubleClickWord", &DoubleClickWord}})
    {
        Register(action, run, true, kMi / 4, "256Ki");
        Register(action, run, true, kMi, "1Mi");
        Register(action, run, false, kMi, "1Mi");
        Register(action, run, false, 64 * kMi, "64Mi");
    }
    Register("PickFromList", &PickFromList, false, kMi, "1Mi");
    Register("PickFromList", &PickFromList, false, 64 * kMi, "64Mi");

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
