#include "commands/CommandListBox.h"

#include "text/BytesMimeData.h"

#include <QAccessible>
#include <QByteArrayList>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace
{

// A shown list of a fixed size with the given commands, laid out and ready for the mouse.
class CommandListBoxTest : public ::testing::Test
{
  protected:
    void Show(const QByteArrayList& commands)
    {
        for (const QByteArray& command : commands)
            m_list.AddCommand(command);
        m_list.resize(240, 200);
        m_list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_list));
        m_list.doItemsLayout();
    }

    QRect RowRect(int row) { return m_list.visualRect(m_list.model()->index(row, 0)); }
    QPoint CentreOf(int row) { return RowRect(row).center(); }
    QString RowText(int row) { return m_list.model()->index(row, 0).data().toString(); }
    int Rows() { return m_list.model()->rowCount(); }
    QByteArrayList Commands()
    {
        QByteArrayList commands;
        for (int row = 0; row < m_list.commands().Count(); ++row)
        {
            const std::string_view line = m_list.commands().Line(row);
            commands.append(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
        }
        return commands;
    }
    QList<int> SelectedRows()
    {
        QList<int> rows;
        for (const QModelIndex& index : m_list.selectionModel()->selectedIndexes())
            rows.append(index.row());
        return rows;
    }

    // The events of a real double-click: press, release, double-click, release.
    void UserDoubleClick(QPoint pos, Qt::MouseButton button = Qt::LeftButton)
    {
        QWidget* viewport = m_list.viewport();
        QTest::mouseClick(viewport, button, Qt::NoModifier, pos);
        QTest::mouseDClick(viewport, button, Qt::NoModifier, pos);
        QTest::mouseRelease(viewport, button, Qt::NoModifier, pos);
    }

    // Double-clicks at a point of the viewport and returns every text picked by it.
    QByteArrayList DoubleClick(QPoint pos, Qt::MouseButton button = Qt::LeftButton)
    {
        QByteArrayList picked;
        const auto connection =
            QObject::connect(&m_list, &CCommandListBox::commandPicked,
                             [&picked](const QByteArray& text) { picked.append(text); });
        UserDoubleClick(pos, button);
        QObject::disconnect(connection);
        return picked;
    }

    CCommandListBox m_list;
};

TEST_F(CommandListBoxTest, DoubleClickSendsTheItemUnderThePointer)
{
    Show({"A", "B", "C"});
    EXPECT_EQ(DoubleClick(CentreOf(1)), QByteArrayList{"B"});
    EXPECT_EQ(DoubleClick(CentreOf(0)), QByteArrayList{"A"});
    EXPECT_EQ(DoubleClick(CentreOf(2)), QByteArrayList{"C"});
}

TEST_F(CommandListBoxTest, DoubleClickBelowTheLastItemSendsTheLastItem)
{
    Show({"A", "B", "C"});
    const QRect last = RowRect(2);
    ASSERT_LT(last.bottom() + 40, m_list.viewport()->height());
    EXPECT_EQ(DoubleClick(QPoint(10, last.bottom() + 40)), QByteArrayList{"C"});
    EXPECT_EQ(DoubleClick(QPoint(10, m_list.viewport()->height() - 1)), QByteArrayList{"C"});
}

// Spacing opens gaps around the rows; a double-click there picks the nearest row.
TEST_F(CommandListBoxTest, DoubleClickBesideTheRowsPicksTheNearest)
{
    m_list.setSpacing(8);
    Show({"A", "B", "C"});
    const QRect first = RowRect(0);
    const QRect second = RowRect(1);
    ASSERT_GT(first.top(), 2);
    ASSERT_GT(second.top() - first.bottom(), 6);
    EXPECT_EQ(DoubleClick(QPoint(first.left(), 1)), QByteArrayList{"A"});
    EXPECT_EQ(DoubleClick(QPoint(first.left(), first.bottom() + 2)), QByteArrayList{"A"});
    EXPECT_EQ(DoubleClick(QPoint(first.left(), second.top() - 2)), QByteArrayList{"B"});
}

TEST_F(CommandListBoxTest, EmptyListSendsNothing)
{
    Show({});
    EXPECT_TRUE(DoubleClick(QPoint(10, 10)).isEmpty());
    EXPECT_TRUE(DoubleClick(QPoint(10, 150)).isEmpty());
}

TEST_F(CommandListBoxTest, OnlyTheLeftButtonPicks)
{
    Show({"A"});
    EXPECT_TRUE(DoubleClick(CentreOf(0), Qt::RightButton).isEmpty());
}

