// CInputField: the Input field of the terminal window, written for it because a stock line edit
// lays out its whole text on every change: with a picked or pasted command of 1 Mi characters a
// keystroke took over a second, and hex commands run to megabytes. Do not swap it back for one.
// It is a single-line editor of 8-bit text that holds its text as bytes, one character each
// (Latin-1: byte b is the character U+00bb), so what the window sends is exactly what was typed
// or picked, and a command line goes in byte for byte. It offers what a single-line field does:
// a caret, selection with the mouse and Shift with the arrow keys, Home/End, word moves,
// Backspace/Delete, Ctrl+A/C/X/V, undo and redo, the X11 primary selection, a context menu,
// scrolling sideways to follow the caret. Enter emits returnPressed and passes the key on, like
// a line edit.
//
// Only the visible run of characters is ever measured or drawn: every character has a fixed
// advance in the widget's font (kerning off), so the caret, scrolling and painting cost time in
// proportion to the field's width, whatever the text's length. Word moves, erasing a word and
// selecting one by double-click look for its end at most 64 Ki characters away and stop there:
// a long hex command is one word. Copy and the primary selection hand over a shared reference
// to the text and turn it into characters only when another program asks; pasting back what
// the field itself or the command list copied takes the bytes as they are, and any other text
// is checked and converted in one pass. Assistive
// technologies see an editable text (its name is the widget's accessible name) whose every
// call costs in proportion to what it asks for, and hear every change as text events.
//
// Characters above U+00FF have no byte. A key that would type one inserts nothing; a paste, or
// an insertion by an assistive technology, that holds one is refused whole; so is one that
// would make the text longer than kMaxLength. Each refusal beeps and says why in a tooltip at
// the caret; SetText and Insert report it as false. Control characters are kept and drawn as
// spaces; keys never type them.
//
// User-interface thread only. Bytes() may be handed to another thread: the copy shares the
// field's buffer, and the field's next change copies the text rather than touching it.
//
// InputField.cpp holds the widget (painting, keys, mouse, scrolling), InputFieldEditing.cpp
// how the text changes (edits, undo, what may go in, the clipboard), and
// terminal/accessible/InputFieldAccessible.cpp the interface assistive technologies use.
#pragma once

#include <QBasicTimer>
#include <QByteArray>
#include <QClipboard>
#include <QWidget>
#include <algorithm>
#include <array>
#include <deque>
#include <limits>
#include <vector>

class QStyleOptionFrame;

class CInputField : public QWidget
{
    Q_OBJECT

  public:
    // Offsets are ints for assistive technologies, so the text stays within their range.
    static constexpr qsizetype kMaxLength = std::numeric_limits<int>::max();
    // What undo keeps of earlier texts; the oldest steps go first.
    static constexpr qsizetype kUndoBytes = qsizetype{64} * 1024 * 1024;

    explicit CInputField(QWidget* parent = nullptr);
    ~CInputField() override;

    // The text, one byte a character. A shared copy: no bytes are copied.
    QByteArray Bytes() const { return m_text; }
    qsizetype Length() const { return m_text.size(); }
    QString Text() const { return QString::fromLatin1(m_text); }
    QString Text(qsizetype from, qsizetype to) const;

    // Replace the whole text (one undo step) and put the caret at its end. SetBytes takes any
    // bytes, SetText refuses characters above U+00FF; both refuse a text longer than
    // kMaxLength. A refusal returns false and leaves the text as it was.
    bool SetBytes(QByteArray bytes);
    bool SetText(const QString& text);
    // Puts `text` in place of [from, to) as a paste does (one undo step, the caret after it);
    // false when refused.
    bool Replace(qsizetype from, qsizetype to, const QString& text);

