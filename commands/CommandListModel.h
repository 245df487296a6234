// CCommandListModel: the commands of the command list, in the order they were added, as the rows
// of a list model. The bytes are held once, end to end, in blocks of CCommandLines (a loaded file
// becomes one block by a move, without a copy), so a row costs its bytes and four more, and
// nothing is built for a row until a view asks for it.
//
// A row shows its line as system text (text/SystemText.h: in the system's encoding, or one
// character a byte where the line's bytes are not valid in it), the first kShownCharacters of
// it; a longer line is shown cut there, between two characters, with an ellipsis (the list is
// far narrower than that), so a view never reads or lays out more than that for one row, on
// screen or for a screen reader. Line() gives
// the whole stored line; HoldLine() gives it with a share of the block that holds it, for a pick
// or a copy that must not copy the bytes. Rows are only ever appended, never sorted, changed or
// removed; there are at most kMaxCommands, and an append that would pass that adds nothing and
// returns false.
//
// FirstStartingWith is the list's keyboard search: it matches the text the rows show, case
// folded as QString folds it, comparing plain ASCII bytes directly instead of building a text
// per row, and looks at just the rows it is given, so that a search can go in slices.
//
// User-interface thread only, like any item model; a held block may be released on any thread.
#pragma once

#include "commands/CommandFile.h"

#include <QAbstractListModel>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

class CCommandListModel : public QAbstractListModel
{
    Q_OBJECT

  public:
    static constexpr int kShownCharacters = 256;
    static constexpr int kMaxCommands = std::numeric_limits<int>::max();

    // A stored line and a share of its block: while `owner` is held, the block takes no more
    // lines, so the bytes neither move nor go, whatever is appended or however long the model
    // lives.
    struct CHeldLine
    {
        std::shared_ptr<const void> owner;
        std::string_view bytes;
    };

    using QAbstractListModel::QAbstractListModel;

    int Count() const { return m_count; }
    // The whole stored line of row `row`, 0 <= row < Count(). Valid until the next append.
    std::string_view Line(int row) const;
    CHeldLine HoldLine(int row) const;

    // Appends one command.
    bool Append(std::string_view line);
    // Appends every line of `lines` in one step; `lines` is left empty when they were taken.
    bool Append(CCommandLines&& lines);

    // The first row in [firstRow, endRow) whose shown text starts with `prefix`, case folded,
    // or -1. Costs in proportion to the rows given times the prefix's length.
    int FirstStartingWith(const QString& prefix, int firstRow, int endRow) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  private:
    std::size_t BlockOf(int row) const;

    // Shared so that a held line keeps its block; only the last block of singles ever grows.
    std::vector<std::shared_ptr<CCommandLines>> m_blocks;
    std::vector<int> m_firstRows; // the row of each block's first line
    int m_count = 0;
    // Single commands go into a block of their own making; a loaded file's block is never
    // grown, so its text is never copied to make room.
    bool m_lastBlockTakesSingles = false;
};
