#include "terminal/ReceiveView.h"

#include "terminal/ReceiveLog.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

namespace
{
constexpr int kLeftMargin = 3; // pixels between the frame and the first column
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kTileCount = 17; // the 16 digits and a blank
constexpr std::size_t kBlankTile = 16;

int DigitIndex(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

int FloorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
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

    // Characters and visual rows are answered from the log directly; the base class would
    // fetch the whole text for every question.
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override
    {
        const CReceiveView* view = View();
        const int length = view->Length();
        if (offset < 0 || offset >= length)
        {
            *startOffset = *endOffset = -1;
            return QString();
        }
        if (boundaryType == QAccessible::CharBoundary)
        {
            *startOffset = offset;
            *endOffset = offset + 1;
            return view->Text(offset, offset + 1);
        }
        if (boundaryType == QAccessible::LineBoundary)
        {
            *startOffset = offset / view->Columns() * view->Columns();
            *endOffset = std::min(length, *startOffset + view->Columns());
            return view->Text(*startOffset, *endOffset);
        }
        return QAccessibleTextInterface::textAtOffset(offset, boundaryType, startOffset, endOffset);
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

    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = 0;
        *endOffset = std::max(offset, View()->Length());
        return QString();
    }

  private:
    CReceiveView* View() const { return static_cast<CReceiveView*>(widget()); }
};

// While the view follows streaming data, the scroll bar's range and value change every frame,
// yet its picture changes only now and then. Repainting it only then saves much of the cost
// of a frame: styles draw scroll bars with gradients over their whole length. The view makes
// its changes inside Batch(), and the bar compares its picture once at the end.
class CFollowingScrollBar : public QScrollBar
{
  public:
    using QScrollBar::QScrollBar;

    template <class Changes> void Batch(Changes changes)
    {
        m_batching = true;
        changes();
        m_batching = false;
        if (Look() != m_painted)
            update();
    }

  protected:
    void sliderChange(SliderChange change) override
    {
        if (!m_batching)
            QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent* event) override
    {
        m_painted = Look();
        QScrollBar::paintEvent(event);
    }

  private:
    struct Picture
    {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Picture&) const = default;
    };
    Picture Look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                value() == minimum(), value() == maximum()};
    }

    bool m_batching = false;
    Picture m_painted{QRect(-1, -1, 0, 0)};
};

QAccessibleInterface* ReceiveViewAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CReceiveView") && object != nullptr && object->isWidgetType())
        return new CReceiveViewAccessible(static_cast<CReceiveView*>(object));
    return nullptr;
}
} // namespace

