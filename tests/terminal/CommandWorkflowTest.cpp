// Command files into the command list, and picked commands into the Input field, through the
// real window: its "Open file" button and file dialog, its list and its double-clicks.
#include "ModalWatcher.h"
#include "PtyDevice.h"
#include "WindowUnderLoad.h"
#include "commands/CommandListBox.h"
#include "terminal/ControlIds.h"
#include "terminal/InputField.h"
#include "terminal/ReceiveView.h"
#include "terminal/TerminalDlg.h"

#include <QAccessible>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace
{
// Sanitized builds keep shadow memory beside every allocation, so their peak says nothing of ours.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define COMMANDS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define COMMANDS_SANITIZED 1
#endif
#endif

#ifndef COMMANDS_SANITIZED
// The most memory this process has had resident since the last ResetPeakResident, in bytes.
std::int64_t PeakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string field;
    std::int64_t kilobytes = -1;
    while (status >> field)
        if (field == "VmHWM:" && status >> kilobytes)
            break;
    return kilobytes * 1024;
}
#endif

void ResetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

class CommandWorkflow : public WindowUnderLoad
{
  protected:
    void SetUp() override
    {
        WindowUnderLoad::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        m_list = qobject_cast<CCommandListBox*>(m_dlg->GetDlgItem(IDC_COMMANDS));
        m_input = qobject_cast<CInputField*>(m_dlg->GetDlgItem(IDC_INPUT));
        ASSERT_NE(m_list, nullptr);
        ASSERT_NE(m_input, nullptr);
    }

    QString WriteFile(const char* name, const std::string& bytes)
    {
        const QString path = m_files.filePath(QString::fromLatin1(name));
        std::ofstream(path.toStdString(), std::ios::binary) << bytes;
        return path;
    }

    // "Open file" with the file dialog answered by `path` (empty: cancelled), until the load has
    // ended. Afterwards the window asks with its real dialog again.
    void OpenFile(const QString& path)
    {
        m_dlg->SetCommandFileChooser([path] { return path; });
        QTest::mouseClick(m_dlg->GetDlgItem(IDC_OPEN_FILE), Qt::LeftButton);
        m_dlg->SetCommandFileChooser(nullptr);
        WaitForTheLoad();
    }

    // The file is read beside the window; "Open file" is enabled again when it has been added.
    void WaitForTheLoad()
    {
        ASSERT_TRUE(WaitFor([this] { return m_dlg->GetDlgItem(IDC_OPEN_FILE)->isEnabled(); }));
    }

    // "Open file" expecting a message box; returns its text ("" when none showed) and leaves
    // the box answered.
    QString OpenFileAndReadBox(const QString& path)
    {
        QString text;
        WhileRunning([&] { OpenFile(path); },
                     [&](QWidget* top)
                     {
                         auto* box = qobject_cast<QMessageBox*>(top);
                         ASSERT_NE(box, nullptr);
                         EXPECT_EQ(box->icon(), QMessageBox::Warning);
                         EXPECT_EQ(box->windowTitle(), "Open file");
                         text = box->text();
                         box->button(QMessageBox::Ok)->click();
                     });
        return text;
    }

    // The user scrolls to row `row` of the command list and double-clicks it.
    void Pick(int row)
    {
        const QModelIndex index = m_list->model()->index(row, 0);
        m_list->scrollTo(index);
        const QPoint pos = m_list->visualRect(index).center();
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, Qt::NoModifier, pos);
        QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, Qt::NoModifier, pos);
    }

    QByteArrayList Shown() const
    {
        QByteArrayList shown;
        for (int row = 0; row < m_list->commands().Count(); ++row)
        {
            const std::string_view line = m_list->commands().Line(row);
            shown.append(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
        }
        return shown;
    }

    QTemporaryDir m_files;
    CCommandListBox* m_list = nullptr;
    CInputField* m_input = nullptr;
};

