// The receive view's copies of the log: Ctrl+C and the X11 primary selection. One that is
// short is read at once on the user-interface thread; a longer one is read beside it, in slices
// under the log's lock, so that neither the window nor the receive worker waits for it.
#include "terminal/ReceiveLog.h"
#include "terminal/ReceiveView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace
{
// Copies up to this many characters are made at once on the user-interface thread (a few
// milliseconds); larger ones beside it, in slices of this size under the log's lock.
constexpr int kCopySlice = 4 << 20;

void Append(QString& text, const char* piece, int count)
{
    text.append(QLatin1StringView(piece, count));
}

void Append(QByteArray& text, const char* piece, int count)
{
    text.append(piece, count);
}

// The lock is not handed over in turn: a reader that takes it again at once after a slice
// keeps it from the threads woken meanwhile, slice after slice (measured: the receive worker and
// the user-interface thread waited 50-120 ms behind a read of 200 M characters). So a reader
// that reads more leaves the lock free this long before its next slice.
constexpr std::chrono::microseconds kSliceGap(200);

// Reads characters [from, to) of the log (absolute offsets: the discarded ones counted) of
// generation `clears` into `text`, a slice of kCopySlice at a time under the log's lock, so that
// neither the receive worker nor the user-interface thread waits long for the lock. False when
// a clear or a discard took some of it before it was read; stops early once `stop` is set.
template <class Text>
bool ReadInSlices(const CReceiveLog& log, std::int64_t from, std::int64_t to, std::uint64_t clears,
                  const std::atomic<bool>& stop, Text& text)
{
    text.reserve(static_cast<qsizetype>(to - from));
    for (std::int64_t at = from; at < to && !stop;)
    {
        if (at != from)
            std::this_thread::sleep_for(kSliceGap);
        const std::lock_guard lock(log.Mutex());
        const std::int64_t local = at - log.DiscardedLocked();
        const std::int64_t count = std::min<std::int64_t>(kCopySlice, to - at);
        if (log.ClearsLocked() != clears || local < 0 || local + count > log.LengthLocked())
            return false;
        log.ReadLocked(static_cast<int>(local), static_cast<int>(local + count),
                       [&](const char* piece, int n) { Append(text, piece, n); });
        at += count;
    }
    return true;
}

// The primary selection, offered without a copy: the view's selection at the moment another
// program asks for it (CReceiveView::PrimaryText). The text is hex digits, so its bytes are
// its UTF-8 as they are, and a program that asks for bytes gets them without a conversion.
class CSelectionMimeData : public QMimeData
{
  public:
    explicit CSelectionMimeData(CReceiveView* view) : m_view(view) {}

    QStringList formats() const override { return {QStringLiteral("text/plain")}; }
    bool hasFormat(const QString& mimeType) const override
    {
        return mimeType == QLatin1String("text/plain");
    }

  protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override
    {
        if (!hasFormat(mimeType) || m_view == nullptr)
            return QVariant();
        const QByteArray text = m_view->PrimaryText();
        if (type.id() == QMetaType::QByteArray)
            return text;
        return QString::fromLatin1(text);
    }

  private:
    QPointer<CReceiveView> m_view;
};

} // namespace

void CReceiveView::CopySelection()
{
    const int start = SelectionStart(), end = SelectionEnd();
    if (start == end)
        return;
    if (end - start > kCopyLimit)
    {
        QMessageBox::warning(this, tr("Copy"),
                             tr("The selection holds %L1 characters; at most %L2 can be copied "
                                "at once. Nothing was copied.")
                                 .arg(end - start)
                                 .arg(kCopyLimit));
        return;
    }
    if (end - start <= kCopySlice)
        QGuiApplication::clipboard()->setText(Text(start, end));
    else
        StartCopy(start, end);
}

// The copier reads the log beside the user-interface thread (ReadInSlices) and hands the text
// over when it is whole. Data that a clear or a discard takes away before it was read ends the
// copy.
void CReceiveView::StartCopy(int start, int end)
{
    Stop(m_copy);
    m_copy.stop = false;
    const CReceiveLog* log = m_log;
    const std::int64_t from = m_discarded + start, to = m_discarded + end;
    const std::uint64_t clears = m_clears;
    const std::uint64_t id = ++m_copy.id;
    m_copy.thread = std::thread(
        [this, log, from, to, clears, id]
        {
            QString text;
            const bool whole = ReadInSlices(*log, from, to, clears, m_copy.stop, text);
            if (!m_copy.stop)
                QMetaObject::invokeMethod(
                    this,
                    [this, id, text = std::move(text), whole] { CopyFinished(id, text, whole); },
                    Qt::QueuedConnection);
        });
}

