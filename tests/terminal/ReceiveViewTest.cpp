// The receive view: wrapping, following the end, selecting and copying, accessibility.
#include "terminal/ReceiveView.h"

#include "PtyDevice.h"
#include "terminal/ReceiveLog.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace
{
class ReceiveView : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_view.resize(300, 200);
        m_view.SetLog(&m_log);
        m_view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_view));
    }
    void Receive(std::size_t count)
    {
        const std::vector<std::uint8_t> bytes = SeededBytes(count, m_seed++);
        m_hex += HexOf(bytes);
        m_log.AppendBytes(bytes.data(), static_cast<std::uint32_t>(count));
        m_view.Refresh();
    }
    QString All() { return m_view.Text(0, m_view.Length()); }
    QPoint PointOf(int offset)
    {
        return m_view.CharacterRect(offset).center() -
               QPoint(m_view.CharacterRect(offset).width() / 2, 0);
    }

    CReceiveLog m_log{4000};
    CReceiveView m_view;
    std::string m_hex;
    std::uint32_t m_seed = 1;
};

TEST_F(ReceiveView, WrapsOneRunAtAnEvenNumberOfColumns)
{
    const int columns = m_view.Columns();
    EXPECT_EQ(columns % 2, 0);
    EXPECT_GT(columns, 10);
    Receive(500);
    EXPECT_EQ(All().toStdString(), m_hex);
    EXPECT_EQ(m_view.RowCount(), (1000 + columns - 1) / columns);
    // Row r holds characters [r * columns, (r + 1) * columns): one row down, same column.
    EXPECT_EQ(m_view.CharacterRect(columns + 4).left(), m_view.CharacterRect(4).left());
    EXPECT_EQ(m_view.CharacterRect(columns + 4).top(),
              m_view.CharacterRect(4).top() + m_view.RowHeight());
}

TEST_F(ReceiveView, PaintsTheNewestDataWhileFollowingTheEnd)
{
    qint64 shownEnd = -1;
    QObject::connect(&m_view, &CReceiveView::painted,
                     [&](qint64 end) { shownEnd = std::max(shownEnd, end); });
    Receive(1200);
    m_view.viewport()->repaint();
    EXPECT_TRUE(m_view.IsAtEnd());
    EXPECT_EQ(shownEnd, 2400);
}

TEST_F(ReceiveView, DrawsEveryDigitAlikeAndTheSelectionHighlighted)
{
    const std::vector<std::uint8_t> bytes{0x00, 0x00, 0xAB};
    m_log.AppendBytes(bytes.data(), 3);
    m_view.Refresh();
    const auto cell = [&](int offset)
    { return m_view.viewport()->grab().toImage().copy(m_view.CharacterRect(offset)); };
    const QColor base = m_view.palette().color(QPalette::Base);
    const QImage zero = cell(0);
    EXPECT_EQ(cell(3), zero);
    EXPECT_NE(cell(4), zero);
    bool inked = false;
    for (int y = 0; y < zero.height(); ++y)
        for (int x = 0; x < zero.width(); ++x)
            inked = inked || zero.pixelColor(x, y) != base;
    EXPECT_TRUE(inked);

    m_view.SetSelection(0, 2);
    const QColor highlight = m_view.palette().color(QPalette::Inactive, QPalette::Highlight);
    EXPECT_EQ(cell(1).pixelColor(0, 0), highlight);
    EXPECT_EQ(cell(2).pixelColor(0, 0), base);
}

TEST_F(ReceiveView, FollowsTheEndUntilTheUserScrollsUp)
{
    Receive(1200);
    QScrollBar* bar = m_view.verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(2); // the user scrolls up
    Receive(300);
    EXPECT_EQ(bar->value(), 2);

    bar->setValue(bar->maximum()); // and back to the end
    Receive(300);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(ReceiveView, KeepsItsPlaceWhenTheLogDropsOldData)
{
    Receive(1500); // 3000 of 4000 characters
    QScrollBar* bar = m_view.verticalScrollBar();
    bar->setValue(20);
    const int firstShown = 20 * m_view.Columns();
    const std::string shownBefore = m_hex.substr(static_cast<std::size_t>(firstShown), 40);
    m_view.SetSelection(firstShown, firstShown + 40);
    Receive(600); // passes the limit: the oldest characters go
    ASSERT_GT(m_hex.size(), static_cast<std::size_t>(m_view.Length()));
    EXPECT_EQ(m_view.SelectedText().toStdString(), shownBefore);
    const int rowNow = m_view.SelectionStart() / m_view.Columns();
    EXPECT_NEAR(bar->value(), rowNow, 1);
}

TEST_F(ReceiveView, SelectsWithTheMouseAndCopies)
{
    Receive(200);
    m_view.verticalScrollBar()->setValue(0);
    QTest::mousePress(m_view.viewport(), Qt::LeftButton, {}, PointOf(2));
    QTest::mouseMove(m_view.viewport(), PointOf(m_view.Columns() + 6));
    QTest::mouseRelease(m_view.viewport(), Qt::LeftButton, {}, PointOf(m_view.Columns() + 6));
    EXPECT_EQ(m_view.SelectionStart(), 2);
    EXPECT_EQ(m_view.SelectionEnd(), m_view.Columns() + 6);

    QTest::keyClick(&m_view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              m_hex.substr(2, static_cast<std::size_t>(m_view.Columns() + 4)));

    QTest::keyClick(&m_view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&m_view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), m_hex);
}

