// The terminal window, driven through its controls with a pseudo-terminal as COM1.
#include "terminal/TerminalDlg.h"

#include "PtyDevice.h"
#include "WindowUnderLoad.h"
#include "commands/CommandListBox.h"
#include "terminal/ControlIds.h"
#include "terminal/InputField.h"
#include "terminal/ReceiveView.h"
#include "terminal/StatusPane.h"
#include "terminal/TerminalLayout.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace
{
using Bytes = std::vector<std::uint8_t>;

QStringList Items(QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// What a modal message box showed while `action` ran; the box is answered with OK.
struct SeenBox
{
    bool shown = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

SeenBox WatchForMessageBox(const std::function<void()>& action)
{
    SeenBox seen;
    QTimer watcher;
    QObject::connect(
        &watcher, &QTimer::timeout,
        [&]
        {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || seen.shown)
                return;
            seen = {true, box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
            box->button(QMessageBox::Ok)->click();
        });
    watcher.start(10);
    action();
    return seen;
}

// The window of WindowUnderLoad, with the helpers only these tests use.
class TerminalWindow : public WindowUnderLoad
{
  protected:
    CReceiveView* View() { return Item<CReceiveView>(IDC_RECEIVE); }
    bool Enabled(int id) { return m_dlg->GetDlgItem(id)->isEnabled(); }

    // Waits until the view shows exactly `hex`.
    bool Shows(const std::string& hex, int timeoutMs = 10000)
    {
        return WaitFor([&] { return View()->Text(0, View()->Length()).toStdString() == hex; },
                       timeoutMs);
    }
    bool PortIsFree(int n)
    {
        CSerialPort other(m_tree.Roots());
        return other.Open(n) != 0;
    }
};

TEST_F(TerminalWindow, StartsWithTheDefaults)
{
    EXPECT_EQ(m_dlg->windowTitle(), "Vorlanti");
    EXPECT_EQ(m_dlg->minimumSize(), m_dlg->maximumSize());
    EXPECT_FALSE(m_dlg->windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    EXPECT_EQ(Items(Choice(IDC_PORT)),
              QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
    EXPECT_EQ(Items(Choice(IDC_BAUDRATE)),
              QStringList({"4800", "9600", "14400", "19200", "28800", "38400", "57600", "115200"}));
    EXPECT_EQ(Items(Choice(IDC_BYTESIZE)), QStringList({"5", "6", "7", "8"}));
    EXPECT_EQ(Items(Choice(IDC_STOPBITS)), QStringList({"1", "1.5", "2"}));
    EXPECT_EQ(Items(Choice(IDC_PARITY)), QStringList({"None", "Odd", "Even", "Mark", "Space"}));
    EXPECT_EQ(Items(Choice(IDC_FLOW)), QStringList({"Hardware", "Software", "None", "Custom"}));
    EXPECT_EQ(Choice(IDC_PORT)->currentText(), "COM1");
    EXPECT_EQ(Choice(IDC_BAUDRATE)->currentText(), "115200");
    EXPECT_EQ(Choice(IDC_BYTESIZE)->currentText(), "8");
    EXPECT_EQ(Choice(IDC_STOPBITS)->currentText(), "1");
    EXPECT_EQ(Choice(IDC_PARITY)->currentText(), "None");
    EXPECT_EQ(Choice(IDC_FLOW)->currentText(), "None");
    EXPECT_TRUE(Item<QCheckBox>(IDC_DTR)->isChecked());
    EXPECT_TRUE(Item<QCheckBox>(IDC_RTS)->isChecked());

    EXPECT_TRUE(Enabled(IDC_OPEN_PORT));
    EXPECT_FALSE(Enabled(IDC_CLOSE_PORT));
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM not open");
    EXPECT_EQ(Pane(IDC_STATUS_BAUD), "115200bps");
    EXPECT_EQ(Pane(IDC_STATUS1), "");
    EXPECT_EQ(Pane(IDC_STATUS2), "");
    EXPECT_EQ(Item<CInputField>(IDC_INPUT)->Text(), "");
    EXPECT_EQ(View()->Length(), 0);
    EXPECT_EQ(Item<CCommandListBox>(IDC_COMMANDS)->model()->rowCount(), 0);
    EXPECT_FALSE(m_dlg->IsPortOpen());
    EXPECT_FALSE(m_dlg->IsWorkerRunning());

    EXPECT_FALSE(Item<QLabel>(IDC_BANNER)->isVisible());
    EXPECT_EQ(Item<QLabel>(IDC_BANNER)->text(), "Tessaloriant");
    QApplication::setActiveWindow(m_dlg.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    EXPECT_EQ(QApplication::focusWidget(), m_dlg->GetDlgItem(IDC_PORT));
}

TEST_F(TerminalWindow, LaysOutTheTemplateReadablyAndAccessibly)
{
    const CDialogUnits units(m_dlg->font());
    EXPECT_EQ(m_dlg->size(), units.ToPixels(QSize(kTemplateWidth, kTemplateHeight)));

    // Every control sits inside the window, no two controls overlap (frames aside), every
    // caption fits, and every control has a name for assistive technologies.
    const QList<QWidget*> controls = m_dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(controls.size(), static_cast<int>(kTerminalControls.size()));
    for (QWidget* a : controls)
    {
        SCOPED_TRACE(a->objectName().toStdString());
        // A status pane is named by the text it shows and described by what it is for.
        if (qobject_cast<CStatusPane*>(a) != nullptr)
            EXPECT_FALSE(
                QAccessible::queryAccessibleInterface(a)->text(QAccessible::Description).isEmpty());
        else
            EXPECT_FALSE(a->accessibleName().isEmpty());
        EXPECT_TRUE(m_dlg->rect().contains(a->geometry()));
        if (qobject_cast<QAbstractButton*>(a) != nullptr || qobject_cast<QLabel*>(a) != nullptr)
        {
            EXPECT_LE(a->minimumSizeHint().width(), a->width());
        }
        if (qobject_cast<QGroupBox*>(a) != nullptr || a->isHidden())
            continue;
        for (QWidget* b : controls)
        {
            if (a != b && qobject_cast<QGroupBox*>(b) == nullptr && !b->isHidden())
            {
                EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                    << b->objectName().toStdString();
            }
        }
    }

    // Labels are the buddies of the controls they name; status panes are sunken panels.
    const auto buddyOf = [&](const char* label)
    { return m_dlg->findChild<QLabel*>(QLatin1String(label))->buddy(); };
    EXPECT_EQ(buddyOf("portLabel"), m_dlg->GetDlgItem(IDC_PORT));
    EXPECT_EQ(buddyOf("baudRateLabel"), m_dlg->GetDlgItem(IDC_BAUDRATE));
    EXPECT_EQ(buddyOf("flowLabel"), m_dlg->GetDlgItem(IDC_FLOW));
    EXPECT_EQ(buddyOf("inputLabel"), m_dlg->GetDlgItem(IDC_INPUT));
    for (int id : {IDC_STATUS1, IDC_STATUS2, IDC_STATUS_BAUD, IDC_STATUS_PORT})
        EXPECT_EQ(Item<QLabel>(id)->frameStyle(), QFrame::Panel | QFrame::Sunken);

    // The tab order is the template order.
    const int order[] = {IDC_PORT,     IDC_CLOSE_PORT, IDC_OPEN_PORT, IDC_CLEAR,
                         IDC_BAUDRATE, IDC_BYTESIZE,   IDC_STOPBITS,  IDC_PARITY,
                         IDC_FLOW,     IDC_DTR,        IDC_RTS,       IDC_INPUT,
                         IDC_SEND,     IDC_OPEN_FILE,  IDC_COMMANDS,  IDC_RECEIVE};
    QWidget* w = m_dlg->GetDlgItem(order[0]);
    for (std::size_t i = 1; i < std::size(order); ++i)
    {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(w, m_dlg->GetDlgItem(order[i])) << w->objectName().toStdString();
    }
}

TEST_F(TerminalWindow, PortChoiceToolTipsNameTheDeviceBehindEachPort)
{
    QComboBox* port = Choice(IDC_PORT);
    EXPECT_TRUE(port->itemData(0, Qt::ToolTipRole)
                    .toString()
                    .contains(QString::fromStdString(m_com1->SlavePath())));
    EXPECT_EQ(port->itemData(2, Qt::ToolTipRole).toString(), "No device is COM3 right now");

    CPtyDevice com3;
    ASSERT_TRUE(m_tree.Link(3, com3.SlavePath()));
    port->showPopup(); // opening the list looks again
    port->hidePopup();
    EXPECT_TRUE(port->itemData(2, Qt::ToolTipRole)
                    .toString()
                    .contains(QString::fromStdString(com3.SlavePath())));
}

TEST_F(TerminalWindow, OpensThePortWithTheChosenSettings)
{
    Open();
    EXPECT_FALSE(Enabled(IDC_OPEN_PORT));
    EXPECT_TRUE(Enabled(IDC_CLOSE_PORT));
    EXPECT_TRUE(m_dlg->IsWorkerRunning());
    EXPECT_TRUE(Item<QLabel>(IDC_STATUS_PORT)->toolTip().isEmpty());
    PtyLineSettings line;
    ASSERT_TRUE(m_com1->LineSettings(&line));
    EXPECT_EQ(line.speed, 115200u);
    EXPECT_FALSE(line.twoStopBits);
    EXPECT_FALSE(line.rtsCts);
    EXPECT_FALSE(line.xonXoff);
    EXPECT_TRUE(line.raw);
    EXPECT_FALSE(PortIsFree(1));
}

TEST_F(TerminalWindow, OpenFailsForAPortThatDoesNotExist)
{
    Choice(IDC_PORT)->setCurrentIndex(2); // COM3, which names nothing
    Click(IDC_OPEN_PORT);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM3 open fail");
    EXPECT_TRUE(Enabled(IDC_OPEN_PORT));
    EXPECT_FALSE(Enabled(IDC_CLOSE_PORT));
    EXPECT_FALSE(m_dlg->IsWorkerRunning());
    CSerialPort probe(m_tree.Roots());
    ASSERT_FALSE(probe.Open(3));
    EXPECT_EQ(Item<QLabel>(IDC_STATUS_PORT)->toolTip().toStdString(), probe.GetLastOpenError());
    EXPECT_FALSE(probe.GetLastOpenError().empty());
}

TEST_F(TerminalWindow, OpenFailsForAPortAnotherHolderHasAndLeavesItAlone)
{
    CSerialPort holder(m_tree.Roots());
    ASSERT_TRUE(holder.Open(1));
    Click(IDC_OPEN_PORT);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM1 open fail");
    EXPECT_TRUE(Enabled(IDC_OPEN_PORT));
    EXPECT_FALSE(m_dlg->IsWorkerRunning());
    EXPECT_FALSE(Item<QLabel>(IDC_STATUS_PORT)->toolTip().isEmpty());

    const std::uint8_t byte = 0x55;
    std::uint32_t written = 0;
    ASSERT_TRUE(holder.Write(&byte, 1, &written));
    EXPECT_EQ(m_com1->Receive(1, 5000), Bytes{0x55});
}

TEST_F(TerminalWindow, ShowsReceivedBytesAsHexInOrder)
{
    Open();
    ASSERT_TRUE(m_com1->Send(Bytes{0x01, 0xAB}));
    EXPECT_TRUE(Shows("01AB"));
    ASSERT_TRUE(m_com1->Send(Bytes{0x7F}));
    EXPECT_TRUE(Shows("01AB7F"));
    ASSERT_TRUE(m_com1->Send(Bytes{0x00, 0x0D, 0x0A, 0x11, 0x13, 0x80, 0xFF}));
    EXPECT_TRUE(Shows("01AB7F000D0A111380FF"));
}

TEST_F(TerminalWindow, ShowsEveryByteOfALongStreamInOrder)
{
    Open();
    const Bytes stream = SeededBytes(300 * 1024, 7);
    CStreamFeeder feeder(*m_com1, stream, /*repeat=*/false);
    const std::string expected = HexOf(stream);
    ASSERT_TRUE(WaitFor(
        [&] { return m_dlg->ReceiveLog().Length() >= static_cast<int>(expected.size()); }, 30000));
    EXPECT_EQ(LogText(), expected);
    EXPECT_TRUE(WaitFor([&] { return View()->Length() == static_cast<int>(expected.size()); }));
    EXPECT_TRUE(View()->IsAtEnd());
}

// How the text gets into the Input: set whole, typed key by key, or picked from the list.
enum class Entry
{
    Set,
    Typed,
    Picked,
};

struct SendCase
{
    const char* name;
    QByteArray input; // one byte a character
    Bytes bytes;
    Entry entry = Entry::Set;
};

void PrintTo(const SendCase& c, std::ostream* out)
{
    *out << c.name;
}

// A command line of every byte from 0x80 to 0xFF, and what the codec's table makes of it:
// a character that is no hex digit counts as its own code, and a pair (hi, lo) gives
// 16 * hi + lo modulo 256.
QByteArray EightBitLine()
{
    QByteArray line;
    for (int c = 0x80; c <= 0xFF; ++c)
        line += static_cast<char>(c);
    return line;
}

Bytes EightBitLineBytes()
{
    Bytes bytes;
    for (int hi = 0x80; hi <= 0xFF; hi += 2)
        bytes.push_back(static_cast<std::uint8_t>((16 * hi + hi + 1) % 256));
    return bytes;
}

class SendChars : public TerminalWindow, public ::testing::WithParamInterface<SendCase>
{
};

TEST_P(SendChars, WritesTheDecodedBytesAndKeepsTheInput)
{
    Open();
    auto* input = Item<CInputField>(IDC_INPUT);
    const SendCase& row = GetParam();
    if (row.entry == Entry::Set)
        input->SetBytes(row.input);
    else if (row.entry == Entry::Typed)
    {
        input->setFocus();
        for (const char c : row.input)
            QTest::sendKeyEvent(QTest::Click, input, Qt::Key_unknown,
                                QString(QChar(char16_t(static_cast<unsigned char>(c)))),
                                Qt::NoModifier);
    }
    else
    {
        auto* list = Item<CCommandListBox>(IDC_COMMANDS);
        list->AddCommand(row.input);
        // Below the last command still picks it.
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                           list->viewport()->rect().center());
    }
    ASSERT_EQ(input->Bytes(), row.input);
    Click(IDC_SEND);
    EXPECT_EQ(m_com1->Receive(row.bytes.size(), 5000), row.bytes);
    EXPECT_EQ(input->Bytes(), row.input);
    EXPECT_EQ(m_dlg->ReceiveLog().Length(), 0); // nothing is echoed
}

INSTANTIATE_TEST_SUITE_P(Inputs, SendChars,
                         ::testing::Values(SendCase{"Pairs", "0102ab", {0x01, 0x02, 0xAB}},
                                           SendCase{"OddLength", "ABC", {0xAB, 0xC0}},
                                           SendCase{"Space", "01 02", {0x01, 0x00, 0x20}},
                                           SendCase{
                                               "DegreeSignTyped", "0\xB0", {0xB0}, Entry::Typed},
                                           SendCase{"EightBitLinePicked", EightBitLine(),
                                                    EightBitLineBytes(), Entry::Picked}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalWindow, APickedOneLineCommandOf64MiBArrivesWholeInTheInput)
{
    // A command file at the reader's size cap that holds one line, handed over as the list's
    // double-click does.
    const QByteArray command = QByteArray("0123456789ABCDEF").repeated(4 * 1024 * 1024 - 1);
    const QByteArray line = command + "   // the end   ";
    ASSERT_EQ(line.size(), 64 * 1024 * 1024);
    auto* input = Item<CInputField>(IDC_INPUT);
    input->SetText("typed");
    emit Item<CCommandListBox>(IDC_COMMANDS)->commandPicked(line);
    ASSERT_EQ(input->Length(), command.size());
    EXPECT_TRUE(input->Bytes() == command);
    EXPECT_EQ(input->CursorPosition(), command.size());
}

TEST_F(TerminalWindow, SendCharsOnAClosedPortSaysNotOpenPort)
{
    for (const char* input : {"0102", ""})
    {
        Item<CInputField>(IDC_INPUT)->SetText(QString::fromLatin1(input));
        const SeenBox box = WatchForMessageBox([&] { Click(IDC_SEND); });
        EXPECT_TRUE(box.shown);
        EXPECT_EQ(box.title, "Error");
        EXPECT_EQ(box.text, "Not open port");
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.buttons, QMessageBox::Ok);
        EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM not open");
    }
}

TEST_F(TerminalWindow, SendCharsWithAnEmptyInputSendsNothing)
{
    Open();
    const SeenBox box = WatchForMessageBox([&] { Click(IDC_SEND); });
    EXPECT_FALSE(box.shown);
    // Anything the empty send had written would arrive before this marker.
    Item<CInputField>(IDC_INPUT)->SetText("5A");
    Click(IDC_SEND);
    EXPECT_EQ(m_com1->Receive(1, 5000), Bytes{0x5A});
}

TEST_F(TerminalWindow, EnterInTheInputFieldSendsAndNeverEndsTheWindow)
{
    QApplication::setActiveWindow(m_dlg.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    Open();
    auto* input = Item<CInputField>(IDC_INPUT);
    input->setFocus();
    input->SetText("C0FFEE");
    QTest::keyClick(input, Qt::Key_Return);
    EXPECT_EQ(m_com1->Receive(3, 5000), (Bytes{0xC0, 0xFF, 0xEE}));
    QTest::keyClick(input, Qt::Key_Enter); // the keypad's Enter
    EXPECT_EQ(m_com1->Receive(3, 5000), (Bytes{0xC0, 0xFF, 0xEE}));

    // Elsewhere Enter does nothing: the window stays and the port stays open.
    for (int id : {IDC_PORT, IDC_DTR, IDC_RECEIVE})
    {
        m_dlg->GetDlgItem(id)->setFocus();
        QTest::keyClick(m_dlg->GetDlgItem(id), Qt::Key_Return);
    }
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_TRUE(Item<QCheckBox>(IDC_DTR)->isChecked());
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM1 open success");

    // A focused push button takes Enter as its click.
    m_dlg->GetDlgItem(IDC_SEND)->setFocus();
    QTest::keyClick(m_dlg->GetDlgItem(IDC_SEND), Qt::Key_Return);
    EXPECT_EQ(m_com1->Receive(3, 5000), (Bytes{0xC0, 0xFF, 0xEE}));

    QTest::keyClick(input, Qt::Key_Escape);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), QDialog::Rejected);
}

TEST_F(TerminalWindow, ClearWindowWhileDataStreamsDropsOnlyWholeBlocks)
{
    Open();
    const Bytes stream = SeededBytes(400 * 1024, 11);
    const std::string expected = HexOf(stream);
    CStreamFeeder feeder(*m_com1, stream, /*repeat=*/false);
    for (int i = 0; i < 5; ++i)
    {
        ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceiveLog().Length() > 4096 || feeder.Done(); }));
        Click(IDC_CLEAR);
    }
    ASSERT_TRUE(WaitFor([&] { return feeder.Done(); }, 30000));
    // The window may take the whole stream in before the last clear: a block sent after it
    // tells when everything is in.
    const Bytes last{0x0D, 0x15, 0xEA, 0x5E, 0xC0, 0xDE, 0xD0, 0x0D};
    const std::string tail = HexOf(last);
    ASSERT_TRUE(m_com1->Send(last));
    ASSERT_TRUE(WaitFor(
        [&]
        {
            const std::string log = LogText();
            return log.size() >= tail.size() &&
                   log.compare(log.size() - tail.size(), tail.size(), tail) == 0;
        }));
    // What is left is everything received since the last clear: a suffix of the stream that
    // starts on a byte.
    const std::string log = LogText();
    const std::string kept = log.substr(0, log.size() - tail.size());
    ASSERT_LE(kept.size(), expected.size());
    EXPECT_EQ(kept, expected.substr(expected.size() - kept.size()));
    EXPECT_EQ(kept.size() % 2, 0u);
    EXPECT_TRUE(WaitFor([&] { return View()->Length() == static_cast<int>(log.size()); }));

    Click(IDC_CLEAR);
    Click(IDC_CLEAR);
    EXPECT_EQ(m_dlg->ReceiveLog().Length(), 0);
    EXPECT_EQ(View()->Length(), 0);
    ASSERT_TRUE(m_com1->Send(Bytes{0x42}));
    EXPECT_TRUE(Shows("42"));
}

TEST_F(TerminalWindow, PortChangeWhileOpenMovesToTheNewPort)
{
    CPtyDevice com2;
    ASSERT_TRUE(m_tree.Link(2, com2.SlavePath()));
    Open();
    Choice(IDC_BAUDRATE)->setCurrentText("57600");
    Choice(IDC_PORT)->setCurrentIndex(1);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM2 open success");
    EXPECT_FALSE(Enabled(IDC_OPEN_PORT));
    EXPECT_TRUE(Enabled(IDC_CLOSE_PORT));
    EXPECT_TRUE(m_dlg->IsWorkerRunning());
    EXPECT_TRUE(PortIsFree(1));
    PtyLineSettings line;
    ASSERT_TRUE(com2.LineSettings(&line));
    EXPECT_EQ(line.speed, 57600u);
    ASSERT_TRUE(com2.Send(Bytes{0x22}));
    EXPECT_TRUE(Shows("22"));
}

TEST_F(TerminalWindow, PortChangeWhileOpenToAMissingPortEndsClosed)
{
    Open();
    ASSERT_TRUE(m_com1->Send(Bytes{0x10}));
    ASSERT_TRUE(Shows("10"));
    Choice(IDC_PORT)->setCurrentIndex(4);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM5 open fail");
    EXPECT_TRUE(Enabled(IDC_OPEN_PORT));
    EXPECT_FALSE(Enabled(IDC_CLOSE_PORT));
    EXPECT_FALSE(m_dlg->IsPortOpen());
    EXPECT_FALSE(m_dlg->IsWorkerRunning());
    EXPECT_TRUE(PortIsFree(1));

    // Closed, a port change does nothing until the next open.
    Choice(IDC_PORT)->setCurrentIndex(0);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM5 open fail");
    Open();
}

TEST_F(TerminalWindow, ClosePortStopsTheWorkerAndReleasesThePort)
{
    Open();
    ASSERT_TRUE(m_com1->Send(Bytes{0x01}));
    ASSERT_TRUE(Shows("01"));
    Click(IDC_CLOSE_PORT);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM close");
    EXPECT_TRUE(Enabled(IDC_OPEN_PORT));
    EXPECT_FALSE(Enabled(IDC_CLOSE_PORT));
    EXPECT_FALSE(m_dlg->IsWorkerRunning());
    EXPECT_TRUE(PortIsFree(1));

    m_dlg->OnClosePort(); // closing a closed port does nothing
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM close");

    Open();
    ASSERT_TRUE(m_com1->Send(Bytes{0x02}));
    EXPECT_TRUE(Shows("0102"));
}

// Each port button, pressed from the keyboard, hands the focus to the other, so the next key
// acts on the port again and never reaches "Clear window", which would empty the log.
TEST_F(TerminalWindow, PortButtonsPressedFromTheKeyboardHandTheFocusToEachOther)
{
    QApplication::setActiveWindow(m_dlg.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    QWidget* clear = m_dlg->GetDlgItem(IDC_CLEAR);
    bool clearFocused = false;
    QObject scope;
    QObject::connect(qApp, &QApplication::focusChanged, &scope,
                     [&](QWidget*, QWidget* now) { clearFocused |= now == clear; });
    m_dlg->GetDlgItem(IDC_OPEN_PORT)->setFocus();

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_EQ(Pane(IDC_STATUS_PORT), "COM1 open success");
    EXPECT_EQ(QApplication::focusWidget(), m_dlg->GetDlgItem(IDC_CLOSE_PORT));
    ASSERT_TRUE(m_com1->Send(Bytes{0x01, 0xAB}));
    ASSERT_TRUE(Shows("01AB"));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM close");
    EXPECT_EQ(QApplication::focusWidget(), m_dlg->GetDlgItem(IDC_OPEN_PORT));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM1 open success");
    EXPECT_EQ(LogText(), "01AB");
    EXPECT_FALSE(clearFocused);
}

TEST_F(TerminalWindow, LineSettingChangesReachTheDevice)
{
    Choice(IDC_BAUDRATE)->setCurrentText("4800"); // while closed: shown, applied at the open
    EXPECT_EQ(Pane(IDC_STATUS_BAUD), "4800bps");
    Open();
    PtyLineSettings line;
    ASSERT_TRUE(m_com1->LineSettings(&line));
    EXPECT_EQ(line.speed, 4800u);

    Choice(IDC_BAUDRATE)->setCurrentText("9600");
    EXPECT_EQ(Pane(IDC_STATUS_BAUD), "9600bps");
    Choice(IDC_STOPBITS)->setCurrentText("2");
    ASSERT_TRUE(m_com1->LineSettings(&line));
    EXPECT_EQ(line.speed, 9600u);
    EXPECT_TRUE(line.twoStopBits);

    Choice(IDC_FLOW)->setCurrentText("Hardware");
    ASSERT_TRUE(m_com1->LineSettings(&line));
    EXPECT_TRUE(line.rtsCts);
    Choice(IDC_FLOW)->setCurrentText("Software");
    ASSERT_TRUE(m_com1->LineSettings(&line));
    EXPECT_FALSE(line.rtsCts);
    EXPECT_TRUE(line.xonXoff);
    Choice(IDC_FLOW)->setCurrentText("None");
    ASSERT_TRUE(m_com1->LineSettings(&line));
    EXPECT_FALSE(line.xonXoff);

    // The settings the choices map to, as the device gets them.
    QTest::mouseClick(Item<QCheckBox>(IDC_DTR), Qt::LeftButton);
    Choice(IDC_PARITY)->setCurrentText("Space");
    DCB dcb;
    m_dlg->FillLineSettings(&dcb);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.Parity, SPACEPARITY);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(Pane(IDC_STATUS_PORT), "COM1 open success");
}

TEST_F(TerminalWindow, EndsCleanlyWhileDataStreams)
{
    Open();
    CStreamFeeder feeder(*m_com1, SeededBytes(64 * 1024, 3), /*repeat=*/true);
    ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceiveLog().Length() > 8192; }));
    m_dlg->close(); // the close box
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), QDialog::Rejected);
    m_dlg.reset(); // joins the worker before anything it uses goes away
    feeder.Stop();
    EXPECT_TRUE(PortIsFree(1));
}
} // namespace
