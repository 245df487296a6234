#include "commands/CommandListBox.h"

#include "text/BytesMimeData.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStylePainter>
#include <algorithm>

namespace
{

// Floor of a / b for b > 0, also for negative a.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - (a % b != 0 && a < 0 ? 1 : 0);
}

// Rows far outside the viewport are placed no farther than this, so that their rectangles stay
// well inside int whatever the row count.
constexpr std::int64_t kFarAway = std::int64_t(1) << 24;

} // namespace

CCommandListBox::CCommandListBox(QWidget* parent)
    : QListView(parent), m_commands(new CCommandListModel(this))
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setModel(m_commands);
}

CCommandListBox::~CCommandListBox() = default;

int CCommandListBox::AddCommand(const QByteArray& text)
{
    return m_commands->Append(
               std::string_view(text.constData(), static_cast<std::size_t>(text.size())))
               ? 1
               : 0;
}

bool CCommandListBox::AddCommands(CCommandLines&& lines)
{
    return m_commands->Append(std::move(lines));
}

int CCommandListBox::TopRow() const
{
    return verticalScrollBar()->value();
}

std::int64_t CCommandListBox::RowTop(int row) const
{
    return spacing() + (std::int64_t(row) - TopRow()) * Pitch();
}

int CCommandListBox::WholeRowsShown() const
{
    return std::max(1, (viewport()->height() - spacing() - kItemHeight) / Pitch() + 1);
}

int CCommandListBox::RowsShown() const
{
    return std::max(1, (viewport()->height() - spacing() + Pitch() - 1) / Pitch());
}

int CCommandListBox::RowAtY(int y) const
{
    if (y < spacing())
        return -1;
    const std::int64_t row = TopRow() + (std::int64_t(y) - spacing()) / Pitch();
    return row < m_commands->Count() ? static_cast<int>(row) : -1;
}

QRect CCommandListBox::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != m_commands || index.row() >= m_commands->Count())
        return QRect();
    const auto top = static_cast<int>(std::clamp(RowTop(index.row()), -kFarAway, kFarAway));
    return QRect(spacing(), top, std::max(0, viewport()->width() - 2 * spacing()), kItemHeight);
}

QModelIndex CCommandListBox::indexAt(const QPoint& point) const
{
    const int row = RowAtY(point.y());
    if (row < 0)
        return QModelIndex();
    const QModelIndex index = m_commands->index(row);
    return visualRect(index).contains(point) ? index : QModelIndex();
}

void CCommandListBox::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid() || index.model() != m_commands)
        return;
    const int row = index.row();
    const int shown = WholeRowsShown();
    int top = TopRow();
    switch (hint)
    {
    case EnsureVisible:
        if (row < top)
            top = row;
        else if (row - top >= shown)
            top = row - shown + 1;
        break;
    case PositionAtTop:
        top = row;
        break;
    case PositionAtBottom:
        top = row - shown + 1;
        break;
    case PositionAtCenter:
        top = row - shown / 2;
        break;
    }
    verticalScrollBar()->setValue(top); // the bar keeps it inside its range
}

// Places need only the row count: QListView's per-row layout is skipped.
void CCommandListBox::doItemsLayout()
{
    QAbstractItemView::doItemsLayout();
}

void CCommandListBox::updateGeometries()
{
    const int shown = WholeRowsShown();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, m_commands->Count() - shown));
    bar->setPageStep(shown);
    bar->setSingleStep(1);
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

void CCommandListBox::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QListView::rowsInserted(parent, start, end);
    // Counting rows costs nothing, so the scroll bar takes new rows at once rather than at the
    // next layout: a scrollTo right after an append reaches them.
    updateGeometries();
}

void CCommandListBox::scrollContentsBy(int, int)
{
    // The bar moved by rows, not pixels: every row shown changes.
    viewport()->update();
}

int CCommandListBox::horizontalOffset() const
{
    return 0;
}

// Places are counted from the top row rather than from a pixel origin, so the view has no pixel
// offset for QAbstractItemView to add to or take from a point.
int CCommandListBox::verticalOffset() const
{
    return 0;
}

QModelIndex CCommandListBox::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int rows = m_commands->Count();
    if (rows == 0)
        return QModelIndex();
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return m_commands->index(0);
    const std::int64_t page = std::max(1, WholeRowsShown() - 1);
    std::int64_t row = current.row();
    switch (cursorAction)
    {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row += page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return m_commands->index(static_cast<int>(std::clamp<std::int64_t>(row, 0, rows - 1)));
}

void CCommandListBox::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    const QRect area = rect.normalized();
    const int first = RowAtY(area.top());
    const int last = RowAtY(area.bottom());
    if (first < 0 || last < 0)
        return;
    selectionModel()->select(QItemSelection(m_commands->index(first), m_commands->index(last)),
                             command);
}

QRegion CCommandListBox::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    const int top = TopRow();
    const std::int64_t bottom = std::int64_t(top) + RowsShown() - 1;
    for (const QItemSelectionRange& range : selection)
    {
        const int first = std::max(range.top(), top);
        const auto last = static_cast<int>(std::min<std::int64_t>(range.bottom(), bottom));
        if (first <= last)
            region +=
                visualRect(m_commands->index(first)).united(visualRect(m_commands->index(last)));
    }
    return region;
}

