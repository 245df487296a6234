// The receive view as assistive technologies see it: a read-only text of hex digits, stepped
// through by character, by byte and by row, every answer read from the log around the offset.
#include "terminal/ReceiveView.h"
#include "terminal/accessible/AccessibleFactory.h"

#include <QAccessibleWidget>
#include <algorithm>

namespace
{
// The text units that assistive technologies step through: a character, a byte (two digits),
// and a visual row for lines, sentences and paragraphs, since the log is one run of digits
// with nothing else to end them.
int UnitSize(QAccessible::TextBoundaryType type, int columns)
{
    switch (type)
    {
    case QAccessible::CharBoundary:
        return 1;
    case QAccessible::WordBoundary:
        return 2;
    case QAccessible::SentenceBoundary:
    case QAccessible::ParagraphBoundary:
    case QAccessible::LineBoundary:
        return columns;
    case QAccessible::NoBoundary:
        break;
    }
    return 0;
}

class CReceiveViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
  public:
    explicit CReceiveViewAccessible(CReceiveView* view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && View()->SelectionStart() != View()->SelectionEnd())
        {
            *startOffset = View()->SelectionStart();
            *endOffset = View()->SelectionEnd();
        }
    }
    int selectionCount() const override
    {
        return View()->SelectionStart() != View()->SelectionEnd() ? 1 : 0;
    }
    void addSelection(int startOffset, int endOffset) override
    {
        View()->SetSelection(startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            View()->SetSelection(0, 0);
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            View()->SetSelection(startOffset, endOffset);
    }

    int cursorPosition() const override { return View()->SelectionEnd(); }
    void setCursorPosition(int position) override { View()->SetSelection(position, position); }

    QString text(int startOffset, int endOffset) const override
    {
        return View()->Text(startOffset, endOffset);
    }
    QString text(QAccessible::Text t) const override { return QAccessibleWidget::text(t); }

    // Every unit is answered from the log around the offset; the base class would fetch the
    // whole text for every question.
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                         int* endOffset) const override
    {
        const int length = View()->Length();
        if (type == QAccessible::NoBoundary)
            return Unit(0, length, startOffset, endOffset);
        if (offset < 0 || offset >= length)
            return Unit(-1, -1, startOffset, endOffset);
        const int size = UnitSize(type, View()->Columns());
        const int start = offset / size * size;
        return Unit(start, start + size, startOffset, endOffset);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                             int* endOffset) const override
    {
        const int length = View()->Length();
        const int size = UnitSize(type, View()->Columns());
        if (size == 0 || offset <= 0)
            return Unit(-1, -1, startOffset, endOffset);
        // The unit that ends where the one holding `offset` starts (the text's end counts as
        // a start).
        const int start = offset >= length ? length : offset / size * size;
        if (start == 0)
            return Unit(-1, -1, startOffset, endOffset);
        const int before = (start - 1) / size * size;
        return Unit(before, before + size, startOffset, endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                            int* endOffset) const override
    {
        const int length = View()->Length();
        const int size = UnitSize(type, View()->Columns());
        if (size == 0 || offset < 0 || offset >= length)
            return Unit(-1, -1, startOffset, endOffset);
        const int after = offset / size * size + size;
        if (after >= length)
            return Unit(-1, -1, startOffset, endOffset);
        return Unit(after, after + size, startOffset, endOffset);
    }

    int characterCount() const override { return View()->Length(); }

    QRect characterRect(int offset) const override
    {
        const CReceiveView* view = View();
        const QRect local = view->CharacterRect(offset);
        return QRect(view->viewport()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const CReceiveView* view = View();
        const QPoint local = view->viewport()->mapFromGlobal(point);
        if (!view->viewport()->rect().contains(local))
            return -1;
        return view->OffsetAt(local);
    }

    void scrollToSubstring(int startIndex, int) override { View()->ScrollToOffset(startIndex); }

    // Every character looks alike; the run reported is the row around the offset, so that a
    // reader that fetches the run's text never fetches the whole log.
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        const int length = View()->Length();
        const int columns = View()->Columns();
        offset = std::clamp(offset, 0, length);
        *startOffset = offset == length ? length : offset / columns * columns;
        *endOffset = std::min(length, *startOffset + columns);
        return QString();
    }

  private:
    CReceiveView* View() const { return static_cast<CReceiveView*>(widget()); }
    QString Unit(int start, int end, int* startOffset, int* endOffset) const
    {
        if (start < 0)
        {
            *startOffset = *endOffset = -1;
            return QString();
        }
        *startOffset = start;
        *endOffset = std::min(end, View()->Length());
        return View()->Text(start, *endOffset);
    }
};

} // namespace

QAccessibleInterface* NewReceiveViewAccessible(QObject* object)
{
    auto* view = qobject_cast<CReceiveView*>(object);
    return view != nullptr ? new CReceiveViewAccessible(view) : nullptr;
}