// A command file in the system's encoding (UTF-8 here) shows the text it holds, on screen, to a
// screen reader and, through Ctrl+C, to other programs; a line that is not valid in it shows one
// character a byte. Whatever a row shows, a pick and a paste into the Input take its bytes.
TEST_F(CommandListBoxTest, RowsShowTheFilesTextAndHandOverItsBytes)
{
    const QString longWord = QString(255, u'A');
    // What Ctrl+C gives other programs is the whole of what the row shows.
    const struct
    {
        const char* name;
        QByteArray bytes;
        QString shown;
        QString copied;
    } rows[] = {
        {"Chinese", "0102 // \xE5\xA4\x8D\xE4\xBD\x8D reset",
         QStringLiteral("0102 // \u590D\u4F4D reset"),
         QStringLiteral("0102 // \u590D\u4F4D reset")},
        {"degree sign",
         "AA55 \\ Temperatur 25 \xC2\xB0"
         "C",
         QStringLiteral("AA55 \\ Temperatur 25 \u00B0C"),
         QStringLiteral("AA55 \\ Temperatur 25 \u00B0C")},
        {"sharp s",
         "FF // Gr\xC3\xB6\xC3\x9F"
         "e",
         QStringLiteral("FF // Gr\u00F6\u00DFe"), QStringLiteral("FF // Gr\u00F6\u00DFe")},
        {"not UTF-8", "\xC4\xE3\xBA\xC3 7E", QStringLiteral("\u00C4\u00E3\u00BA\u00C3 7E"),
         QStringLiteral("\u00C4\u00E3\u00BA\u00C3 7E")},
        {"spaces and a tab", "  0A0B  // reset the board\t",
         QStringLiteral("  0A0B  // reset the board\t"),
         QStringLiteral("  0A0B  // reset the board\t")},
        // Cut before a letter with its accent, not between them.
        {"cut", longWord.toUtf8() + "e\xCC\x81", longWord + QChar(0x2026),
         longWord + QStringLiteral("e\u0301")},
    };
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("commands.txt"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (const auto& row : rows)
            file.write(row.bytes + "\r\n");
    }
    CCommandFile commandFile;
    ASSERT_EQ(commandFile.Load(QFile::encodeName(path).constData()), 1);
    ASSERT_TRUE(m_list.AddCommands(commandFile.TakeLines()));
    const QByteArray huge(64 << 20, 'A'); // shown cut, picked and copied whole
    Show({huge});

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&m_list);
    ASSERT_NE(list, nullptr);
    for (int row = 0; row < static_cast<int>(std::size(rows)); ++row)
    {
        SCOPED_TRACE(rows[row].name);
        EXPECT_EQ(RowText(row), rows[row].shown);
        EXPECT_EQ(list->child(row)->text(QAccessible::Name), rows[row].shown);
        EXPECT_EQ(DoubleClick(CentreOf(row)), QByteArrayList{rows[row].bytes});
        m_list.setCurrentIndex(m_list.model()->index(row, 0));
        QTest::keySequence(&m_list, QKeySequence::Copy);
        const QMimeData* offered = QGuiApplication::clipboard()->mimeData();
        ASSERT_NE(offered, nullptr);
        EXPECT_EQ(offered->text(), rows[row].copied);
        EXPECT_EQ(offered->data(QStringLiteral("text/plain")), rows[row].copied.toUtf8());
        const auto* bytes = dynamic_cast<const CBytesMimeData*>(offered);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(bytes->Bytes(), rows[row].bytes);
    }
    const int last = static_cast<int>(std::size(rows));
    EXPECT_EQ(DoubleClick(CentreOf(last)), QByteArrayList{huge});
    EXPECT_EQ(RowText(last), QString(CCommandListModel::kShownCharacters, u'A') + QChar(0x2026));
    m_list.setCurrentIndex(m_list.model()->index(last, 0));
    QTest::keySequence(&m_list, QKeySequence::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromLatin1(huge));
}

TEST_F(CommandListBoxTest, DuplicatesShowTwiceAndSendTheSameText)
{
    Show({"0102", "0304", "0102"});
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(RowText(0), RowText(2));
    EXPECT_EQ(DoubleClick(CentreOf(0)), QByteArrayList{"0102"});
    EXPECT_EQ(DoubleClick(CentreOf(2)), QByteArrayList{"0102"});
}

TEST_F(CommandListBoxTest, ItemsAndCopiesAreAppendedTogetherUnsorted)
{
    EXPECT_EQ(m_list.AddCommand("0C"), 1);
    m_list.AddCommand("0A");
    m_list.AddCommand("0B");
    const QByteArrayList expected{"0C", "0A", "0B"};
    EXPECT_EQ(Commands(), expected);
    ASSERT_EQ(Rows(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(RowText(row), QString::fromLatin1(expected[row]));
}

TEST_F(CommandListBoxTest, AddingLeavesTheSelectionAlone)
{
    Show({"A", "B"});
    EXPECT_TRUE(SelectedRows().isEmpty());
    EXPECT_FALSE(m_list.selectionModel()->hasSelection());

    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, Qt::NoModifier, CentreOf(0));
    ASSERT_EQ(SelectedRows().size(), 1);
    m_list.AddCommand("C");
    ASSERT_EQ(SelectedRows().size(), 1);
    EXPECT_EQ(SelectedRows().first(), 0);
}

TEST_F(CommandListBoxTest, SingleClickOnlySelects)
{
    Show({"A", "B"});
    QByteArrayList picked;
    QObject::connect(&m_list, &CCommandListBox::commandPicked,
                     [&picked](const QByteArray& text) { picked.append(text); });
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, Qt::NoModifier, CentreOf(1));
    EXPECT_TRUE(picked.isEmpty());
    EXPECT_EQ(m_list.currentIndex().row(), 1);
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, Qt::NoModifier, CentreOf(0));
    ASSERT_EQ(SelectedRows().size(), 1);
    EXPECT_EQ(SelectedRows().first(), 0);
}