CReceiveView::CReceiveView(QWidget* parent) : QAbstractScrollArea(parent)
{
    static std::once_flag factoryInstalled;
    std::call_once(factoryInstalled,
                   [] { QAccessible::installFactory(ReceiveViewAccessibleFactory); });

    QFont mono;
    mono.setFamilies(QStringList{QStringLiteral("Liberation Mono"),
                                 QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
    mono.setStyleHint(QFont::TypeWriter);
    mono.setFixedPitch(true);
    mono.setPointSize(9);
    setFont(mono);

    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBar(new CFollowingScrollBar(Qt::Vertical, this));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The view paints every pixel itself; this also lets scrolling move pixels instead of
    // repainting the whole viewport.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);

    UpdateMetrics();
    UpdateColumns();
    UpdateScrollRange();
}

CReceiveView::~CReceiveView() = default;

void CReceiveView::SetLog(const CReceiveLog* log)
{
    m_log = log;
    m_length = 0;
    m_discarded = 0;
    m_anchor = m_cursor = 0;
    if (m_log != nullptr)
    {
        const std::lock_guard lock(m_log->Mutex());
        m_clears = m_log->ClearsLocked() - 1; // so that the next Refresh starts afresh
    }
    Refresh();
}

void CReceiveView::Refresh()
{
    int length = 0;
    std::int64_t discarded = 0;
    std::uint64_t clears = m_clears;
    if (m_log != nullptr)
    {
        const std::lock_guard lock(m_log->Mutex());
        length = m_log->TextLocked().GetLength();
        discarded = m_log->DiscardedLocked();
        clears = m_log->ClearsLocked();
    }

    auto* bar = static_cast<CFollowingScrollBar*>(verticalScrollBar());
    const bool atEnd = IsAtEnd();
    const int oldLength = m_length;
    bool replaced = false;
    bar->Batch(
        [&]
        {
            if (clears != m_clears)
            {
                m_clears = clears;
                m_discarded = discarded;
                m_length = length;
                m_anchor = m_cursor = discarded;
                UpdateScrollRange();
                bar->setValue(0);
                replaced = true;
            }
            else if (discarded != m_discarded)
            {
                const std::int64_t rowsGone = (discarded - m_discarded) / m_columns;
                m_discarded = discarded;
                m_length = length;
                UpdateScrollRange();
                if (!atEnd)
                    bar->setValue(
                        static_cast<int>(std::max<std::int64_t>(0, bar->value() - rowsGone)));
                replaced = true;
            }
            else
            {
                m_length = length;
                UpdateScrollRange();
            }
            if (atEnd)
                bar->setValue(bar->maximum());
        });
    if (replaced)
        viewport()->update();
    else if (m_length > oldLength)
        UpdateRows(oldLength / m_columns, (m_length - 1) / m_columns);
    NotifyAccessibility(oldLength, replaced);
}

QString CReceiveView::Text(int from, int to) const
{
    if (m_log == nullptr)
        return QString();
    from = std::clamp(from, 0, m_length);
    to = std::clamp(to, from, m_length);
    return QString::fromLatin1(m_log->Copy(from, to));
}

int CReceiveView::RowCount() const
{
    return m_length == 0 ? 0 : (m_length - 1) / m_columns + 1;
}

int CReceiveView::FirstVisibleRow() const
{
    return verticalScrollBar()->value();
}

bool CReceiveView::IsAtEnd() const
{
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void CReceiveView::ScrollToOffset(int offset)
{
    const int row = std::clamp(offset, 0, m_length) / m_columns;
    const int first = FirstVisibleRow();
    if (row < first)
        verticalScrollBar()->setValue(row);
    else if (row >= first + VisibleRows())
        verticalScrollBar()->setValue(row - VisibleRows() + 1);
}

void CReceiveView::SetSelection(int start, int end)
{
    m_anchor = m_discarded + std::clamp(start, 0, m_length);
    m_cursor = m_discarded + std::clamp(end, 0, m_length);
    viewport()->update();
}

void CReceiveView::SelectAll()
{
    SetSelection(0, m_length);
}

int CReceiveView::SelectionStart() const
{
    return std::min(ToLocal(m_anchor), ToLocal(m_cursor));
}

int CReceiveView::SelectionEnd() const
{
    return std::max(ToLocal(m_anchor), ToLocal(m_cursor));
}

QString CReceiveView::SelectedText() const
{
    return Text(SelectionStart(), SelectionEnd());
}

void CReceiveView::CopySelection() const
{
    if (SelectionStart() != SelectionEnd())
        QGuiApplication::clipboard()->setText(SelectedText());
}

int CReceiveView::OffsetAt(QPoint point) const
{
    const int row = FirstVisibleRow() + FloorDiv(point.y(), m_rowHeight);
    if (row < 0)
        return 0;
    const int column = std::clamp(
        static_cast<int>(std::lround((point.x() - kLeftMargin) / m_advance)), 0, m_columns);
    const std::int64_t offset = static_cast<std::int64_t>(row) * m_columns + column;
    return static_cast<int>(std::min<std::int64_t>(offset, m_length));
}

QRect CReceiveView::CharacterRect(int offset) const
{
    offset = std::clamp(offset, 0, m_length);
    const int row = offset / m_columns;
    const int column = offset % m_columns;
    const int left = kLeftMargin + static_cast<int>(std::floor(column * m_advance));
    const int right = kLeftMargin + static_cast<int>(std::ceil((column + 1) * m_advance));
    return QRect(left, RowTop(row), right - left, m_rowHeight);
}

void CReceiveView::paintEvent(QPaintEvent* event)
{
    if (viewport()->devicePixelRatioF() != m_pixelRatio) // moved to a screen of another density
    {
        UpdateMetrics();
        UpdateColumns();
        UpdateScrollRange();
    }
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, palette().brush(QPalette::Base));
    if (m_log == nullptr)
        return;

    const int first = FirstVisibleRow();
    const int firstRow = first + std::max(0, area.top()) / m_rowHeight;
    const int lastRow = first + std::max(0, area.bottom()) / m_rowHeight;

    // Copy just the rows being painted; the lock is held for that copy only.
    std::string rows;
    int begin = 0;
    std::int64_t discarded = 0;
    {
        const std::lock_guard lock(m_log->Mutex());
        const CTextBuffer& text = m_log->TextLocked();
        const std::int64_t length = text.GetLength();
        begin =
            static_cast<int>(std::min<std::int64_t>(length, std::int64_t(firstRow) * m_columns));
        const int end = static_cast<int>(
            std::min<std::int64_t>(length, (std::int64_t(lastRow) + 1) * m_columns));
        rows.assign(text.GetText() + begin, static_cast<std::size_t>(end - begin));
        discarded = m_log->DiscardedLocked();
    }
    const int end = begin + static_cast<int>(rows.size());

    const std::int64_t selStartAbs = std::min(m_anchor, m_cursor);
    const std::int64_t selEndAbs = std::max(m_anchor, m_cursor);
    const std::int64_t selStart = std::clamp<std::int64_t>(selStartAbs - discarded, begin, end);
    const std::int64_t selEnd = std::clamp<std::int64_t>(selEndAbs - discarded, selStart, end);

    // Each row is composed from the pre-drawn digits and drawn as one image: copying pixels
    // costs a fraction of blending every glyph anew.
    const std::size_t tileBand = hasFocus() ? 0 : 2;
    for (int row = begin / m_columns; row * m_columns < end; ++row)
    {
        const int rowStart = row * m_columns;
        const int count = std::min(m_columns, end - rowStart);
        for (int i = 0; i < count; ++i)
        {
            const int offset = rowStart + i;
            const int digit = DigitIndex(rows[static_cast<std::size_t>(offset - begin)]);
            const bool selected = offset >= selStart && offset < selEnd;
            m_tileOffsets[static_cast<std::size_t>(i)] =
                (tileBand + (selected ? 1 : 0)) * kTileCount +
                static_cast<std::size_t>(digit < 0 ? kBlankTile : digit);
        }
        const std::size_t tileBytes = static_cast<std::size_t>(m_pitch) * sizeof(quint32);
        for (int y = 0; y < m_tileHeight; ++y)
        {
            auto* line = reinterpret_cast<quint32*>(m_rowImage.scanLine(y));
            for (int i = 0; i < count; ++i)
            {
                const std::size_t tile = m_tileOffsets[static_cast<std::size_t>(i)];
                const auto* source = reinterpret_cast<const quint32*>(m_tiles.constScanLine(
                                         static_cast<int>(tile / kTileCount) * m_tileHeight + y)) +
                                     (tile % kTileCount) * static_cast<std::size_t>(m_pitch);
                std::memcpy(line + static_cast<std::size_t>(i) * static_cast<std::size_t>(m_pitch),
                            source, tileBytes);
            }
        }
        painter.drawImage(QPointF(kLeftMargin, RowTop(row)), m_rowImage,
                          QRect(0, 0, count * m_pitch, m_tileHeight));
    }

    emit painted(discarded + end);
}

void CReceiveView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    const bool atEnd = IsAtEnd();
    const int firstOffset = FirstVisibleRow() * m_columns;
    UpdateColumns();
    UpdateScrollRange();
    verticalScrollBar()->setValue(atEnd ? verticalScrollBar()->maximum() : firstOffset / m_columns);
    viewport()->update();
}

void CReceiveView::scrollContentsBy(int, int dy)
{
    if (std::abs(dy) < VisibleRows())
        viewport()->scroll(0, dy * m_rowHeight);
    else
        viewport()->update();
}

void CReceiveView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
    {
        UpdateMetrics();
        UpdateColumns();
        UpdateScrollRange();
        viewport()->update();
    }
    else if (event->type() == QEvent::PaletteChange)
    {
        UpdateMetrics();
        viewport()->update();
    }
}

