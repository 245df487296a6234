// CReceiveView: the receive view of the terminal window. It shows the receive log (one
// continuous run of hex pairs) read-only, wrapped at the view's width, with a vertical scroll
// bar; the user can select with the mouse or Ctrl+A and copy with Ctrl+C, and assistive
// technologies read the text through the accessibility text interface.
//
// It keeps no copy of the text, only a picture of the visible rows (the canvas), composed from
// digits drawn once per look. The font has one advance for every hex digit, so wrapping is
// arithmetic: row r holds characters [r * Columns(), (r + 1) * Columns()), and Columns() is
// even, so a byte's two digits never part. Refresh() takes in what changed in the log since
// the last call (appended, discarded at the front, or cleared) and brings the canvas up to
// date: rows that moved are moved as pixels, and only rows whose characters changed are read
// from the log (briefly, under its lock) and composed; a refresh with nothing new draws
// nothing. Painting only copies the canvas and never touches the log. So a frame costs time
// in proportion to what changed on screen, whatever the log's size.
//
// While the view is scrolled to the end it follows new data; when the user has scrolled up it
// stays where it is. Positions (scrolling, selection) survive the log discarding old data at
// the front. Assistive technologies get one insert event per refresh for the characters that
// came in, and a caret event when clearing or discarding moved every offset (the removed text
// is not handed over: it can be most of the log); every accessible text call reads only the
// characters it returns.
//
// Copy puts the selection on the clipboard as one string; above kCopyLimit characters it
// refuses with a message box, and a large copy is made beside the user-interface thread, in
// slices under the log's lock, and handed over when done. The primary selection offers the
// selection at the moment another program asks: one of up to kCopySlice characters (a few
// milliseconds' work) is read from the log then; a longer one is read beside in the same way
// as soon as it is made, and handed over whole when asked for (a program that asks before the
// read is done gets nothing), so another program's paste never holds the window or the
// receive worker. The copying lives in ReceiveViewCopy.cpp, the accessible interface in
// terminal/accessible/.
//
// User-interface thread only; each copy and each read for the primary selection runs on a
// thread of its own, joined before the next starts and at the view's end. The log must outlive
// the view or be detached with SetLog(nullptr), which also ends a copy in progress.
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QImage>
#include <QMimeData>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

class CReceiveLog;

class CReceiveView : public QAbstractScrollArea
{
    Q_OBJECT

  public:
    static constexpr int kCopyLimit = 256 << 20; // characters that one copy may take

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
    void CopySelection();
    // What the primary selection hands over (see above); its bytes are hex digits.
    QByteArray PrimaryText();

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
    int ToLocal(std::int64_t absolute) const;
    void NotifyAccessibility(std::int64_t oldEnd, bool replaced);

    // The canvas: what the viewport shows, in device pixels.
    int CanvasRows() const;
    int CanvasRowTop(int row) const; // device pixels from the canvas's top
    void InvalidateCanvas();
    QRect SyncCanvas(); // brings the canvas up to date; returns what changed, in widget pixels
    void ComposeRow(int row, const char* text, int count, std::int64_t firstOffset);
    void SelectionChanged();

    // A read of the log beside the user-interface thread: its thread, its number (a result
    // that arrives after a newer read started is dropped), and the flag that ends it.
    struct CCopier
    {
        std::thread thread;
        std::uint64_t id = 0;
        std::atomic<bool> stop{false};
    };
    // Absolute offsets, and the log generation they belong to.
    struct CRange
    {
        std::int64_t from = 0;
        std::int64_t to = 0;
        std::uint64_t clears = 0;
        bool operator==(const CRange&) const = default;
    };
    static void Stop(CCopier& copier);
    void StartCopy(int start, int end);
    void CopyFinished(std::uint64_t id, const QString& text, bool whole);
    CRange SelectedRange() const;
    void OfferPrimary();
    void UpdatePrimary();
    void PrimaryRead(std::uint64_t id, const QByteArray& text);

    const CReceiveLog* m_log = nullptr;

    // Every digit drawn once per look (UpdateMetrics); rows are composed from these tiles.
    QImage m_tiles;
    QImage m_canvas;                        // a ring of the visible rows, in device pixels
    int m_ring = 0;                         // the canvas row that is the view's top row
    int m_canvasFirst = -1;                 // the row shown at the top; -1: nothing valid
    std::vector<std::size_t> m_tileOffsets; // the tile of each character of a row
    std::int64_t m_canvasBase = 0;          // the log's discarded count the canvas was composed at
    std::vector<int> m_rowDrawn;            // characters drawn in each canvas row; -1: to compose
    std::int64_t m_shownEnd = 0;            // absolute end of the text on the canvas
    bool m_inRefresh = false;
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

    CCopier m_copy;                     // Ctrl+C
    CCopier m_primary;                  // the primary selection
    QPointer<QMimeData> m_primaryOffer; // while the clipboard holds the view's offer
    CRange m_primaryRange;              // the selection read, or being read, beside
    QByteArray m_primaryText;           // its text, once read
    bool m_primaryReady = false;
};
