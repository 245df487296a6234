#include "commands/CommandListBox.h"

#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace
{

// Styles disagree on row heights; the list's rows are a fixed height whatever the style.
class FixedHeightDelegate : public QStyledItemDelegate
{
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(CCommandListBox::kItemHeight);
        return size;
    }
};

} // namespace

CCommandListBox::CCommandListBox(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Uniform rows keep adding and scrolling cheap with many thousands of commands.
    setUniformItemSizes(true);
    setItemDelegate(new FixedHeightDelegate(this));
}

CCommandListBox::~CCommandListBox() = default;

int CCommandListBox::AddCommand(const QByteArray& text)
{
    m_commands.append(text);
    addItem(QString::fromLocal8Bit(text));
    return 1;
}

void CCommandListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
    {
        const int row = NearestRow(event->position().toPoint());
        if (row >= 0 && row < m_commands.size())
        {
            // A copy: the receiver may append commands, which can move m_commands' storage.
            const QByteArray picked = m_commands.at(row);
            emit commandPicked(picked);
        }
    }
    QListWidget::mouseDoubleClickEvent(event);
}

int CCommandListBox::NearestRow(const QPoint& pos) const
{
    const QModelIndex hit = indexAt(pos);
    if (hit.isValid())
        return hit.row();

    const int rows = count();
    if (rows == 0)
        return -1;

    // Rows run top to bottom: find the first whose bottom edge is at or below the point.
    int low = 0;
    int high = rows;
    while (low < high)
    {
        const int middle = low + (high - low) / 2;
        if (visualItemRect(item(middle)).bottom() < pos.y())
            low = middle + 1;
        else
            high = middle;
    }
    if (low == rows)
        return rows - 1;
    // In a gap between two rows, the closer one wins.
    if (low > 0 && pos.y() - visualItemRect(item(low - 1)).bottom() <
                       visualItemRect(item(low)).top() - pos.y())
        return low - 1;
    return low;
}
