// The Input field as assistive technologies see it: an editable text whose every call costs in
// proportion to what it asks for, whatever the length of the field's text.
#include "terminal/InputField.h"
#include "terminal/accessible/AccessibleFactory.h"

#include <QAccessibleWidget>
#include <algorithm>

namespace
{
// A stretch of the field's text, so that Qt's own word, sentence and character rules can be run
// on just that much: the interface's default boundary functions read its whole text. Only
// text() and characterCount() are ever asked.
class CTextStretch : public QAccessibleTextInterface
{
  public:
    explicit CTextStretch(QString text) : m_text(std::move(text)) {}

    QString text(int startOffset, int endOffset) const override
    {
        return m_text.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(m_text.size()); }

    void selection(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        return QString();
    }

  private:
    const QString m_text;
};

enum class Side
{
    Before,
    At,
    After,
};

// The text item of `type` before, at or after `offset`, with Qt's rules and results, read
// from a stretch around the offset that widens until the item lies well inside it.
QString TextItem(const CInputField* field, int offset, QAccessible::TextBoundaryType type,
                 Side side, int* startOffset, int* endOffset)
{
    const qsizetype length = field->Length();
    if (length == 0 || offset < 0 || offset > length)
    {
        *startOffset = *endOffset = -1;
        return QString();
    }
    if ((side == Side::Before && offset == 0) || (side != Side::Before && offset == length))
    {
        *startOffset = *endOffset = offset;
        return QString();
    }
    if (type != QAccessible::CharBoundary && type != QAccessible::WordBoundary &&
        type != QAccessible::SentenceBoundary)
    {
        // One line: lines, paragraphs and the whole text are the same.
        *startOffset = 0;
        *endOffset = static_cast<int>(length);
        return field->Text();
    }
    // Boundary rules look a few characters to either side of a boundary.
    constexpr qsizetype kContext = 16;
    for (qsizetype reach = 64;; reach *= 4)
    {
        const qsizetype from = std::max<qsizetype>(0, offset - reach);
        const qsizetype to = std::min(length, offset + reach);
        const CTextStretch stretch(field->Text(from, to));
        const int local = static_cast<int>(offset - from);
        int start = -1, end = -1;
        QString item;
        if (side == Side::Before)
            item = stretch.QAccessibleTextInterface::textBeforeOffset(local, type, &start, &end);
        else if (side == Side::At)
            item = stretch.QAccessibleTextInterface::textAtOffset(local, type, &start, &end);
        else
            item = stretch.QAccessibleTextInterface::textAfterOffset(local, type, &start, &end);
        if ((from == 0 || start >= kContext) && (to == length || end <= to - from - kContext))
        {
            *startOffset = static_cast<int>(from + start);
            *endOffset = static_cast<int>(from + end);
            return item;
        }
    }
}

class CInputFieldAccessible : public QAccessibleWidget,
                              public QAccessibleTextInterface,
                              public QAccessibleEditableTextInterface
{
  public:
    explicit CInputFieldAccessible(CInputField* field)
        : QAccessibleWidget(field, QAccessible::EditableText)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return Field()->Text();
        return QAccessibleWidget::text(t);
    }
    void setText(QAccessible::Text t, const QString& text) override
    {
        if (t == QAccessible::Value)
            Field()->SetText(text);
        else
            QAccessibleWidget::setText(t, text);
    }

    // Text interface.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && Field()->HasSelection())
        {
            *startOffset = static_cast<int>(Field()->SelectionStart());
            *endOffset = static_cast<int>(Field()->SelectionEnd());
        }
    }
    int selectionCount() const override { return Field()->HasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        Field()->SetSelection(startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            Field()->SetCursorPosition(Field()->CursorPosition());
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            Field()->SetSelection(startOffset, endOffset);
    }
    int cursorPosition() const override { return static_cast<int>(Field()->CursorPosition()); }
    void setCursorPosition(int position) override { Field()->SetCursorPosition(position); }

    QString text(int startOffset, int endOffset) const override
    {
        return Field()->Text(startOffset, endOffset);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override
    {
        return TextItem(Field(), offset, boundaryType, Side::Before, startOffset, endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override
    {
        return TextItem(Field(), offset, boundaryType, Side::After, startOffset, endOffset);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override
    {
        return TextItem(Field(), offset, boundaryType, Side::At, startOffset, endOffset);
    }
    int characterCount() const override { return static_cast<int>(Field()->Length()); }

    QRect characterRect(int offset) const override
    {
        if (offset < 0 || offset > Field()->Length())
            return QRect();
        const QRect local = Field()->CharacterRect(offset);
        return QRect(Field()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = Field()->mapFromGlobal(point);
        if (!Field()->rect().contains(local))
            return -1;
        return static_cast<int>(Field()->OffsetAt(local.x()));
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        Field()->ScrollToRange(startIndex, endIndex);
    }
    QString attributes(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = 0;
        *endOffset = static_cast<int>(Field()->Length());
        return QString();
    }

    // Editable text interface.
    void deleteText(int startOffset, int endOffset) override
    {
        Field()->Replace(startOffset, endOffset, QString());
    }
    void insertText(int offset, const QString& text) override
    {
        Field()->Replace(offset, offset, text);
    }
    void replaceText(int startOffset, int endOffset, const QString& text) override
    {
        Field()->Replace(startOffset, endOffset, text);
    }

  private:
    CInputField* Field() const { return static_cast<CInputField*>(widget()); }
};

} // namespace

QAccessibleInterface* NewInputFieldAccessible(QObject* object)
{
    auto* field = qobject_cast<CInputField*>(object);
    return field != nullptr ? new CInputFieldAccessible(field) : nullptr;
}