void CCommandListBox::paintEvent(QPaintEvent* event)
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    QStylePainter painter(viewport());
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QStyle::State state = option.state;
    const QRect area = event->rect();
    const int top = TopRow();
    const std::int64_t first =
        top + std::max<std::int64_t>(0, FloorDiv(area.top() - spacing(), Pitch()));
    for (std::int64_t row = first; row < m_commands->Count(); ++row)
    {
        const QModelIndex index = m_commands->index(static_cast<int>(row));
        option.rect = visualRect(index);
        if (option.rect.top() > area.bottom())
            break;
        option.state = state;
        if (selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (state & QStyle::State_Enabled)
            option.palette.setCurrentColorGroup(QPalette::Normal);
        if (focus && index == current)
            option.state |= QStyle::State_HasFocus;
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

// Screen readers are told about the row itself; the row's number is its place among the
// accessible table's children.
void CCommandListBox::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (!m_searchMovesCurrent)
        EndSearches();
    if (QAccessible::isActive() && current.isValid() && hasFocus())
    {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(current.row());
        QAccessible::updateAccessibility(&event);
    }
    QAbstractItemView::currentChanged(current, previous);
}

void CCommandListBox::selectionChanged(const QItemSelection& selected,
                                       const QItemSelection& deselected)
{
    if (QAccessible::isActive())
    {
        const auto announce = [this](const QItemSelection& rows, QAccessible::Event change)
        {
            if (rows.isEmpty())
                return;
            QAccessibleEvent event(this, change);
            event.setChild(rows.first().top());
            QAccessible::updateAccessibility(&event);
        };
        announce(selected, QAccessible::SelectionAdd);
        announce(deselected, QAccessible::SelectionRemove);
    }
    QAbstractItemView::selectionChanged(selected, deselected);
}

void CCommandListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
    {
        const int row = NearestRow(event->position().toPoint());
        if (row >= 0)
        {
            // Held for the call: the receiver may append commands, and the block that holds
            // these bytes then takes none of them, so they stay where they are.
            const CCommandListModel::CHeldLine line = m_commands->HoldLine(row);
            emit commandPicked(QByteArray::fromRawData(line.bytes.data(),
                                                       static_cast<qsizetype>(line.bytes.size())));
        }
    }
    QListView::mouseDoubleClickEvent(event);
}

void CCommandListBox::keyPressEvent(QKeyEvent* event)
{
    // A row shows a cut of a long command; a copy takes all of it.
    if (event == QKeySequence::Copy && currentIndex().isValid())
    {
        CCommandListModel::CHeldLine line = m_commands->HoldLine(currentIndex().row());
        QGuiApplication::clipboard()->setMimeData(new CBytesMimeData(
            line.bytes, std::move(line.owner), CBytesMimeData::Reading::SystemText));
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void CCommandListBox::keyboardSearch(const QString& search)
{
    if (m_commands->Count() == 0 || m_searches.size() == kMaxWaitingSearches)
        return;
    const bool restarted = search.isEmpty() || !m_sinceTyped.isValid() ||
                           m_sinceTyped.elapsed() > QApplication::keyboardInputInterval();
    m_sinceTyped.start();
    m_typed = restarted ? search : m_typed + search;
    const bool sameKey = m_typed.size() > 1 && m_typed.count(m_typed.back()) == m_typed.size();
    m_searches.push_back({sameKey ? QString(m_typed.front()) : m_typed, restarted, sameKey});
    if (m_searches.size() == 1)
    {
        BeginSearch();
        SearchSlice(); // a short list is searched before the key returns
    }
}

// From the current row as the searches before this one left it: a new search text, or a key
// typed again, starts after it.
void CCommandListBox::BeginSearch()
{
    const CTypedSearch& search = m_searches.front();
    const QModelIndex current = currentIndex();
    m_searchRows = m_commands->Count();
    m_searchNext = current.isValid() ? current.row() : 0;
    if ((search.restarted && current.isValid()) || search.sameKey)
        m_searchNext = m_searchNext + 1 < m_searchRows ? m_searchNext + 1 : 0;
    m_searchLeft = m_searchRows;
}

void CCommandListBox::SearchSlice()
{
    int budget = kSearchSliceRows;
    while (!m_searches.empty() && budget > 0)
    {
        const int rows = std::min({budget, m_searchLeft, m_searchRows - m_searchNext});
        const int found = m_commands->FirstStartingWith(m_searches.front().prefix, m_searchNext,
                                                        m_searchNext + rows);
        budget -= rows;
        m_searchLeft -= rows;
        m_searchNext = m_searchNext + rows == m_searchRows ? 0 : m_searchNext + rows;
        if (found < 0 && m_searchLeft > 0)
            continue;
        m_searches.pop_front();
        if (found >= 0)
        {
            m_searchMovesCurrent = true;
            setCurrentIndex(m_commands->index(found));
            m_searchMovesCurrent = false;
        }
        if (!m_searches.empty())
            BeginSearch();
    }
    // The next slice goes after the events that came meanwhile; one is posted at a time.
    if (!m_searches.empty() && !m_slicePosted)
    {
        m_slicePosted = true;
        QMetaObject::invokeMethod(
            this,
            [this]
            {
                m_slicePosted = false;
                SearchSlice();
            },
            Qt::QueuedConnection);
    }
}

void CCommandListBox::EndSearches()
{
    m_searches.clear(); // a slice still posted finds nothing to do
}

int CCommandListBox::NearestRow(const QPoint& pos) const
{
    const QModelIndex hit = indexAt(pos);
    if (hit.isValid())
        return hit.row();

    const int rows = m_commands->Count();
    if (rows == 0)
        return -1;

    // The first row whose bottom edge is at or below the point: bottom = top + height - 1.
    const std::int64_t y = pos.y();
    const std::int64_t low =
        std::max<std::int64_t>(0, TopRow() - FloorDiv(-(y - spacing() - kItemHeight + 1), Pitch()));
    if (low >= rows)
        return rows - 1;
    // In a gap between two rows, the closer one wins.
    const auto row = static_cast<int>(low);
    if (row > 0 && y - (RowTop(row - 1) + kItemHeight - 1) < RowTop(row) - y)
        return row - 1;
    return row;
}