void CReceiveView::Stop(CCopier& copier)
{
    ++copier.id; // a copy that has already handed over its text is ignored when it arrives
    copier.stop = true;
    if (copier.thread.joinable())
        copier.thread.join();
}

void CReceiveView::CopyFinished(std::uint64_t id, const QString& text, bool whole)
{
    if (id != m_copy.id)
        return;
    if (m_copy.thread.joinable())
        m_copy.thread.join(); // it has handed over its text and is ending
    if (whole)
        QGuiApplication::clipboard()->setText(text);
    else
        QMessageBox::warning(this, tr("Copy"),
                             tr("The selected data was cleared or discarded before it could be "
                                "copied. Nothing was copied."));
}

CReceiveView::CRange CReceiveView::SelectedRange() const
{
    return {m_discarded + SelectionStart(), m_discarded + SelectionEnd(), m_clears};
}

QByteArray CReceiveView::PrimaryText()
{
    const CRange range = SelectedRange();
    const std::int64_t length = range.to - range.from;
    if (m_log == nullptr || length == 0 || length > kCopyLimit)
        return QByteArray();
    if (length <= kCopySlice)
    {
        QByteArray text;
        const std::atomic<bool> never{false};
        return ReadInSlices(*m_log, range.from, range.to, range.clears, never, text) ? text
                                                                                     : QByteArray();
    }
    UpdatePrimary(); // reads it beside if the selection has changed since the last read
    return m_primaryReady ? m_primaryText : QByteArray();
}

// Offered when a selection made with the mouse ends, as X11 programs do; while the offer stands,
// every later selection is what it offers.
void CReceiveView::OfferPrimary()
{
    auto* offer = new CSelectionMimeData(this);
    // Another program's selection ends the offer: what was read for it goes.
    connect(offer, &QObject::destroyed, this,
            [this]
            {
                if (m_primaryOffer != nullptr)
                    return; // a newer offer of this view took its place
                Stop(m_primary);
                m_primaryRange = CRange();
                m_primaryText = QByteArray();
                m_primaryReady = false;
            });
    m_primaryOffer = offer;
    QGuiApplication::clipboard()->setMimeData(offer, QClipboard::Selection);
    UpdatePrimary();
}

// A selection longer than a slice is read beside as soon as it is made, as Ctrl+C reads one,
// so that when another program asks for it the window hands over what it has and never reads
// the log for it: until the read is done such a program gets nothing.
void CReceiveView::UpdatePrimary()
{
    const CRange range = SelectedRange();
    if (range == m_primaryRange && (m_primaryReady || m_primary.thread.joinable()))
        return;
    Stop(m_primary);
    m_primaryRange = range;
    m_primaryText = QByteArray();
    m_primaryReady = false;
    const std::int64_t length = range.to - range.from;
    if (m_selecting || m_primaryOffer == nullptr || m_log == nullptr || length <= kCopySlice ||
        length > kCopyLimit)
        return;
    m_primary.stop = false;
    const CReceiveLog* log = m_log;
    const std::uint64_t id = ++m_primary.id;
    m_primary.thread = std::thread(
        [this, log, range, id]
        {
            QByteArray text;
            const bool whole =
                ReadInSlices(*log, range.from, range.to, range.clears, m_primary.stop, text);
            if (!m_primary.stop)
                QMetaObject::invokeMethod(
                    this,
                    [this, id, text = std::move(text), whole]
                    { PrimaryRead(id, whole ? text : QByteArray()); },
                    Qt::QueuedConnection);
        });
}

void CReceiveView::PrimaryRead(std::uint64_t id, const QByteArray& text)
{
    if (id != m_primary.id)
        return;
    if (m_primary.thread.joinable())
        m_primary.thread.join(); // it has handed over its text and is ending
    m_primaryText = text;
    m_primaryReady = true;
}
