#include "terminal/ReceiveView.h"

#include "terminal/ReceiveLog.h"

#include <QAccessible>
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

} // namespace

CReceiveView::CReceiveView(QWidget* parent) : QAbstractScrollArea(parent)
{
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
    // The view paints every pixel itself, from its canvas.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);

    UpdateMetrics();
    UpdateColumns();
    UpdateScrollRange();
}

CReceiveView::~CReceiveView()
{
    Stop(m_copy);
    Stop(m_primary);
}

void CReceiveView::SetLog(const CReceiveLog* log)
{
    Stop(m_copy);
    Stop(m_primary);
    m_primaryRange = CRange();
    m_primaryText = QByteArray();
    m_primaryReady = false;
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
        length = m_log->LengthLocked();
        discarded = m_log->DiscardedLocked();
        clears = m_log->ClearsLocked();
    }

    auto* bar = static_cast<CFollowingScrollBar*>(verticalScrollBar());
    const bool atEnd = IsAtEnd();
    std::int64_t oldEnd = m_discarded + m_length; // the text assistive technologies know of
    bool replaced = false;
    m_inRefresh = true; // the canvas follows the scroll bar once, below
    bar->Batch(
        [&]
        {
            if (clears != m_clears)
            {
                m_clears = clears;
                m_discarded = discarded;
                m_length = length;
                m_anchor = m_cursor = discarded;
                oldEnd = discarded; // all of the new generation is new to them
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
    m_inRefresh = false;
    if (replaced)
        InvalidateCanvas();
    const QRect changed = SyncCanvas();
    if (!changed.isEmpty())
        viewport()->update(changed);
    NotifyAccessibility(oldEnd, replaced);
}

QString CReceiveView::Text(int from, int to) const
{
    if (m_log == nullptr)
        return QString();
    from = std::clamp(from, 0, m_length);
    to = std::clamp(to, from, m_length);
    // Latin-1 straight from the log into one string of the range's length.
    QString text;
    text.reserve(to - from);
    const std::lock_guard lock(m_log->Mutex());
    m_log->ReadLocked(from, to,
                      [&](const char* piece, int count)
                      { text.append(QLatin1StringView(piece, count)); });
    return text;
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
    SelectionChanged();
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
    SyncCanvas(); // nothing to do unless the canvas was invalidated
    QPainter painter(viewport());
    const QRect area = event->rect();
    // The canvas is a ring of rows: the rows from m_ring on are the top of the view, those
    // before it follow them.
    const int wrap = CanvasRowTop(CanvasRows() - m_ring); // device pixels
    const int ringTop = CanvasRowTop(m_ring);
    const auto blit = [&](qreal top, qreal bottom, qreal sourceTop)
    {
        const qreal from = std::max<qreal>(top, area.top() * m_pixelRatio);
        const qreal to = std::min<qreal>(bottom, (area.bottom() + 1) * m_pixelRatio);
        if (from >= to)
            return;
        const QRectF source(area.left() * m_pixelRatio, sourceTop + (from - top),
                            area.width() * m_pixelRatio, to - from);
        const QRectF target(area.left(), from / m_pixelRatio, area.width(),
                            (to - from) / m_pixelRatio);
        painter.drawImage(target, m_canvas, source);
    };
    blit(0, wrap, ringTop);
    blit(wrap, m_canvas.height(), 0);
    emit painted(m_shownEnd);
}

void CReceiveView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    const bool atEnd = IsAtEnd();
    const int firstOffset = FirstVisibleRow() * m_columns;
    UpdateColumns();
    UpdateScrollRange();
    m_inRefresh = true;
    verticalScrollBar()->setValue(atEnd ? verticalScrollBar()->maximum() : firstOffset / m_columns);
    m_inRefresh = false;
    InvalidateCanvas();
    viewport()->update();
}

// The user scrolled, or the view follows the end: rows still on screen move as pixels.
void CReceiveView::scrollContentsBy(int, int)
{
    if (m_inRefresh)
        return; // Refresh brings the canvas up to date itself
    const QRect changed = SyncCanvas();
    if (!changed.isEmpty())
        viewport()->update(changed);
}

void CReceiveView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
    {
        UpdateMetrics();
        UpdateColumns();
        UpdateScrollRange();
        InvalidateCanvas();
        viewport()->update();
    }
    else if (event->type() == QEvent::PaletteChange)
    {
        UpdateMetrics();
        InvalidateCanvas();
        viewport()->update();
    }
}

