// How the Input field's text changes: every edit goes through Apply, which keeps the undo
// history; what may go in (characters with a byte each, at most kMaxLength of them) is checked
// first, and a refusal says why at the caret. The clipboard's text comes and goes as bytes.
#include "terminal/InputField.h"
#include "text/BytesMimeData.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QToolTip>
#include <algorithm>
#include <utility>

namespace
{
// Puts the low byte of each of `count` characters into `bytes` and returns all the characters
// ORed together, so that one pass both converts a text and tells whether any character of it
// is too wide for a byte. Fixed-length blocks and unaliased pointers let compilers vectorise it.
char16_t NarrowToBytes(const char16_t* __restrict units, char* __restrict bytes, qsizetype count)
{
    constexpr qsizetype kBlock = 64;
    char16_t all = 0;
    qsizetype i = 0;
    for (; i + kBlock <= count; i += kBlock)
        for (qsizetype k = 0; k < kBlock; ++k)
        {
            all |= units[i + k];
            bytes[i + k] = static_cast<char>(units[i + k]);
        }
    for (; i < count; ++i)
    {
        all |= units[i];
        bytes[i] = static_cast<char>(units[i]);
    }
    return all;
}

QString Described(QStringView text, qsizetype at)
{
    const char32_t code = text.mid(at, 2).toUcs4().value(0);
    return QStringLiteral("\u201C%1\u201D (U+%2)")
        .arg(QString::fromUcs4(&code, 1),
             QString::number(static_cast<uint>(code), 16).toUpper().rightJustified(4, u'0'));
}
} // namespace

QString CInputField::Text(qsizetype from, qsizetype to) const
{
    from = std::clamp<qsizetype>(from, 0, Length());
    to = std::clamp<qsizetype>(to, from, Length());
    return QString::fromLatin1(m_text.constData() + from, to - from);
}

bool CInputField::SetBytes(QByteArray bytes)
{
    if (bytes.size() > kMaxLength)
    {
        Refuse(tr("The Input holds at most %L1 characters.").arg(kMaxLength));
        return false;
    }
    return Apply(0, Length(), std::move(bytes), EditKind::Other);
}

bool CInputField::SetText(const QString& text)
{
    QByteArray bytes;
    if (!Accept(text, QString(), &bytes))
        return false;
    return SetBytes(std::move(bytes));
}

bool CInputField::Replace(qsizetype from, qsizetype to, const QString& text)
{
    from = std::clamp<qsizetype>(from, 0, Length());
    to = std::clamp<qsizetype>(to, from, Length());
    QByteArray bytes;
    const QString refused = tr("Nothing was inserted: ");
    if (!Accept(text, refused, &bytes) || !Fits(bytes.size() - (to - from), refused))
        return false;
    return Apply(from, to, std::move(bytes), EditKind::Other);
}

void CInputField::Copy() const
{
    if (HasSelection())
        QGuiApplication::clipboard()->setMimeData(
            new CBytesMimeData(m_text.mid(SelectionStart(), SelectionEnd() - SelectionStart()),
                               CBytesMimeData::Reading::Latin1));
}

void CInputField::Cut()
{
    if (!HasSelection())
        return;
    Copy();
    Apply(SelectionStart(), SelectionEnd(), QByteArray(), EditKind::Other);
}

void CInputField::Paste(QClipboard::Mode mode)
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
    if (data == nullptr)
        return;
    const QString refused = tr("Nothing was pasted: ");
    QByteArray bytes;
    if (const auto* ours = dynamic_cast<const CBytesMimeData*>(data))
        bytes = ours->Bytes();
    else if (!data->hasText() || !Accept(data->text(), refused, &bytes))
        return;
    if (bytes.isEmpty() && !HasSelection())
        return;
    if (!Fits(bytes.size() - (SelectionEnd() - SelectionStart()), refused))
        return;
    Apply(SelectionStart(), SelectionEnd(), std::move(bytes), EditKind::Other);
}

void CInputField::Undo()
{
    if (!m_undo.empty())
        Revert(m_undo, m_redo);
}

void CInputField::Redo()
{
    if (!m_redo.empty())
        Revert(m_redo, m_undo);
}