TEST_F(CommandWorkflow, OpenFileAppendsEveryCommandAfterThoseShown)
{
    const QString first = WriteFile("first.txt", "0A0B  // one\r\n\r\n\n0C\\two\n\n  0D  \n");
    const QString second = WriteFile("second.TXT", "EE\nFF");
    const QByteArrayList firstCommands{"0A0B  // one", "0C\\two", "  0D  "};

    OpenFile(first);
    EXPECT_EQ(Shown(), firstCommands);
    // The button, clicked, had the focus; disabled for the load, it passed it on, and it has it
    // back at the end. Moved elsewhere meanwhile, the focus stays where the user put it.
    EXPECT_EQ(m_dlg->focusWidget(), m_dlg->GetDlgItem(IDC_OPEN_FILE));
    m_dlg->SetCommandFileChooser([first] { return first; });
    QTest::mouseClick(m_dlg->GetDlgItem(IDC_OPEN_FILE), Qt::LeftButton);
    m_input->setFocus();
    WaitForTheLoad();
    EXPECT_EQ(m_dlg->focusWidget(), m_input);
    EXPECT_EQ(Shown(), firstCommands + firstCommands);
    OpenFile(second);
    EXPECT_EQ(Shown(), firstCommands + firstCommands + QByteArrayList({"EE", "FF"}));
    EXPECT_TRUE(m_input->Text().isEmpty());
}

TEST_F(CommandWorkflow, AFileThatCannotBeOpenedAddsNothingAndSaysNothing)
{
    OpenFile(WriteFile("shown.txt", "01\n02\n"));
    for (const QString& path :
         {m_files.filePath("missing.txt"), m_files.path(), WriteFile("empty.txt", "\n\r\n")})
    {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(OpenFileAndReadBox(path), "");
        EXPECT_EQ(Shown(), (QByteArrayList{"01", "02"}));
    }
}

TEST_F(CommandWorkflow, AFileThatCannotBeReadWholeSaysWhyAndAddsNothing)
{
    OpenFile(WriteFile("shown.txt", "01\n02\n"));

    // Over the size cap: a sparse file costs no disk.
    const QString huge = WriteFile("huge.txt", "");
    ASSERT_EQ(::truncate(huge.toLocal8Bit().constData(),
                         static_cast<off_t>(CCommandFile::kMaxFileSize + 1)),
              0);
    // A file that opens but fails part way: reading this process's memory from address 0.
    const struct
    {
        QString path;
        const char* reason;
    } cases[] = {{huge, std::strerror(EFBIG)},
                 {QStringLiteral("/proc/self/mem"), std::strerror(EIO)}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path.toStdString());
        const QString text = OpenFileAndReadBox(c.path);
        EXPECT_TRUE(text.contains(c.path)) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromLocal8Bit(c.reason))) << text.toStdString();
        EXPECT_EQ(Shown(), (QByteArrayList{"01", "02"}));
    }
}

TEST_F(CommandWorkflow, TheFileDialogOffersTextFilesAndCancelChangesNothing)
{
    m_list->AddCommand("01");
    m_input->SetText("typed");
    const QString chosen = WriteFile("chosen.TXT", "02\n");

    for (const bool accept : {false, true})
    {
        SCOPED_TRACE(accept ? "accepted" : "cancelled");
        WhileRunning([&] { QTest::mouseClick(m_dlg->GetDlgItem(IDC_OPEN_FILE), Qt::LeftButton); },
                     [&](QWidget* top)
                     {
                         auto* dialog = qobject_cast<QFileDialog*>(top);
                         ASSERT_NE(dialog, nullptr);
                         EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
                         EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
                         EXPECT_EQ(dialog->nameFilters(),
                                   (QStringList{"Txt Files (*.txt)", "All Files (*)"}));
                         EXPECT_EQ(dialog->selectedNameFilter(), "Txt Files (*.txt)");
                         EXPECT_EQ(dialog->defaultSuffix(), "TXT");
                         if (accept)
                         {
                             // The user goes to the file's folder and types its name.
                             dialog->setDirectory(QFileInfo(chosen).path());
                             auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                             ASSERT_NE(name, nullptr);
                             EXPECT_EQ(name->text(), "*.TXT");
                             name->clear();
                             QTest::keyClicks(name, QFileInfo(chosen).fileName());
                             auto* buttons = dialog->findChild<QDialogButtonBox*>();
                             ASSERT_NE(buttons, nullptr);
                             QPushButton* open = buttons->button(QDialogButtonBox::Open);
                             // The dialog takes a name once it has listed its folder.
                             ASSERT_TRUE(WaitFor([&] { return open->isEnabled(); }));
                             open->click();
                         }
                         else
                         {
                             dialog->reject();
                         }
                     });
        WaitForTheLoad();
        EXPECT_EQ(Shown(), accept ? QByteArrayList({"01", "02"}) : QByteArrayList{"01"});
        EXPECT_EQ(m_input->Text(), "typed");
    }
}

