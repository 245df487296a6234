#include "terminal/InputField.h"

#include "text/BytesMimeData.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleHints>
#include <QStyleOptionFrame>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace
{
// Between the frame's contents and the text, so that the caret and the first and last
// characters never touch the frame.
constexpr int kHorizontalMargin = 2;
constexpr int kVerticalMargin = 1;

// What is drawn for a byte: control characters as spaces (as single-line fields show line
// ends), the soft hyphen visibly, everything else as itself.
QChar Shown(unsigned char c)
{
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return QLatin1Char(' ');
    if (c == 0xAD)
        return QLatin1Char('-');
    return QChar(char16_t(c));
}

// Word moves and double-clicks step over runs of one class, looking at most this far from where
// they start: a long hex command is one word, and the caret stops at this distance at once
// rather than after a walk over the whole text.
constexpr qsizetype kWordReach = 64 * 1024;

enum class CharClass
{
    Space,
    Word,
    Other,
};

CharClass ClassOf(char c)
{
    const QChar ch(char16_t(static_cast<unsigned char>(c)));
    if (ch.isSpace())
        return CharClass::Space;
    if (ch.isLetterOrNumber() || ch == QLatin1Char('_'))
        return CharClass::Word;
    return CharClass::Other;
}

} // namespace

CInputField::CInputField(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase | Qt::ImhPreferLatin);
    setCursor(Qt::IBeamCursor);
    setBackgroundRole(QPalette::Base);
    setSizePolicy(QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed, QSizePolicy::LineEdit));
    UpdateMetrics();
}

CInputField::~CInputField() = default;

void CInputField::SetCursorPosition(qsizetype position)
{
    position = std::clamp<qsizetype>(position, 0, Length());
    SetCursorAndAnchor(position, position);
}

void CInputField::SetSelection(qsizetype start, qsizetype end)
{
    SetCursorAndAnchor(std::clamp<qsizetype>(end, 0, Length()),
                       std::clamp<qsizetype>(start, 0, Length()));
}

void CInputField::SelectAll()
{
    SetCursorAndAnchor(Length(), 0);
}

qsizetype CInputField::OffsetAt(qreal x) const
{
    const QRectF line = LineRect();
    if (x < line.left())
        return m_first > 0 ? m_first - 1 : 0;
    qsizetype offset = m_first;
    qreal left = line.left();
    if (x > line.right())
    {
        // Past the right edge: one character beyond the last one shown whole.
        while (offset < Length() && left + Advance(offset) <= line.right())
            left += Advance(offset++);
        return std::min(offset + 1, Length());
    }
    for (; offset < Length(); ++offset)
    {
        const qreal advance = Advance(offset);
        if (x < left + advance / 2)
            return offset;
        left += advance;
    }
    return Length();
}

QRect CInputField::CharacterRect(qsizetype offset) const
{
    offset = std::clamp<qsizetype>(offset, 0, Length());
    const QRectF line = LineRect();
    const qreal width = offset < Length() ? Advance(offset) : 0;
    return QRectF(line.left() + XOf(offset), line.top(), width, line.height()).toAlignedRect();
}

void CInputField::ScrollToRange(qsizetype from, qsizetype to)
{
    from = std::clamp<qsizetype>(from, 0, Length());
    to = std::clamp<qsizetype>(to, from, Length());
    ShowOffset(to);
    ShowOffset(from);
    update();
}

QSize CInputField::sizeHint() const
{
    ensurePolished();
    const QFontMetrics metrics(font());
    const int height = std::max(metrics.height(), 14) + 2 * kVerticalMargin;
    const int width = metrics.horizontalAdvance(QLatin1Char('x')) * 17 + 2 * kHorizontalMargin;
    QStyleOptionFrame option;
    InitStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(width, height), this);
}

QSize CInputField::minimumSizeHint() const
{
    ensurePolished();
    const QFontMetrics metrics(font());
    const int height = metrics.height() + 2 * kVerticalMargin;
    const int width = metrics.maxWidth() + 2 * kHorizontalMargin;
    QStyleOptionFrame option;
    InitStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(width, height), this);
}

QVariant CInputField::inputMethodQuery(Qt::InputMethodQuery query) const
{
    if (query == Qt::ImCursorRectangle)
        return CaretRect();
    return QWidget::inputMethodQuery(query);
}