// The selection's colours differ with and without focus.
void CReceiveView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    SelectionChanged();
}

void CReceiveView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    SelectionChanged();
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
    SelectionChanged();
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
    SelectionChanged();
}

void CReceiveView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_selecting)
    {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_selecting = false;
    if (QGuiApplication::clipboard()->supportsSelection() && SelectionStart() != SelectionEnd())
        OfferPrimary();
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
    InvalidateCanvas();
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

int CReceiveView::ToLocal(std::int64_t absolute) const
{
    return static_cast<int>(std::clamp<std::int64_t>(absolute - m_discarded, 0, m_length));
}

int CReceiveView::CanvasRows() const
{
    return (viewport()->height() + m_rowHeight - 1) / m_rowHeight;
}

int CReceiveView::CanvasRowTop(int row) const
{
    return static_cast<int>(std::lround(row * m_rowHeight * m_pixelRatio));
}

void CReceiveView::InvalidateCanvas()
{
    m_canvasFirst = -1;
}

void CReceiveView::SelectionChanged()
{
    InvalidateCanvas();
    viewport()->update();
    UpdatePrimary();
}

QRect CReceiveView::SyncCanvas()
{
    const int rows = CanvasRows();
    const QSize size(static_cast<int>(std::ceil(viewport()->width() * m_pixelRatio)),
                     CanvasRowTop(rows));
    if (m_canvas.size() != size || m_canvas.devicePixelRatio() != m_pixelRatio ||
        static_cast<int>(m_rowDrawn.size()) != rows)
    {
        m_canvas = QImage(size, QImage::Format_RGB32);
        m_canvas.setDevicePixelRatio(m_pixelRatio);
        m_rowDrawn.assign(static_cast<std::size_t>(rows), -1);
        m_canvasFirst = -1;
    }

    const int first = FirstVisibleRow();
    QRect changed;
    if (m_canvasFirst < 0 || m_canvasBase != m_discarded)
    {
        std::fill(m_rowDrawn.begin(), m_rowDrawn.end(), -1);
        m_ring = 0;
        changed = viewport()->rect();
    }
    else if (first != m_canvasFirst)
    {
        // Rows still on screen stay where they are in the ring; only its start moves. That
        // needs rows of a whole number of device pixels (always so at whole scale factors).
        const int shift = first - m_canvasFirst;
        if (std::abs(shift) < rows && CanvasRowTop(rows) == rows * CanvasRowTop(1))
        {
            m_ring = ((m_ring + shift) % rows + rows) % rows;
            if (shift > 0)
            {
                std::rotate(m_rowDrawn.begin(), m_rowDrawn.begin() + shift, m_rowDrawn.end());
                std::fill(m_rowDrawn.end() - shift, m_rowDrawn.end(), -1);
            }
            else
            {
                std::rotate(m_rowDrawn.rbegin(), m_rowDrawn.rbegin() - shift, m_rowDrawn.rend());
                std::fill(m_rowDrawn.begin(), m_rowDrawn.begin() - shift, -1);
            }
        }
        else
        {
            std::fill(m_rowDrawn.begin(), m_rowDrawn.end(), -1);
            m_ring = 0;
        }
        changed = viewport()->rect();
    }
    m_canvasFirst = first;
    m_canvasBase = m_discarded;

    // The rows whose characters differ from what is drawn, read from the log in one go.
    const auto wanted = [&](int i)
    {
        const std::int64_t start = std::int64_t(first + i) * m_columns;
        return static_cast<int>(std::clamp<std::int64_t>(m_length - start, 0, m_columns));
    };
    int firstStale = rows, lastStale = -1;
    for (int i = 0; i < rows; ++i)
        if (m_rowDrawn[static_cast<std::size_t>(i)] != wanted(i))
        {
            firstStale = std::min(firstStale, i);
            lastStale = i;
        }
    if (lastStale >= 0)
    {
        const std::int64_t begin = std::int64_t(first + firstStale) * m_columns;
        const std::int64_t end =
            std::min<std::int64_t>(m_length, std::int64_t(first + lastStale + 1) * m_columns);
        std::string text;
        bool current = true;
        if (m_log != nullptr && end > begin)
        {
            const std::lock_guard lock(m_log->Mutex());
            // Text added since the last Refresh does not matter here, but a clear or discard
            // since then moved it: draw nothing and let the next Refresh draw it all.
            current = m_log->ClearsLocked() == m_clears && m_log->DiscardedLocked() == m_discarded;
            if (current)
                m_log->ReadLocked(static_cast<int>(begin), static_cast<int>(end),
                                  [&](const char* piece, int count) { text.append(piece, count); });
        }
        for (int i = firstStale; i <= lastStale; ++i)
        {
            if (m_rowDrawn[static_cast<std::size_t>(i)] == wanted(i))
                continue;
            const std::int64_t start = std::int64_t(first + i) * m_columns;
            const int have = static_cast<int>(std::clamp<std::int64_t>(
                static_cast<std::int64_t>(text.size()) - (start - begin), 0, m_columns));
            ComposeRow(i, have > 0 ? text.data() + (start - begin) : nullptr, have, start);
            m_rowDrawn[static_cast<std::size_t>(i)] = current ? have : -1;
            changed |= QRect(0, i * m_rowHeight, viewport()->width(), m_rowHeight);
        }
    }

    std::int64_t shown = 0;
    for (int i = 0; i < rows; ++i)
        if (m_rowDrawn[static_cast<std::size_t>(i)] > 0)
            shown = std::int64_t(first + i) * m_columns + m_rowDrawn[static_cast<std::size_t>(i)];
    m_shownEnd = m_discarded + shown;
    return changed & viewport()->rect();
}

// Draws `count` characters starting at offset `firstOffset` into the view's row `row`, the rest
// of the row blank, from the pre-drawn digits: copying pixels costs a fraction of drawing
// every glyph anew.
void CReceiveView::ComposeRow(int row, const char* text, int count, std::int64_t firstOffset)
{
    const int ringRow = (m_ring + row) % CanvasRows();
    const int top = CanvasRowTop(ringRow);
    const int bottom = std::min(m_canvas.height(), CanvasRowTop(ringRow + 1));
    const int left = static_cast<int>(std::lround(kLeftMargin * m_pixelRatio));
    const int width = m_canvas.width();
    count = std::min(count, std::max(0, (width - left) / m_pitch));

    // Where each character's tile starts in a line of the plain band of m_tiles.
    const std::int64_t selStart = std::min(m_anchor, m_cursor) - m_discarded;
    const std::int64_t selEnd = std::max(m_anchor, m_cursor) - m_discarded;
    const std::size_t selectedBand = static_cast<std::size_t>(m_tileHeight) *
                                     static_cast<std::size_t>(m_tiles.bytesPerLine()) /
                                     sizeof(quint32);
    m_tileOffsets.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
    {
        const int digit = DigitIndex(text[i]);
        const std::int64_t offset = firstOffset + i;
        m_tileOffsets[static_cast<std::size_t>(i)] =
            (offset >= selStart && offset < selEnd ? selectedBand : 0) +
            static_cast<std::size_t>(digit < 0 ? kBlankTile : digit) *
                static_cast<std::size_t>(m_pitch);
    }

    const quint32 base = palette().color(QPalette::Base).rgb();
    const int focusBand = hasFocus() ? 0 : 2;
    const std::size_t tileBytes = static_cast<std::size_t>(m_pitch) * sizeof(quint32);
    for (int y = top; y < bottom; ++y)
    {
        auto* line = reinterpret_cast<quint32*>(m_canvas.scanLine(y));
        const auto* tiles = reinterpret_cast<const quint32*>(
            m_tiles.constScanLine(focusBand * m_tileHeight + std::min(y - top, m_tileHeight - 1)));
        std::fill(line, line + left, base);
        quint32* at = line + left;
        for (int i = 0; i < count; ++i, at += m_pitch)
            std::memcpy(at, tiles + m_tileOffsets[static_cast<std::size_t>(i)], tileBytes);
        std::fill(at, line + width, base);
    }
}

// The one place that tells assistive technologies about changes of the text, once per refresh:
// an insert event for the characters that came in since the last one, and, when a clear or a
// discard moved every offset, the caret's new place. The removed text is not handed over:
// AT-SPI would carry it whole, and a discard removes an eighth of the largest log.
void CReceiveView::NotifyAccessibility(std::int64_t oldEnd, bool replaced)
{
    if (!QAccessible::isActive())
        return;
    if (replaced)
    {
        QAccessibleTextCursorEvent moved(this, SelectionEnd());
        QAccessible::updateAccessibility(&moved);
    }
    const int from = static_cast<int>(std::clamp<std::int64_t>(oldEnd - m_discarded, 0, m_length));
    if (m_length > from)
    {
        QAccessibleTextInsertEvent inserted(this, from, Text(from, m_length));
        QAccessible::updateAccessibility(&inserted);
    }
}