TEST_F(ReceiveView, ExposesItsTextToAssistiveTechnologies)
{
    Receive(100);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&m_view);
    ASSERT_NE(accessible, nullptr);
    EXPECT_TRUE(accessible->state().readOnly);
    EXPECT_TRUE(accessible->state().multiLine);
    QAccessibleTextInterface* text = accessible->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->characterCount(), 200);
    EXPECT_EQ(text->text(0, 200).toStdString(), m_hex);
    int start = 0, end = 0;
    EXPECT_EQ(text->textAtOffset(5, QAccessible::CharBoundary, &start, &end).toStdString(),
              m_hex.substr(5, 1));
    EXPECT_EQ(text->textAtOffset(m_view.Columns() + 1, QAccessible::LineBoundary, &start, &end)
                  .toStdString(),
              m_hex.substr(static_cast<std::size_t>(m_view.Columns()),
                           static_cast<std::size_t>(m_view.Columns())));
    text->setSelection(0, 10, 20);
    EXPECT_EQ(m_view.SelectedText().toStdString(), m_hex.substr(10, 10));
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 10);
    EXPECT_EQ(end, 20);
}

TEST_F(ReceiveView, AfterDiscardsAssistiveTechnologiesReadTheLogsNewestText)
{
    for (int i = 0; i < 6; ++i)
        Receive(700); // past the limit of 4000 characters: the oldest go
    const int length = m_view.Length();
    ASSERT_LT(length, static_cast<int>(m_hex.size()));
    const std::string shown = m_hex.substr(m_hex.size() - static_cast<std::size_t>(length));
    QAccessibleTextInterface* text =
        QAccessible::queryAccessibleInterface(&m_view)->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->characterCount(), length);
    EXPECT_EQ(text->text(0, 8).toStdString(), shown.substr(0, 8));
    EXPECT_EQ(text->text(length - 8, length).toStdString(), shown.substr(shown.size() - 8));
    // Units are read around the offset only: a byte for a word, a row for a line.
    const int columns = m_view.Columns();
    int start = 0, end = 0;
    EXPECT_EQ(text->textAtOffset(5, QAccessible::WordBoundary, &start, &end).toStdString(),
              shown.substr(4, 2));
    EXPECT_EQ(text->textBeforeOffset(length, QAccessible::LineBoundary, &start, &end).toStdString(),
              shown.substr(static_cast<std::size_t>((length - 1) / columns * columns)));
    EXPECT_EQ(text->textAfterOffset(1, QAccessible::CharBoundary, &start, &end).toStdString(),
              shown.substr(2, 1));
    text->attributes(length / 2, &start, &end);
    EXPECT_LE(start, length / 2);
    EXPECT_GT(end, length / 2);
    EXPECT_LE(end - start, columns);
}

TEST_F(ReceiveView, RowsMovedAsPixelsLookLikeAFreshDrawing)
{
    // Small blocks scroll the view a row or two at a time, round the canvas's ring and past a
    // discard, with a selection on the data; then the user scrolls up and down a little.
    m_view.clearFocus();
    Receive(300);
    m_view.SetSelection(100, 500);
    for (int i = 0; i < 90; ++i)
        Receive(37 + i % 5);
    QScrollBar* bar = m_view.verticalScrollBar();
    bar->setValue(bar->value() - 5);
    bar->setValue(bar->value() + 2);

    CReceiveView fresh;
    fresh.resize(m_view.size());
    fresh.SetLog(&m_log);
    fresh.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fresh));
    fresh.clearFocus();
    fresh.verticalScrollBar()->setValue(bar->value());
    fresh.SetSelection(m_view.SelectionStart(), m_view.SelectionEnd());
    EXPECT_EQ(m_view.viewport()->grab().toImage(), fresh.viewport()->grab().toImage());
}

TEST(ReceiveViewCopy, ALargeSelectionIsCopiedWholeBesideTheWindow)
{
    CReceiveLog log;
    CReceiveView view;
    view.SetLog(&log);
    const std::vector<std::uint8_t> block = SeededBytes(1 << 20, 9);
    for (int i = 0; i < 3; ++i) // 6 Mi characters: copied in slices on a thread of its own
        log.AppendBytes(block.data(), static_cast<std::uint32_t>(block.size()));
    view.Refresh();
    QApplication::clipboard()->clear();
    view.SelectAll();
    view.CopySelection();
    ASSERT_TRUE(WaitFor([&] { return QApplication::clipboard()->text().size() == view.Length(); }));
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), log.Copy(0, log.Length()));
}

TEST_F(ReceiveView, ClearingStartsAfresh)
{
    Receive(1000);
    m_view.SelectAll();
    m_log.Clear();
    m_view.Refresh();
    EXPECT_EQ(m_view.Length(), 0);
    EXPECT_EQ(m_view.SelectionStart(), m_view.SelectionEnd());
    EXPECT_EQ(m_view.verticalScrollBar()->value(), 0);
    m_hex.clear();
    Receive(3);
    EXPECT_EQ(All().toStdString(), m_hex);
}
} // namespace