bool CInputField::event(QEvent* event)
{
    // Keys the field acts on are its own, not shortcuts of the window; Alt+A stays the window's.
    if (event->type() == QEvent::ShortcutOverride)
    {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool commands =
            key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        static const QKeySequence::StandardKey kEditing[] = {
            QKeySequence::Undo,
            QKeySequence::Redo,
            QKeySequence::SelectAll,
            QKeySequence::Copy,
            QKeySequence::Cut,
            QKeySequence::Paste,
            QKeySequence::Delete,
            QKeySequence::DeleteStartOfWord,
            QKeySequence::DeleteEndOfWord,
            QKeySequence::MoveToNextWord,
            QKeySequence::MoveToPreviousWord,
            QKeySequence::SelectNextWord,
            QKeySequence::SelectPreviousWord,
            QKeySequence::MoveToStartOfDocument,
            QKeySequence::MoveToEndOfDocument,
            QKeySequence::SelectStartOfDocument,
            QKeySequence::SelectEndOfDocument,
        };
        const bool editing = std::any_of(std::begin(kEditing), std::end(kEditing),
                                         [key](auto sequence) { return key->matches(sequence); });
        const bool typing = !commands && !key->text().isEmpty() && key->text().at(0).isPrint();
        const bool plain =
            !commands && (key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete ||
                          key->key() == Qt::Key_Home || key->key() == Qt::Key_End ||
                          key->key() == Qt::Key_Left || key->key() == Qt::Key_Right);
        if (editing || typing || plain)
        {
            key->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void CInputField::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionFrame option;
    InitStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    painter.setClipRect(contents);

    // Just the characters that show, and their places.
    const QRectF line = LineRect();
    m_positions.clear();
    qreal x = line.left();
    for (qsizetype i = m_first; i < Length() && x <= contents.right() + 1; ++i)
    {
        m_positions.push_back(x);
        x += Advance(i);
    }
    m_positions.push_back(x);
    const qsizetype shown = static_cast<qsizetype>(m_positions.size()) - 1;

    const QPalette& palette = option.palette;
    const qsizetype selStart = std::clamp(SelectionStart() - m_first, qsizetype{0}, shown);
    const qsizetype selEnd = std::clamp(SelectionEnd() - m_first, selStart, shown);
    if (selStart < selEnd)
        painter.fillRect(QRectF(m_positions[selStart], line.top(),
                                m_positions[selEnd] - m_positions[selStart], line.height()),
                         palette.brush(QPalette::Highlight));

    painter.setFont(m_drawFont);
    const qreal baseline = line.top() + m_ascent;
    for (qsizetype i = 0; i < shown; ++i)
    {
        const QChar glyph = Shown(static_cast<unsigned char>(m_text[m_first + i]));
        if (glyph == QLatin1Char(' '))
            continue;
        const bool selected = i >= selStart && i < selEnd;
        painter.setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(QPointF(m_positions[i], baseline), QString(glyph));
    }

    if (m_caretShown && hasFocus())
        painter.fillRect(CaretRect(), palette.color(QPalette::Text));
}

void CInputField::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    SetFirst(m_first);
    ShowOffset(m_cursor);
}

void CInputField::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
    {
        UpdateMetrics();
        SetFirst(m_first);
        ShowOffset(m_cursor);
    }
    update();
}

void CInputField::focusInEvent(QFocusEvent* event)
{
    // Tabbing into a field selects what it holds, so typing replaces it.
    const Qt::FocusReason reason = event->reason();
    if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
         reason == Qt::ShortcutFocusReason) &&
        !HasSelection())
        SelectAll();
    RestartBlinking();
    if (QGuiApplication::inputMethod() != nullptr)
        QGuiApplication::inputMethod()->update(Qt::ImQueryAll);
    QWidget::focusInEvent(event);
    update();
}

void CInputField::focusOutEvent(QFocusEvent* event)
{
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
        SetCursorPosition(m_cursor);
    m_blink.stop();
    m_caretShown = false;
    QWidget::focusOutEvent(event);
    update();
}

void CInputField::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_blink.timerId())
    {
        QWidget::timerEvent(event);
        return;
    }
    m_caretShown = !m_caretShown;
    update(CaretRect().toAlignedRect());
}

