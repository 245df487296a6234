// The Input field: editing from the keyboard and the mouse, 8-bit text in and out, texts far
// wider than the field, and what assistive technologies read of it.
#include "terminal/InputField.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>
#include <vector>

namespace
{
// One step of a user at the keyboard: a key with modifiers, or characters typed.
struct Stroke
{
    Qt::Key key = Qt::Key_unknown;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    QString typed;
};

Stroke Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    return {key, modifiers, QString()};
}

Stroke Type(const QString& text)
{
    return {Qt::Key_unknown, Qt::NoModifier, text};
}

// Characters as a keyboard delivers them, one key event each (also those above U+00FF, which
// QTest::keyClicks would turn into '?').
void TypeInto(QWidget* widget, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

class InputField : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_field.setAccessibleName("Input");
        m_field.resize(160, m_field.sizeHint().height());
        m_field.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_field));
        QApplication::setActiveWindow(&m_field);
        m_field.setFocus();
    }
    void TearDown() override { QToolTip::hideText(); }

    void Perform(const std::vector<Stroke>& strokes)
    {
        for (const Stroke& stroke : strokes)
        {
            if (stroke.typed.isEmpty())
                QTest::keyClick(&m_field, stroke.key, stroke.modifiers);
            else
                TypeInto(&m_field, stroke.typed);
        }
    }
    QPoint PointBefore(qsizetype offset)
    {
        const QRect rect = m_field.CharacterRect(offset);
        return QPoint(rect.left(), rect.center().y());
    }
    bool CaretShows()
    {
        const QRect caret = m_field.CharacterRect(m_field.CursorPosition());
        return m_field.contentsRect().contains(caret.topLeft()) &&
               caret.left() <= m_field.contentsRect().right();
    }

    CInputField m_field;
};

TEST_F(InputField, EditsFromTheKeyboardAsASingleLineFieldDoes)
{
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
    const struct
    {
        const char* name;
        QByteArray text;
        qsizetype anchor, cursor;
        std::vector<Stroke> strokes;
        QByteArray result;
        qsizetype selectionStart, selectionEnd; // the caret is at selectionEnd unless noted
        qsizetype resultCursor;
    } rows[] = {
        // A row a case, in the order of the fields above.
        // clang-format off
        {"typing inserts at the caret",
         "0102", 2, 2, {Type("AB")}, "01AB02", 4, 4, 4},
        {"typing replaces the selection",
         "0102", 0, 4, {Type("f")}, "f", 1, 1, 1},
        {"Backspace and Delete",
         "0102", 2, 2, {Press(Qt::Key_Backspace), Press(Qt::Key_Delete)}, "02", 1, 1, 1},
        {"Shift+Home selects back to the start",
         "ABCD", 2, 2, {Press(Qt::Key_Home, shift)}, "ABCD", 0, 2, 0},
        {"Shift+Right extends, Left collapses to the start",
         "ABCD", 1, 1, {Press(Qt::Key_Right, shift), Press(Qt::Key_Right, shift), Press(Qt::Key_Left)},
         "ABCD", 1, 1, 1},
        {"End, then Ctrl+A and typing replaces all",
         "ABCD", 0, 0, {Press(Qt::Key_End), Press(Qt::Key_A, ctrl), Type("9")}, "9", 1, 1, 1},
        {"Ctrl+X and Ctrl+V move text",
         "ABCD", 0, 2, {Press(Qt::Key_X, ctrl), Press(Qt::Key_End), Press(Qt::Key_V, ctrl)},
         "CDAB", 4, 4, 4},
        {"Ctrl+Z undoes typing as one step, Ctrl+Shift+Z redoes it",
         "01", 2, 2, {Type("234"), Press(Qt::Key_Z, ctrl), Press(Qt::Key_Z, ctrl | shift)},
         "01234", 5, 5, 5},
        {"Ctrl+Z brings back erased text",
         "0123", 4, 4, {Press(Qt::Key_Backspace), Press(Qt::Key_Backspace), Press(Qt::Key_Z, ctrl)},
         "0123", 4, 4, 4},
        {"Ctrl+Right and Ctrl+Shift+Right go by words",
         "01 02 03", 0, 0, {Press(Qt::Key_Right, ctrl), Press(Qt::Key_Right, ctrl | shift)},
         "01 02 03", 3, 6, 6},
        {"word moves in a word of 200,000 characters stop 65,536 away",
         QByteArray(200000, 'A'), 100000, 100000,
         {Press(Qt::Key_Right, ctrl), Press(Qt::Key_Left, ctrl), Press(Qt::Key_Left, ctrl)},
         QByteArray(200000, 'A'), 34464, 34464, 34464},
        {"Ctrl+Backspace erases a word",
         "01 02", 5, 5, {Press(Qt::Key_Backspace, ctrl)}, "01 ", 3, 3, 3},
        {"8-bit characters are one byte each",
         "", 0, 0, {Type("0\u00B0\u00FF")}, "0\xB0\xFF", 3, 3, 3},
        {"a character with no byte types nothing",
         "01", 2, 2, {Type("\u20AC")}, "01", 2, 2, 2},
        {"Alt with a letter types nothing",
         "01", 2, 2, {Press(Qt::Key_A, Qt::AltModifier)}, "01", 2, 2, 2},
        // clang-format on
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        m_field.SetBytes(row.text);
        m_field.SetSelection(row.anchor, row.cursor);
        Perform(row.strokes);
        EXPECT_EQ(m_field.Bytes(), row.result);
        EXPECT_EQ(m_field.SelectionStart(), row.selectionStart);
        EXPECT_EQ(m_field.SelectionEnd(), row.selectionEnd);
        EXPECT_EQ(m_field.CursorPosition(), row.resultCursor);
    }
}

