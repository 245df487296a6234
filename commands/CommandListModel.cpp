#include "commands/CommandListModel.h"

#include "text/SystemText.h"

#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cstdint>

namespace
{

// A block of single commands grows until it holds this much; a longer line gets a block of its
// own. It keeps the 32-bit line offsets in range and the copies of a growing block short.
constexpr std::size_t kSinglesBlockBytes = CCommandFile::kMaxFileSize;

// What the search compares a byte of a row as: an ASCII character case folded, or, for a byte
// above 0x7F, U+FFFF, which ends the byte-by-byte comparison and leaves the row to
// ShownTextStartsWith (a typed text that holds U+FFFF is compared that way throughout).
constexpr char16_t kNotAscii = 0xFFFF;
const std::array<char16_t, 256>& FoldedBytes()
{
    static const std::array<char16_t, 256> folded = []
    {
        std::array<char16_t, 256> table{};
        for (std::size_t byte = 0; byte < table.size(); ++byte)
            table[byte] = byte >= 0x80                 ? kNotAscii
                          : byte >= 'A' && byte <= 'Z' ? char16_t(byte - 'A' + 'a')
                                                       : char16_t(byte);
        return table;
    }();
    return folded;
}

// Whether the shown text of `line` starts with `folded`, for a line that is not plain ASCII
// where the prefix would lie. Its first bytes are read both ways a row may read (the prefix's
// worth, so that most rows are turned down for a few bytes); only a match asks which way the
// row reads, from the bytes its shown text takes.
bool ShownTextStartsWith(std::string_view line, const QString& folded)
{
    const std::string_view first =
        line.substr(0, (static_cast<std::size_t>(folded.size()) + 1) * 4);
    QStringDecoder decoder(QStringConverter::System);
    const QString system =
        decoder(QByteArrayView(first.data(), static_cast<qsizetype>(first.size())));
    const bool asSystemText = !decoder.hasError() && system.toCaseFolded().startsWith(folded);
    const bool asLatin1 =
        QString::fromLatin1(
            first.data(), std::min<qsizetype>(static_cast<qsizetype>(first.size()), folded.size()))
            .toCaseFolded() == folded;
    if (!asSystemText && !asLatin1)
        return false;
    return StartIsSystemText(line, CCommandListModel::kShownCharacters) ? asSystemText : asLatin1;
}

} // namespace

std::size_t CCommandListModel::BlockOf(int row) const
{
    const auto after = std::upper_bound(m_firstRows.begin(), m_firstRows.end(), row);
    return static_cast<std::size_t>(after - m_firstRows.begin()) - 1;
}

std::string_view CCommandListModel::Line(int row) const
{
    const std::size_t block = BlockOf(row);
    return m_blocks[block]->Line(static_cast<std::size_t>(row - m_firstRows[block]));
}

CCommandListModel::CHeldLine CCommandListModel::HoldLine(int row) const
{
    const std::size_t block = BlockOf(row);
    return {m_blocks[block],
            m_blocks[block]->Line(static_cast<std::size_t>(row - m_firstRows[block]))};
}

bool CCommandListModel::Append(std::string_view line)
{
    if (m_count == kMaxCommands || line.size() > std::numeric_limits<std::uint32_t>::max())
        return false;
    // A block that someone holds a line of is not grown: growing may move its bytes.
    const bool fits = m_lastBlockTakesSingles && m_blocks.back().use_count() == 1 &&
                      m_blocks.back()->text.size() + line.size() <= kSinglesBlockBytes;
    beginInsertRows(QModelIndex(), m_count, m_count);
    if (!fits)
    {
        m_blocks.push_back(std::make_shared<CCommandLines>());
        m_firstRows.push_back(m_count);
        m_lastBlockTakesSingles = true;
    }
    CCommandLines& block = *m_blocks.back();
    block.text.append(line);
    block.ends.push_back(static_cast<std::uint32_t>(block.text.size()));
    ++m_count;
    endInsertRows();
    return true;
}

bool CCommandListModel::Append(CCommandLines&& lines)
{
    if (lines.Count() == 0)
        return true;
    if (lines.Count() > static_cast<std::size_t>(kMaxCommands - m_count))
        return false;
    const int first = m_count;
    const int last = first + static_cast<int>(lines.Count()) - 1;
    beginInsertRows(QModelIndex(), first, last);
    m_blocks.push_back(std::make_shared<CCommandLines>(std::move(lines)));
    m_firstRows.push_back(first);
    m_count = last + 1;
    m_lastBlockTakesSingles = false;
    endInsertRows();
    lines = CCommandLines();
    return true;
}

int CCommandListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_count;
}

QVariant CCommandListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.model() != this ||
        index.row() >= m_count)
        return QVariant();
    bool cut = false;
    QString text = SystemTextStart(Line(index.row()), kShownCharacters, &cut);
    if (cut)
        text += QChar(0x2026);
    return text;
}

int CCommandListModel::FirstStartingWith(const QString& prefix, int firstRow, int endRow) const
{
    const std::array<char16_t, 256>& fold = FoldedBytes();
    const QString folded = prefix.toCaseFolded();
    const auto length = static_cast<std::uint32_t>(folded.size());
    const QChar* wanted = folded.constData();
    const bool wantsNotAscii = folded.contains(QChar(kNotAscii));
    endRow = std::min(endRow, m_count);
    int row = std::max(firstRow, 0);
    // Walks the line ends directly: this runs over every row given when nothing matches.
    while (row < endRow)
    {
        const std::size_t block = BlockOf(row);
        const char* text = m_blocks[block]->text.data();
        const std::uint32_t* ends = m_blocks[block]->ends.data();
        const int first = m_firstRows[block];
        const int blockEnd =
            std::min(endRow, first + static_cast<int>(m_blocks[block]->ends.size()));
        std::uint32_t begin = row == first ? 0 : ends[row - first - 1];
        for (; row < blockEnd; ++row)
        {
            const std::uint32_t end = ends[row - first];
            // A line's shown text has at most as many characters as it has bytes.
            if (end - begin >= length)
            {
                std::uint32_t i = 0;
                if (!wantsNotAscii)
                    while (i < length &&
                           fold[static_cast<unsigned char>(text[begin + i])] == wanted[i].unicode())
                        ++i;
                // Where the typed text lies, plain ASCII decides at once; a byte above 0x7F
                // leaves it to the row's text.
                const bool decided =
                    !wantsNotAscii &&
                    (i == length || fold[static_cast<unsigned char>(text[begin + i])] != kNotAscii);
                if (decided
                        ? i == length
                        : ShownTextStartsWith(std::string_view(text + begin, end - begin), folded))
                    return row;
            }
            begin = end;
        }
    }
    return -1;
}
