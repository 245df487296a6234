// CReceiveView: the receive view of the terminal window. It shows the receive log (one
// continuous run of hex pairs) read-only, wrapped at the view's width, with a vertical scroll
// bar; the user can select with the mouse or Ctrl+A and copy with Ctrl+C, and assistive
// technologies read the text through the accessibility text interface.
//
// It keeps no copy of the text: every paint reads just the visible rows from the log, under
// the log's lock. The font has one advance for every hex digit, so wrapping is arithmetic:
// row r holds characters [r * Columns(), (r + 1) * Columns()), and Columns() is even, so a
// byte's two digits never part. Painting therefore costs time in proportion to the visible
// rows, whatever the log's size.
//
// Refresh() takes in what changed in the log since the last call (appended, discarded at the
// front, or cleared). While the view is scrolled to the end it follows new data; when the user
// has scrolled up it stays where it is. Positions (scrolling, selection) survive the log
// discarding old data at the front.
//
// User-interface thread only. The log must outlive the view or be detached with SetLog(nullptr).
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <cstdint>
#include <vector>

class CReceiveLog;

class CReceiveView : public QAbstractScrollArea
{
    Q_OBJECT

  public:
    explicit CReceiveView(QWidget* parent = nullptr);
    ~CReceiveView() override;

    void SetLog(const CReceiveLog* log);
    void Refresh();

    // Text as of the last Refresh; offsets count characters of the current log text.
    int Length() const { return m_length; }
    QString Text(int from, int to) const;

    int Columns() const { return m_columns; }
    int RowHeight() const { return m_rowHeight; }
    int RowCount() const;
    int FirstVisibleRow() const;
    bool IsAtEnd() const;
    void ScrollToOffset(int offset);

    // Selection [start, end) in characters; start == end means none.
    void SetSelection(int start, int end);
    void SelectAll();
    int SelectionStart() const;
    int SelectionEnd() const;
    QString SelectedText() const;
    void CopySelection() const;

    // Viewport coordinates.
    int OffsetAt(QPoint point) const;
    QRect CharacterRect(int offset) const;

  signals:
    // After each paint: the end of the text drawn, counted in characters since the last clear
    // including those discarded since. Lets observers see when data has reached the screen.
    void painted(qint64 shownEnd);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void UpdateMetrics();
    void UpdateColumns();
    void UpdateScrollRange();
    int VisibleRows() const;
    int RowTop(int row) const;
    void UpdateRows(int firstRow, int lastRow);
    int ToLocal(std::int64_t absolute) const;
    void NotifyAccessibility(int oldLength, bool replaced);

    const CReceiveLog* m_log = nullptr;

    // Every digit drawn once per look (UpdateMetrics); rows are composed from these tiles.
    QImage m_tiles;
    QImage m_rowImage;                      // one row being composed
    std::vector<std::size_t> m_tileOffsets; // the tile of each character of that row
    qreal m_pixelRatio = 1;
    int m_pitch = 1;      // device pixels per character
    int m_tileHeight = 1; // device pixels per row
    qreal m_advance = 1;  // m_pitch in widget coordinates
    int m_rowHeight = 1;
    int m_columns = 2;

    // What the last Refresh saw of the log.
    int m_length = 0;
    std::int64_t m_discarded = 0;
    std::uint64_t m_clears = 0;

    // Selection as absolute offsets (characters since the last clear, discarded ones
    // included), so that it stays on the same data when the log drops its oldest text.
    std::int64_t m_anchor = 0;
    std::int64_t m_cursor = 0;
    bool m_selecting = false;
};