// The terminal window handles the pick before the list's own double-click processing.
TEST_F(CommandListBoxTest, PickArrivesBeforeTheListsOwnDoubleClickHandling)
{
    Show({"A"});
    QStringList order;
    QObject::connect(&m_list, &CCommandListBox::commandPicked,
                     [&order](const QByteArray&) { order.append(QStringLiteral("picked")); });
    QObject::connect(&m_list, &QAbstractItemView::doubleClicked,
                     [&order](const QModelIndex&) { order.append(QStringLiteral("list")); });
    UserDoubleClick(CentreOf(0));
    EXPECT_EQ(order, (QStringList{QStringLiteral("picked"), QStringLiteral("list")}));
}

// A receiver that loads more commands while handling a pick must still see the picked text.
TEST_F(CommandListBoxTest, ReceiverMayAddCommandsWhileHandlingAPick)
{
    Show({"A", "B"});
    QByteArrayList seen;
    QObject::connect(&m_list, &CCommandListBox::commandPicked,
                     [this, &seen](const QByteArray& text)
                     {
                         for (int i = 0; i < 1000; ++i)
                             m_list.AddCommand(QByteArray::number(i));
                         seen.append(text);
                     });
    UserDoubleClick(CentreOf(1));
    EXPECT_EQ(seen, QByteArrayList{"B"});
    EXPECT_EQ(Rows(), 1002);
    EXPECT_EQ(m_list.commands().Count(), 1002);

    // So may anyone while the clipboard offers a copied command.
    m_list.setCurrentIndex(m_list.model()->index(1001, 0));
    QTest::keySequence(&m_list, QKeySequence::Copy);
    for (int i = 0; i < 1000; ++i)
        m_list.AddCommand(QByteArray::number(i));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "999");
}

TEST_F(CommandListBoxTest, RowsAreEighteenPixelsWhateverTheFont)
{
    QFont large = m_list.font();
    large.setPixelSize(30);
    m_list.setFont(large);
    Show({"A", "B", "C"});
    for (int row = 0; row < 3; ++row)
    {
        const QRect rect = RowRect(row);
        EXPECT_EQ(rect.height(), CCommandListBox::kItemHeight);
        EXPECT_EQ(rect.top(), row * CCommandListBox::kItemHeight);
    }
}

} // namespace

// Typing in the list goes to the next command after the current one that starts with the typed
// text, ignoring case, and round again; it compares the text the rows show.
TEST(CommandListBoxSearch, TypingGoesToTheNextCommandThatStartsWithIt)
{
    const struct
    {
        const char* name;
        QByteArrayList commands;
        int current;
        QString typed;
        int expected;
    } rows[] = {
        {"either case", {"A1", "b2", "B3"}, -1, "B", 1},
        {"after the current row", {"b1", "A2", "b3"}, 0, "b", 2},
        {"round again", {"b1", "A2", "C3"}, 0, "b", 0},
        {"Latin-1 letters", {"\xE4x", "\xC4y"}, -1, QStringLiteral("\u00C4Y"), 1},
        {"UTF-8 letters", {"\xC3\xA4x", "\xC3\x84y"}, -1, QStringLiteral("\u00C4Y"), 1},
        {"no match", {"A1", "b2"}, 1, "z", 1},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        CCommandListBox list;
        for (const QByteArray& command : row.commands)
            list.AddCommand(command);
        if (row.current >= 0)
            list.setCurrentIndex(list.model()->index(row.current, 0));
        list.keyboardSearch(row.typed);
        EXPECT_EQ(list.currentIndex().row(), row.expected);
    }
}

// However many rows there are, a key's search holds the list for one slice of rows and goes on
// between events; a key typed meanwhile is searched once it has ended, from where it left off.
TEST(CommandListBoxSearch, ALongSearchGoesOnInSlicesAndTheNextKeyFollowsIt)
{
    constexpr int kRows = 2 * CCommandListBox::kSearchSliceRows + 10;
    CCommandLines lines;
    lines.text.assign(kRows, '0');
    lines.text[5] = 'b';
    lines.text[kRows - 5] = 'B';
    for (int row = 1; row <= kRows; ++row)
        lines.ends.push_back(static_cast<std::uint32_t>(row));
    CCommandListBox list;
    ASSERT_TRUE(list.AddCommands(std::move(lines)));
    list.setCurrentIndex(list.model()->index(10, 0));

    list.keyboardSearch("b");
    EXPECT_EQ(list.currentIndex().row(), 10);
    list.keyboardSearch("b"); // the same key again: the next row after that one, round again
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.currentIndex().row() == 5; }));
}
