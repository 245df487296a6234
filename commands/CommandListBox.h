// CCommandListBox: the command list of the terminal window. It shows the loaded commands, one row
// per command, in the order they were added; the commands themselves are held once, in
// m_commands (CCommandListModel), which is the list's model. Rows are only ever appended, and the
// list is never sorted.
//
// Looks: single selection, 18-pixel rows whatever the font or style, the parent's font, no
// editing, rows drawn by the style's item delegate. A row shows its command as system text (in
// the system's encoding, or one character a byte where its bytes are not valid in it), elided
// when it is wider than the list, and a screen reader reads the same; m_commands keeps the bytes
// themselves, so what is picked is exactly what was added. Copy (Ctrl+C) puts the current row's
// whole command on the clipboard without copying it: the clipboard holds a share of the stored
// bytes and makes characters of them only when a program asks, as the row shows them. A paste
// into the Input field takes the bytes themselves.
//
// Typing goes to the next row, after the current one and round again, whose shown text starts
// with what was typed (case folded), as in any item view: keys typed within the keyboard
// interval add to one search text, and a key typed over and over steps through the rows that
// start with it. However many rows there are, one key's search never holds the window for more
// than a slice of kSearchSliceRows rows: a longer one goes on in slices between events, and the
// keys typed meanwhile are searched after it, each from where the one before it left the
// current row, as if it had ended at once. A change of the current row by other means (a
// click, an arrow key) ends the searches still going.
//
// Any number of rows costs the same to lay out, scroll and paint: every row has the same height,
// so its place is arithmetic from the top row, and the vertical scroll bar counts rows. QListView's
// own layout, which keeps two numbers per row and redoes all of them on every append, is never
// run; the functions below that place rows replace it. What QListView gives is kept: spacing()
// around the rows, the keyboard, and its accessible table (rows as list items with their text,
// the selection, and the flag that tells clients not to enumerate the rows).
//
// A left double-click anywhere in the list, also below the last row (and, in a gap between rows,
// the nearer one), emits commandPicked with the whole stored text of that row (comment and spaces
// included). The signal is delivered synchronously (connect it with a direct connection) before
// the list's own double-click handling: the window handles it as the pick of a command. The text
// is the stored bytes themselves, not a copy, and valid for the call: the list holds them in
// place meanwhile, so the receiver may add commands while handling it, and copies what it keeps.
// An empty list emits nothing. A single click only selects.
//
// User-interface thread only.
#pragma once

#include "commands/CommandListModel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QListView>
#include <cstdint>
#include <deque>

class CCommandListBox : public QListView
{
    Q_OBJECT

  public:
    static constexpr int kItemHeight = 18; // pixels
    static constexpr int kSearchSliceRows = 1 << 18;
    // Keys typed while this many searches wait are dropped, as a full keyboard buffer drops them.
    static constexpr std::size_t kMaxWaitingSearches = 16;

    explicit CCommandListBox(QWidget* parent = nullptr);
    ~CCommandListBox() override;

    // Appends one command (its bytes as read from the file); returns 1, or 0 when the list
    // already holds CCommandListModel::kMaxCommands. The selection stays.
    int AddCommand(const QByteArray& text);
    // Appends every line of a loaded file in one step, taking them from `lines`; false, with
    // nothing added, when the list cannot hold them all. The selection stays.
    bool AddCommands(CCommandLines&& lines);
    const CCommandListModel& commands() const { return *m_commands; }

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void doItemsLayout() override;
    void keyboardSearch(const QString& search) override;

  signals:
    void commandPicked(const QByteArray& text);

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

  private:
    // One key's search, as it was typed; it starts once those typed before it have ended.
    struct CTypedSearch
    {
        QString prefix;
        bool restarted; // the first key after the keyboard interval
        bool sameKey;   // one key typed over and over: the next row that starts with it
    };
    void BeginSearch();
    void SearchSlice();
    void EndSearches();

    int TopRow() const;
    int Pitch() const { return kItemHeight + spacing(); }
    // Top edge of row `row` in viewport coordinates; far from the viewport for far rows.
    std::int64_t RowTop(int row) const;
    // Rows wholly inside the viewport (at least 1), and rows that reach into it at all.
    int WholeRowsShown() const;
    int RowsShown() const;
    // The row whose band (the row and the gap below it) holds viewport height `y`, or -1.
    int RowAtY(int y) const;
    // Row nearest to a point in viewport coordinates; -1 when the list is empty.
    int NearestRow(const QPoint& pos) const;

    CCommandListModel* m_commands; // child object, so it outlives the view's own teardown

    QString m_typed; // what has been typed within the keyboard interval
    QElapsedTimer m_sinceTyped;
    std::deque<CTypedSearch> m_searches; // the first one is going
    int m_searchNext = 0;                // the next row the going search looks at
    int m_searchLeft = 0;                // rows it has still to look at
    int m_searchRows = 0;                // the row count it wraps at
    bool m_slicePosted = false;          // the next slice waits in the event queue
    bool m_searchMovesCurrent = false;
};