bool CInputField::Apply(qsizetype from, qsizetype to, QByteArray bytes, EditKind kind)
{
    if (from == to && bytes.isEmpty())
        return true;
    if (Length() - (to - from) > kMaxLength - bytes.size())
        return false;
    const qsizetype inserted = bytes.size();
    QByteArray removed;
    if (from == 0 && to == Length())
        removed = std::exchange(m_text, std::move(bytes));
    else
    {
        removed = m_text.mid(from, to - from);
        m_text.replace(from, to - from, bytes);
    }
    m_cursor = m_anchor = from + inserted;
    SetFirst(std::min(m_first, Length()));
    ShowOffset(m_cursor);
    NotifyTextChange(from, removed, inserted);
    Record(from, std::move(removed), inserted, kind);
    RestartBlinking();
    update();
    return true;
}

void CInputField::Record(qsizetype at, QByteArray removed, qsizetype insertedLength, EditKind kind)
{
    for (const Change& change : m_redo)
        m_historyBytes -= change.text.size();
    m_redo.clear();
    m_historyBytes += removed.size();
    // Typing and erasing one character after another make one step.
    if (!m_undo.empty())
    {
        Change& last = m_undo.back();
        if (kind == EditKind::Typing && last.kind == kind && removed.isEmpty() &&
            last.at + last.length == at)
        {
            last.length += insertedLength;
            return;
        }
        if (kind == EditKind::EraseBackward && last.kind == kind && insertedLength == 0 &&
            at + removed.size() == last.at)
        {
            last.text.prepend(removed);
            last.at = at;
            TrimHistory();
            return;
        }
        if (kind == EditKind::EraseForward && last.kind == kind && insertedLength == 0 &&
            at == last.at)
        {
            last.text.append(removed);
            TrimHistory();
            return;
        }
    }
    m_undo.push_back({at, insertedLength, std::move(removed), kind});
    TrimHistory();
}

void CInputField::Revert(std::deque<Change>& from, std::deque<Change>& to)
{
    Change change = std::move(from.back());
    from.pop_back();
    m_historyBytes -= change.text.size();
    const qsizetype restored = change.text.size();
    QByteArray current;
    if (change.at == 0 && change.length == Length())
        current = std::exchange(m_text, std::move(change.text));
    else
    {
        current = m_text.mid(change.at, change.length);
        m_text.replace(change.at, change.length, change.text);
    }
    m_cursor = m_anchor = change.at + restored;
    SetFirst(std::min(m_first, Length()));
    ShowOffset(m_cursor);
    NotifyTextChange(change.at, current, restored);
    m_historyBytes += current.size();
    to.push_back({change.at, restored, std::move(current), EditKind::Other});
    TrimHistory();
    RestartBlinking();
    update();
}

void CInputField::TrimHistory()
{
    while (m_historyBytes > kUndoBytes && !m_undo.empty())
    {
        m_historyBytes -= m_undo.front().text.size();
        m_undo.pop_front();
    }
    while (m_historyBytes > kUndoBytes && !m_redo.empty())
    {
        m_historyBytes -= m_redo.front().text.size();
        m_redo.pop_front();
    }
}

bool CInputField::Accept(const QString& text, const QString& refused, QByteArray* bytes)
{
    QByteArray narrowed(text.size(), Qt::Uninitialized);
    if (NarrowToBytes(reinterpret_cast<const char16_t*>(text.constData()), narrowed.data(),
                      text.size()) > 0xFF)
    {
        const auto wide =
            std::find_if(text.cbegin(), text.cend(), [](QChar ch) { return ch.unicode() > 0xFF; });
        Refuse(refused + tr("%1 has no byte: the Input takes only characters U+0000 to U+00FF, "
                            "one byte each.")
                             .arg(Described(text, wide - text.cbegin())));
        return false;
    }
    *bytes = std::move(narrowed);
    return true;
}

bool CInputField::Fits(qsizetype insertedLength, const QString& refused)
{
    if (insertedLength <= kMaxLength - Length())
        return true;
    Refuse(refused + tr("the Input holds at most %L1 characters.").arg(kMaxLength));
    return false;
}

void CInputField::Refuse(const QString& why)
{
    QApplication::beep();
    QToolTip::showText(mapToGlobal(CaretRect().bottomLeft().toPoint()), why, this);
}

void CInputField::TypeText(const QString& text)
{
    QByteArray bytes;
    if (!Accept(text, QString(), &bytes) ||
        !Fits(bytes.size() - (SelectionEnd() - SelectionStart()), QString()))
        return;
    Apply(SelectionStart(), SelectionEnd(), std::move(bytes), EditKind::Typing);
}

void CInputField::Erase(qsizetype from, qsizetype to, EditKind kind)
{
    from = std::clamp<qsizetype>(from, 0, Length());
    to = std::clamp<qsizetype>(to, from, Length());
    Apply(from, to, QByteArray(), kind);
}
