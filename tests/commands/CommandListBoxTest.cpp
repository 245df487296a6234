#include "commands/CommandListBox.h"

#include <QByteArrayList>
#include <QClipboard>
#include <QGuiApplication>
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

TEST_F(CommandListBoxTest, TextIsSentExactlyAsAdded)
{
    const QByteArray withComment = "  0A0B  // reset the board\t";
    const QByteArray backslash = "01 02\\ ping";
    const QByteArray notUtf8 = "\xC4\xE3\xBA\xC3 7E"; // shown decoded, kept as bytes
    const QByteArray huge(64 << 20, 'A');             // shown cut, picked and copied whole
    Show({withComment, backslash, notUtf8, huge});
    EXPECT_EQ(DoubleClick(CentreOf(0)), QByteArrayList{withComment});
    EXPECT_EQ(DoubleClick(CentreOf(1)), QByteArrayList{backslash});
    EXPECT_EQ(DoubleClick(CentreOf(2)), QByteArrayList{notUtf8});
    EXPECT_EQ(DoubleClick(CentreOf(3)), QByteArrayList{huge});
    EXPECT_EQ(RowText(0), QString::fromLocal8Bit(withComment));
    EXPECT_EQ(RowText(2), QString::fromLatin1(notUtf8));
    EXPECT_EQ(RowText(3).size(), CCommandListModel::kShownCharacters + 1);
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
// text, ignoring case, and round again; the bytes are compared as Latin-1 characters.
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