void CReceiveView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void CReceiveView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void CReceiveView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::SelectAll))
        SelectAll();
    else if (event->matches(QKeySequence::Copy))
        CopySelection();
    else if (event->matches(QKeySequence::MoveToStartOfDocument))
        verticalScrollBar()->setValue(0);
    else if (event->matches(QKeySequence::MoveToEndOfDocument))
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        ; // a read-only view keeps the Return key to itself, so it never ends the window
    else
    {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CReceiveView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
    {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const std::int64_t offset = m_discarded + OffsetAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = offset;
    m_cursor = offset;
    m_selecting = true;
    viewport()->update();
}

void CReceiveView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting)
        return;
    const QPoint point = event->position().toPoint();
    if (point.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    m_cursor = m_discarded + OffsetAt(point);
    viewport()->update();
}

void CReceiveView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_selecting)
    {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_selecting = false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && SelectionStart() != SelectionEnd())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

void CReceiveView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copy = menu.addAction(tr("&Copy"), this, &CReceiveView::CopySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(SelectionStart() != SelectionEnd());
    QAction* all = menu.addAction(tr("Select &All"), this, &CReceiveView::SelectAll);
    all->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

void CReceiveView::UpdateMetrics()
{
    const QFontMetricsF metrics(font());
    m_rowHeight = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    qreal advance = 1;
    for (int i = 0; i < 16; ++i)
        advance = std::max(advance, metrics.horizontalAdvance(QLatin1Char(kHexDigits[i])));
    // Whole device pixels per character, so that every digit sits on the pixel grid and one
    // picture of it serves everywhere.
    m_pixelRatio = std::max<qreal>(1, viewport()->devicePixelRatioF());
    m_pitch = std::max(1, static_cast<int>(std::lround(advance * m_pixelRatio)));
    m_advance = m_pitch / m_pixelRatio;
    m_tileHeight = std::max(1, static_cast<int>(std::ceil(m_rowHeight * m_pixelRatio)));

    // Four bands of tiles: plain and selected, each for a focused and an unfocused view; in
    // each band the 16 digits and a blank.
    m_tiles = QImage(kTileCount * m_pitch, 4 * m_tileHeight, QImage::Format_RGB32);
    m_tiles.setDevicePixelRatio(m_pixelRatio);
    QPainter painter(&m_tiles);
    painter.setFont(font());
    const qreal bandHeight = m_tileHeight / m_pixelRatio;
    int band = 0;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
    {
        for (const bool selected : {false, true})
        {
            const qreal top = band++ * bandHeight;
            painter.fillRect(
                QRectF(0, top, kTileCount * m_advance, bandHeight),
                palette().color(group, selected ? QPalette::Highlight : QPalette::Base));
            painter.setPen(
                palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
            for (int i = 0; i < 16; ++i)
                painter.drawText(QPointF(i * m_advance, top + metrics.ascent()),
                                 QString(QLatin1Char(kHexDigits[i])));
        }
    }
}

void CReceiveView::UpdateColumns()
{
    const int usable = viewport()->width() - 2 * kLeftMargin;
    const int columns = static_cast<int>(std::floor(usable / m_advance));
    m_columns = std::max(2, columns & ~1);
    m_tileOffsets.resize(static_cast<std::size_t>(m_columns));
    m_rowImage = QImage(m_columns * m_pitch, m_tileHeight, QImage::Format_RGB32);
    m_rowImage.setDevicePixelRatio(m_pixelRatio);
}

void CReceiveView::UpdateScrollRange()
{
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(VisibleRows());
    bar->setRange(0, std::max(0, RowCount() - VisibleRows()));
}

int CReceiveView::VisibleRows() const
{
    return std::max(1, viewport()->height() / m_rowHeight);
}

int CReceiveView::RowTop(int row) const
{
    return (row - FirstVisibleRow()) * m_rowHeight;
}

void CReceiveView::UpdateRows(int firstRow, int lastRow)
{
    const int first = FirstVisibleRow();
    firstRow = std::max(firstRow, first);
    lastRow = std::min(lastRow, first + VisibleRows());
    if (firstRow > lastRow)
        return;
    viewport()->update(
        QRect(0, RowTop(firstRow), viewport()->width(), (lastRow - firstRow + 1) * m_rowHeight));
}

int CReceiveView::ToLocal(std::int64_t absolute) const
{
    return static_cast<int>(std::clamp<std::int64_t>(absolute - m_discarded, 0, m_length));
}

void CReceiveView::NotifyAccessibility(int oldLength, bool replaced)
{
    if (!QAccessible::isActive())
        return;
    if (replaced)
    {
        // Clearing and discarding move every offset; tell assistive technologies to read
        // afresh rather than handing them the removed text.
        QAccessibleTextRemoveEvent removed(this, 0, QString());
        QAccessible::updateAccessibility(&removed);
        oldLength = 0;
    }
    if (m_length > oldLength)
    {
        QAccessibleTextInsertEvent inserted(this, oldLength, Text(oldLength, m_length));
        QAccessible::updateAccessibility(&inserted);
    }
}