void CInputField::keyPressEvent(QKeyEvent* event)
{
    const auto is = [event](QKeySequence::StandardKey key) { return event->matches(key); };
    const qsizetype start = SelectionStart(), end = SelectionEnd();

    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
    {
        // The window sends; the key goes on to it, as from any single-line field.
        emit returnPressed();
        event->ignore();
        return;
    }
    if (is(QKeySequence::Undo))
        Undo();
    else if (is(QKeySequence::Redo))
        Redo();
    else if (is(QKeySequence::SelectAll))
        SelectAll();
    else if (is(QKeySequence::Copy))
        Copy();
    else if (is(QKeySequence::Cut))
        Cut();
    else if (is(QKeySequence::Paste))
        Paste();
    else if (is(QKeySequence::MoveToNextChar))
        MoveCursor(HasSelection() ? end : m_cursor + 1, false);
    else if (is(QKeySequence::MoveToPreviousChar))
        MoveCursor(HasSelection() ? start : m_cursor - 1, false);
    else if (is(QKeySequence::SelectNextChar))
        MoveCursor(m_cursor + 1, true);
    else if (is(QKeySequence::SelectPreviousChar))
        MoveCursor(m_cursor - 1, true);
    else if (is(QKeySequence::MoveToNextWord))
        MoveCursor(NextWord(m_cursor), false);
    else if (is(QKeySequence::MoveToPreviousWord))
        MoveCursor(PreviousWord(m_cursor), false);
    else if (is(QKeySequence::SelectNextWord))
        MoveCursor(NextWord(m_cursor), true);
    else if (is(QKeySequence::SelectPreviousWord))
        MoveCursor(PreviousWord(m_cursor), true);
    else if (is(QKeySequence::MoveToStartOfLine) || is(QKeySequence::MoveToStartOfBlock) ||
             is(QKeySequence::MoveToStartOfDocument))
        MoveCursor(0, false);
    else if (is(QKeySequence::MoveToEndOfLine) || is(QKeySequence::MoveToEndOfBlock) ||
             is(QKeySequence::MoveToEndOfDocument))
        MoveCursor(Length(), false);
    else if (is(QKeySequence::SelectStartOfLine) || is(QKeySequence::SelectStartOfBlock) ||
             is(QKeySequence::SelectStartOfDocument))
        MoveCursor(0, true);
    else if (is(QKeySequence::SelectEndOfLine) || is(QKeySequence::SelectEndOfBlock) ||
             is(QKeySequence::SelectEndOfDocument))
        MoveCursor(Length(), true);
    else if (is(QKeySequence::DeleteStartOfWord))
        Erase(HasSelection() ? start : PreviousWord(m_cursor), end, EditKind::Other);
    else if (is(QKeySequence::DeleteEndOfWord))
        Erase(start, HasSelection() ? end : NextWord(m_cursor), EditKind::Other);
    else if (event->key() == Qt::Key_Backspace && !(event->modifiers() & Qt::ControlModifier))
        Erase(HasSelection() ? start : m_cursor - 1, end, EditKind::EraseBackward);
    else if (is(QKeySequence::Delete))
        Erase(start, HasSelection() ? end : m_cursor + 1, EditKind::EraseForward);
    else if (const QString text = event->text();
             !text.isEmpty() && text.at(0).isPrint() &&
             !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        TypeText(text);
    else
    {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CInputField::inputMethodEvent(QInputMethodEvent* event)
{
    if (!event->commitString().isEmpty())
        TypeText(event->commitString());
    event->accept();
}

void CInputField::mousePressEvent(QMouseEvent* event)
{
    const qsizetype offset = OffsetAt(event->position().x());
    if (event->button() == Qt::LeftButton)
    {
        MoveCursor(offset, event->modifiers() & Qt::ShiftModifier);
        m_selecting = true;
    }
    else if (event->button() == Qt::MiddleButton &&
             QGuiApplication::clipboard()->supportsSelection())
    {
        MoveCursor(offset, false);
        Paste(QClipboard::Selection);
    }
    else
    {
        QWidget::mousePressEvent(event);
    }
}

void CInputField::mouseMoveEvent(QMouseEvent* event)
{
    if (m_selecting)
        MoveCursor(OffsetAt(event->position().x()), true);
}

void CInputField::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_selecting)
    {
        m_selecting = false;
        OfferPrimarySelection();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void CInputField::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || Length() == 0)
    {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    // The run of one kind of character under the pointer.
    const qsizetype offset = std::min(OffsetAt(event->position().x()), Length() - 1);
    const CharClass kind = ClassOf(m_text[offset]);
    const qsizetype first = std::max<qsizetype>(0, offset - kWordReach);
    const qsizetype last = std::min(Length(), offset + 1 + kWordReach);
    qsizetype start = offset, end = offset + 1;
    while (start > first && ClassOf(m_text[start - 1]) == kind)
        --start;
    while (end < last && ClassOf(m_text[end]) == kind)
        ++end;
    SetCursorAndAnchor(end, start);
    m_selecting = false;
    OfferPrimarySelection();
}

void CInputField::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    const auto add =
        [&](const QString& text, auto slot, QKeySequence::StandardKey key, bool enabled)
    {
        QAction* action = menu.addAction(text, this, slot);
        action->setShortcut(key);
        action->setEnabled(enabled);
    };
    const bool clipboardHasText = QGuiApplication::clipboard()->mimeData() != nullptr &&
                                  QGuiApplication::clipboard()->mimeData()->hasText();
    add(tr("&Undo"), &CInputField::Undo, QKeySequence::Undo, IsUndoAvailable());
    add(tr("&Redo"), &CInputField::Redo, QKeySequence::Redo, IsRedoAvailable());
    menu.addSeparator();
    add(tr("Cu&t"), &CInputField::Cut, QKeySequence::Cut, HasSelection());
    add(tr("&Copy"), &CInputField::Copy, QKeySequence::Copy, HasSelection());
    add(
        tr("&Paste"), [this] { Paste(); }, QKeySequence::Paste, clipboardHasText);
    add(
        tr("Delete"), [this] { Erase(SelectionStart(), SelectionEnd(), EditKind::Other); },
        QKeySequence::Delete, HasSelection());
    menu.addSeparator();
    add(tr("Select All"), &CInputField::SelectAll, QKeySequence::SelectAll, Length() > 0);
    menu.exec(event->globalPos());
}

void CInputField::InitStyleOption(QStyleOptionFrame* option) const
{
    option->initFrom(this);
    option->rect = contentsRect();
    option->lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, option, this);
    option->midLineWidth = 0;
    option->state |= QStyle::State_Sunken;
    option->features = QStyleOptionFrame::None;
}