    qsizetype CursorPosition() const { return m_cursor; }
    void SetCursorPosition(qsizetype position);
    // Selection [start, end); the caret goes to `end`. start == end selects nothing.
    void SetSelection(qsizetype start, qsizetype end);
    qsizetype SelectionStart() const { return std::min(m_anchor, m_cursor); }
    qsizetype SelectionEnd() const { return std::max(m_anchor, m_cursor); }
    bool HasSelection() const { return m_anchor != m_cursor; }
    void SelectAll();

    void Copy() const;
    void Cut();
    void Paste(QClipboard::Mode mode = QClipboard::Clipboard);
    void Undo();
    void Redo();
    bool IsUndoAvailable() const { return !m_undo.empty(); }
    bool IsRedoAvailable() const { return !m_redo.empty(); }

    // Widget coordinates. OffsetAt answers for the visible run and one character beyond either
    // edge (so a drag past an edge scrolls); CharacterRect costs in proportion to how far the
    // offset lies from the last one asked or from the visible run.
    qsizetype OffsetAt(qreal x) const;
    QRect CharacterRect(qsizetype offset) const;
    qsizetype FirstVisible() const { return m_first; }
    // Scrolls the least that shows [from, to), or as much of it as fits from `from` on.
    void ScrollToRange(qsizetype from, qsizetype to);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

  signals:
    void returnPressed();

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    enum class EditKind
    {
        Typing,
        EraseBackward,
        EraseForward,
        Other,
    };
    // One undo or redo step: putting `text` in place of [at, at + length) reverts a change.
    struct Change
    {
        qsizetype at;
        qsizetype length;
        QByteArray text;
        EditKind kind;
    };

    void InitStyleOption(QStyleOptionFrame* option) const;
    QRectF LineRect() const;
    void UpdateMetrics();
    qreal Advance(qsizetype offset) const
    {
        return m_advances[static_cast<unsigned char>(m_text[offset])];
    }
    qreal XOf(qsizetype offset) const; // from the left of LineRect
    QRectF CaretRect() const;

    bool Apply(qsizetype from, qsizetype to, QByteArray bytes, EditKind kind);
    void Record(qsizetype at, QByteArray removed, qsizetype insertedLength, EditKind kind);
    void Revert(std::deque<Change>& from, std::deque<Change>& to);
    void TrimHistory();
    bool Accept(const QString& text, const QString& refused, QByteArray* bytes);
    bool Fits(qsizetype insertedLength, const QString& refused);
    void Refuse(const QString& why);
    void TypeText(const QString& text);
    void Erase(qsizetype from, qsizetype to, EditKind kind);
    void MoveCursor(qsizetype position, bool select);
    void SetCursorAndAnchor(qsizetype cursor, qsizetype anchor);
    void SetFirst(qsizetype first);
    void ShowOffset(qsizetype offset);
    qsizetype NextWord(qsizetype offset) const;
    qsizetype PreviousWord(qsizetype offset) const;
    void OfferPrimarySelection() const;

    void RestartBlinking();
    void NotifyTextChange(qsizetype at, const QByteArray& removed, qsizetype insertedLength);
    void NotifySelectionChange(qsizetype oldStart, qsizetype oldEnd, qsizetype oldCursor);

    QByteArray m_text;
    qsizetype m_cursor = 0;
    qsizetype m_anchor = 0;
    qsizetype m_first = 0; // the first visible character

    QFont m_drawFont;
    std::array<qreal, 256> m_advances{};
    qreal m_ascent = 0;
    qreal m_lineHeight = 1;
    int m_caretWidth = 1;
    std::vector<qreal> m_positions; // painting's scratch: x of each visible character

    // The last CharacterRect answer, so that a sweep over offsets walks each step once.
    mutable qsizetype m_xCacheOffset = 0;
    mutable qreal m_xCacheValue = 0;

    std::deque<Change> m_undo;
    std::deque<Change> m_redo;
    qsizetype m_historyBytes = 0;

    QBasicTimer m_blink;
    bool m_caretShown = false;
    bool m_selecting = false;
};