TEST_F(InputField, RefusesWhatHasNoByteAndSaysWhy)
{
    m_field.SetText("01");
    TypeInto(&m_field, "\u20AC");
    EXPECT_EQ(m_field.Bytes(), "01");
    EXPECT_TRUE(QToolTip::text().contains("U+20AC")) << QToolTip::text().toStdString();

    // A paste that holds one such character is refused whole, not cut.
    QToolTip::hideText();
    QGuiApplication::clipboard()->setText("AB\u00B0CD\u2192EF");
    QTest::keyClick(&m_field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(m_field.Bytes(), "01");
    EXPECT_TRUE(QToolTip::text().startsWith("Nothing was pasted"))
        << QToolTip::text().toStdString();
    EXPECT_TRUE(QToolTip::text().contains("U+2192"));
    EXPECT_FALSE(m_field.SetText("\u0100"));
    EXPECT_EQ(m_field.Bytes(), "01");

    // 8-bit text goes out and comes back byte for byte; control characters are kept.
    QGuiApplication::clipboard()->setText("\t\u00B0\u00A0\u00FF\n");
    QTest::keyClick(&m_field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(m_field.Bytes(), "01\t\xB0\xA0\xFF\n");
    m_field.SetSelection(2, 5);
    QTest::keyClick(&m_field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "\t\u00B0\u00A0");
    QTest::keyClick(&m_field, Qt::Key_Home);
    QTest::keyClick(&m_field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(m_field.Bytes(), "\t\xB0\xA0"
                               "01\t\xB0\xA0\xFF\n");
}

TEST_F(InputField, SelectsWithTheMouse)
{
    m_field.SetText("0102 0304");
    QTest::mouseClick(&m_field, Qt::LeftButton, Qt::NoModifier, PointBefore(2));
    EXPECT_EQ(m_field.CursorPosition(), 2);
    EXPECT_FALSE(m_field.HasSelection());
    QTest::mouseClick(&m_field, Qt::LeftButton, Qt::ShiftModifier, PointBefore(4));
    EXPECT_EQ(m_field.SelectionStart(), 2);
    EXPECT_EQ(m_field.SelectionEnd(), 4);

    QTest::mousePress(&m_field, Qt::LeftButton, Qt::NoModifier, PointBefore(1));
    QTest::mouseMove(&m_field, PointBefore(7));
    QTest::mouseRelease(&m_field, Qt::LeftButton, Qt::NoModifier, PointBefore(7));
    EXPECT_EQ(m_field.SelectionStart(), 1);
    EXPECT_EQ(m_field.SelectionEnd(), 7);

    QTest::mouseDClick(&m_field, Qt::LeftButton, Qt::NoModifier, PointBefore(6));
    EXPECT_EQ(m_field.SelectionStart(), 5);
    EXPECT_EQ(m_field.SelectionEnd(), 9);
}

TEST_F(InputField, FollowsTheCaretThroughATextFarWiderThanTheField)
{
    const QByteArray text = QByteArray("0123456789ABCDEF").repeated(64 * 1024); // 1 Mi
    m_field.SetBytes(text);
    EXPECT_EQ(m_field.CursorPosition(), text.size());
    EXPECT_GT(m_field.FirstVisible(), text.size() - 100);
    EXPECT_TRUE(CaretShows());

    QTest::keyClick(&m_field, Qt::Key_Home);
    EXPECT_EQ(m_field.FirstVisible(), 0);
    for (int i = 0; i < 200; ++i)
        QTest::keyClick(&m_field, Qt::Key_Right);
    EXPECT_GT(m_field.FirstVisible(), 0);
    EXPECT_TRUE(CaretShows());
    TypeInto(&m_field, "7");
    EXPECT_EQ(m_field.Length(), text.size() + 1);
    EXPECT_EQ(m_field.Bytes()[200], '7');
    EXPECT_TRUE(CaretShows());

    // Dragging past the right edge scrolls on, one character a move.
    const qsizetype first = m_field.FirstVisible();
    QTest::mousePress(&m_field, Qt::LeftButton, Qt::NoModifier,
                      PointBefore(m_field.CursorPosition()));
    for (int i = 0; i < 10; ++i)
        QTest::mouseMove(&m_field, QPoint(m_field.width() + 5, m_field.height() / 2));
    QTest::mouseRelease(&m_field, Qt::LeftButton);
    EXPECT_GT(m_field.FirstVisible(), first);
    EXPECT_TRUE(CaretShows());

    // Erasing from the end leaves no blank space while text lies hidden on the left.
    m_field.SetBytes(text.left(300));
    for (int i = 0; i < 20; ++i)
        QTest::keyClick(&m_field, Qt::Key_Backspace);
    const QRect last = m_field.CharacterRect(m_field.Length() - 1);
    EXPECT_GT(last.right(), m_field.width() - 20);
}

TEST_F(InputField, ReadsAsAnEditableTextToAssistiveTechnologies)
{
    m_field.SetText("01 02 0A0B");
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&m_field);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::EditableText);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Input");
    EXPECT_EQ(accessible->text(QAccessible::Value), "01 02 0A0B");
    EXPECT_TRUE(accessible->state().editable);
    EXPECT_TRUE(accessible->state().focusable);
    EXPECT_TRUE(accessible->state().selectableText);
    EXPECT_FALSE(accessible->state().multiLine);
    ASSERT_NE(accessible->editableTextInterface(), nullptr);
    QAccessibleTextInterface* text = accessible->textInterface();
    ASSERT_NE(text, nullptr);

    EXPECT_EQ(text->characterCount(), 10);
    EXPECT_EQ(text->text(3, 5), "02");
    EXPECT_EQ(text->cursorPosition(), 10);
    int start = 0, end = 0;
    const struct
    {
        int offset;
        QAccessible::TextBoundaryType type;
        const char* at;
        int start, end;
        const char* before;
        const char* after;
    } rows[] = {
        {4, QAccessible::WordBoundary, "02", 3, 5, " ", " "},
        {0, QAccessible::WordBoundary, "01", 0, 2, "", " "},
        {6, QAccessible::CharBoundary, "0", 6, 7, " ", "A"},
        {4, QAccessible::LineBoundary, "01 02 0A0B", 0, 10, "01 02 0A0B", "01 02 0A0B"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.offset);
        EXPECT_EQ(text->textAtOffset(row.offset, row.type, &start, &end), row.at);
        EXPECT_EQ(start, row.start);
        EXPECT_EQ(end, row.end);
        EXPECT_EQ(text->textBeforeOffset(row.offset, row.type, &start, &end), row.before);
        EXPECT_EQ(text->textAfterOffset(row.offset, row.type, &start, &end), row.after);
    }

    text->setSelection(0, 3, 5);
    EXPECT_EQ(m_field.SelectionStart(), 3);
    EXPECT_EQ(m_field.SelectionEnd(), 5);
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 3);
    EXPECT_EQ(end, 5);
    const QRect second = text->characterRect(3);
    EXPECT_TRUE(QRect(m_field.mapToGlobal(QPoint(0, 0)), m_field.size()).contains(second));
    EXPECT_EQ(text->offsetAtPoint(second.topLeft() + QPoint(1, 1)), 3);

    QAccessibleEditableTextInterface* editable = accessible->editableTextInterface();
    editable->replaceText(3, 5, "FF");
    editable->insertText(0, "\u00B0");
    editable->insertText(0, "\u20AC"); // no byte: refused
    editable->deleteText(1, 2);
    EXPECT_EQ(m_field.Bytes(), "\xB0"
                               "1 FF 0A0B");
}

TEST_F(InputField, AnswersAssistiveTechnologiesFromAroundTheOffsetInAHugeText)
{
    // Boundaries far from the offset asked about are found all the same.
    const QByteArray word(300000, 'A');
    m_field.SetBytes(word + " BB " + word);
    const QAccessibleTextInterface* text =
        QAccessible::queryAccessibleInterface(&m_field)->textInterface();
    int start = 0, end = 0;
    EXPECT_EQ(text->textAtOffset(5, QAccessible::WordBoundary, &start, &end).size(), word.size());
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, word.size());
    EXPECT_EQ(text->textAtOffset(300001, QAccessible::WordBoundary, &start, &end), "BB");
    EXPECT_EQ(text->textAfterOffset(300001, QAccessible::WordBoundary, &start, &end), " ");
    EXPECT_EQ(
        text->textBeforeOffset(text->characterCount(), QAccessible::CharBoundary, &start, &end),
        "A");
    EXPECT_EQ(start, text->characterCount() - 1);
}
} // namespace