QRectF CInputField::LineRect() const
{
    QStyleOptionFrame option;
    InitStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    const qreal top =
        contents.top() + std::floor((contents.height() - std::ceil(m_lineHeight) + 1) / 2);
    return QRectF(contents.left() + kHorizontalMargin, top,
                  contents.width() - 2 * kHorizontalMargin, m_lineHeight);
}

void CInputField::UpdateMetrics()
{
    // Every character keeps its own advance (no kerning), so a place in the text is the sum
    // of the advances before it, and a run can be measured anywhere without the rest.
    m_drawFont = font();
    m_drawFont.setKerning(false);
    const QFontMetricsF metrics(m_drawFont);
    for (int c = 0; c < 256; ++c)
        m_advances[static_cast<std::size_t>(c)] =
            metrics.horizontalAdvance(Shown(static_cast<unsigned char>(c)));
    m_ascent = metrics.ascent();
    m_lineHeight = metrics.height();
    m_caretWidth = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
}

qreal CInputField::XOf(qsizetype offset) const
{
    offset = std::clamp<qsizetype>(offset, 0, Length());
    // Walk from whichever known place is nearer: the first visible character or the last answer.
    qsizetype from = m_first;
    qreal x = 0;
    if (std::abs(offset - m_xCacheOffset) < std::abs(offset - m_first))
    {
        from = m_xCacheOffset;
        x = m_xCacheValue;
    }
    for (; from < offset; ++from)
        x += Advance(from);
    while (from > offset)
        x -= Advance(--from);
    m_xCacheOffset = offset;
    m_xCacheValue = x;
    return x;
}

QRectF CInputField::CaretRect() const
{
    const QRectF line = LineRect();
    return QRectF(std::floor(line.left() + XOf(m_cursor)), line.top(), m_caretWidth, line.height());
}

void CInputField::MoveCursor(qsizetype position, bool select)
{
    position = std::clamp<qsizetype>(position, 0, Length());
    SetCursorAndAnchor(position, select ? m_anchor : position);
}

void CInputField::SetCursorAndAnchor(qsizetype cursor, qsizetype anchor)
{
    const qsizetype oldStart = SelectionStart(), oldEnd = SelectionEnd(), oldCursor = m_cursor;
    m_cursor = cursor;
    m_anchor = anchor;
    ShowOffset(m_cursor);
    NotifySelectionChange(oldStart, oldEnd, oldCursor);
    RestartBlinking();
    update();
}