TEST_F(CommandWorkflow, PickingPutsTheCleanedCommandIntoTheInputField)
{
    const QByteArray longCommand(5000, 'A');
    const struct
    {
        QByteArray command;
        QString input;
    } cases[] = {
        {"0A0B  // a comment", "0A0B"},
        {"0A0B\\a comment", "0A0B"},
        {"  // only a comment", ""},
        {"     ", ""},
        {" 0A\t0B \t ", "0A\t0B \t"},
        {"01 // first \\ second", "01"},
        {longCommand + "  // the comment", QString::fromLatin1(longCommand)},
    };
    for (const auto& c : cases)
        m_list->AddCommand(c.command);
    ASSERT_FALSE(m_dlg->IsPortOpen());

    for (int row = 0; row < m_list->model()->rowCount(); ++row)
    {
        SCOPED_TRACE(row);
        m_input->setFocus();
        m_input->SetText("typed");
        QTest::keyClicks(m_input, "99");
        Pick(row);
        EXPECT_EQ(m_input->Text(), cases[row].input);
        // Nothing is sent or reopened by a pick.
        EXPECT_FALSE(m_dlg->IsPortOpen());
    }

    // The list is not changed by picking; a null text changes nothing.
    EXPECT_EQ(m_list->model()->rowCount(), static_cast<int>(std::size(cases)));
    m_dlg->OnCommandPicked(QByteArray());
    EXPECT_EQ(m_input->Text(), cases[std::size(cases) - 1].input);
}

TEST_F(CommandWorkflow, APickedCommandGoesToTheDeviceWithSendChars)
{
    OpenFile(WriteFile("ping.txt", "// ping the device\n50494E47   // PING\n"));
    Pick(1);
    ASSERT_EQ(m_input->Text(), "50494E47");

    QTest::mouseClick(m_dlg->GetDlgItem(IDC_OPEN_PORT), Qt::LeftButton);
    ASSERT_TRUE(m_dlg->IsPortOpen());
    QTest::mouseClick(m_dlg->GetDlgItem(IDC_SEND), Qt::LeftButton);
    EXPECT_EQ(m_com1->Receive(4, 5000), (std::vector<std::uint8_t>{'P', 'I', 'N', 'G'}));

    ASSERT_TRUE(m_com1->Send("PONG", 4));
    auto* view = qobject_cast<CReceiveView*>(m_dlg->GetDlgItem(IDC_RECEIVE));
    EXPECT_TRUE(WaitFor([&] { return view->Text(0, view->Length()) == "504F4E47"; }));
}

// The largest file the reader takes, of one-character lines: 33,554,432 commands. They are held
// once and shown through the model; the window, its accessible list and its end stay cheap.
TEST_F(CommandWorkflow, AFileOfOneCharacterLinesAtTheSizeCapLoadsWholeAndPicks)
{
    constexpr int kRows = static_cast<int>(CCommandFile::kMaxFileSize / 2);
    const auto letter = [](int row) { return QString(QChar(u'A' + row % 26)); };
    QString path;
    {
        std::string bytes(CCommandFile::kMaxFileSize, '\n');
        for (std::size_t i = 0; i < bytes.size(); i += 2)
            bytes[i] = static_cast<char>('A' + (i / 2) % 26);
        path = WriteFile("letters.txt", bytes);
    }
    ResetPeakResident();

    OpenFile(path);
    ASSERT_EQ(m_list->model()->rowCount(), kRows);
    EXPECT_EQ(m_list->model()->index(0, 0).data().toString(), letter(0));
    EXPECT_EQ(m_list->model()->index(kRows - 1, 0).data().toString(), letter(kRows - 1));
    Pick(kRows - 1);
    EXPECT_EQ(m_list->currentIndex().row(), kRows - 1);
    EXPECT_EQ(m_input->Text(), letter(kRows - 1));

    // A screen reader finds every row without the list building one object per row.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_list);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->childCount(), kRows);
    QAccessibleInterface* last = list->child(kRows - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->role(), QAccessible::ListItem);
    EXPECT_EQ(last->text(QAccessible::Name), letter(kRows - 1));
    EXPECT_TRUE(last->state().selected);
    ASSERT_NE(list->tableInterface(), nullptr);
    EXPECT_EQ(list->tableInterface()->selectedRows(), QList<int>{kRows - 1});
#ifndef COMMANDS_SANITIZED
    EXPECT_LT(PeakResidentBytes(), 400'000'000);
#endif

    // Ending the window while it reads the file again ends the reading too.
    const int threads = Threads();
    m_dlg->SetCommandFileChooser([path] { return path; });
    QTest::mouseClick(m_dlg->GetDlgItem(IDC_OPEN_FILE), Qt::LeftButton);
    m_dlg.reset();
    EXPECT_EQ(Threads(), threads);
}
} // namespace