void CInputField::SetFirst(qsizetype first)
{
    m_first = first;
    m_xCacheOffset = first;
    m_xCacheValue = 0;
}

// The least scrolling that shows the caret at `offset`, and then no blank space on the right
// while text lies hidden on the left. Each walk stops once it has covered the width, so this
// costs in proportion to what is visible.
void CInputField::ShowOffset(qsizetype offset)
{
    const qreal width = LineRect().width() - m_caretWidth;
    qsizetype first = std::min(m_first, Length());
    if (offset < first)
        first = offset;
    else
    {
        qreal x = 0;
        for (qsizetype i = first; i < offset && x <= width;)
            x += Advance(i++);
        if (x > width)
        {
            qreal used = 0;
            first = offset;
            while (first > 0 && used + Advance(first - 1) <= width)
                used += Advance(--first);
        }
    }
    qreal used = 0;
    for (qsizetype i = first; i < Length() && used <= width;)
        used += Advance(i++);
    while (used <= width && first > 0 && used + Advance(first - 1) <= width)
        used += Advance(--first);
    if (first != m_first)
        SetFirst(first);
    if (hasFocus() && QGuiApplication::inputMethod() != nullptr)
        QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle);
}

qsizetype CInputField::NextWord(qsizetype offset) const
{
    if (offset >= Length())
        return Length();
    const qsizetype last = std::min(Length(), offset + kWordReach);
    const CharClass kind = ClassOf(m_text[offset]);
    if (kind != CharClass::Space)
        while (offset < last && ClassOf(m_text[offset]) == kind)
            ++offset;
    while (offset < last && ClassOf(m_text[offset]) == CharClass::Space)
        ++offset;
    return offset;
}

qsizetype CInputField::PreviousWord(qsizetype offset) const
{
    offset = std::min(offset, Length());
    const qsizetype first = std::max<qsizetype>(0, offset - kWordReach);
    while (offset > first && ClassOf(m_text[offset - 1]) == CharClass::Space)
        --offset;
    if (offset == first)
        return first;
    const CharClass kind = ClassOf(m_text[offset - 1]);
    while (offset > first && ClassOf(m_text[offset - 1]) == kind)
        --offset;
    return offset;
}

void CInputField::OfferPrimarySelection() const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && HasSelection())
        clipboard->setMimeData(
            new CBytesMimeData(m_text.mid(SelectionStart(), SelectionEnd() - SelectionStart()),
                               CBytesMimeData::Reading::Latin1),
            QClipboard::Selection);
}

void CInputField::RestartBlinking()
{
    if (!hasFocus())
        return;
    m_caretShown = true;
    const int interval = QGuiApplication::styleHints()->cursorFlashTime() / 2;
    if (interval > 0)
        m_blink.start(interval, this);
    else
        m_blink.stop();
}

void CInputField::NotifyTextChange(qsizetype at, const QByteArray& removed,
                                   qsizetype insertedLength)
{
    if (!QAccessible::isActive())
        return;
    const int position = static_cast<int>(at);
    const QString inserted = Text(at, at + insertedLength);
    if (removed.isEmpty())
    {
        QAccessibleTextInsertEvent event(this, position, inserted);
        QAccessible::updateAccessibility(&event);
    }
    else if (insertedLength == 0)
    {
        QAccessibleTextRemoveEvent event(this, position, QString::fromLatin1(removed));
        QAccessible::updateAccessibility(&event);
    }
    else
    {
        QAccessibleTextUpdateEvent event(this, position, QString::fromLatin1(removed), inserted);
        QAccessible::updateAccessibility(&event);
    }
    QAccessibleTextCursorEvent cursor(this, static_cast<int>(m_cursor));
    QAccessible::updateAccessibility(&cursor);
}

void CInputField::NotifySelectionChange(qsizetype oldStart, qsizetype oldEnd, qsizetype oldCursor)
{
    if (!QAccessible::isActive())
        return;
    if (SelectionStart() != oldStart || SelectionEnd() != oldEnd)
    {
        QAccessibleTextSelectionEvent event(this, static_cast<int>(SelectionStart()),
                                            static_cast<int>(SelectionEnd()));
        event.setCursorPosition(static_cast<int>(m_cursor));
        QAccessible::updateAccessibility(&event);
    }
    if (m_cursor != oldCursor)
    {
        QAccessibleTextCursorEvent event(this, static_cast<int>(m_cursor));
        QAccessible::updateAccessibility(&event);
    }
}
