#include "text/Latin1MimeData.h"

#include <QString>
#include <QStringList>
#include <QVariant>

CLatin1MimeData::CLatin1MimeData(QByteArray bytes) : m_bytes(std::move(bytes)) {}

CLatin1MimeData::CLatin1MimeData(std::string_view bytes, std::shared_ptr<const void> owner)
    : m_owner(std::move(owner)),
      m_bytes(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())))
{
}

QByteArray CLatin1MimeData::Bytes() const
{
    if (!m_owner)
        return m_bytes;
    return QByteArray(m_bytes.constData(), m_bytes.size());
}

bool CLatin1MimeData::hasFormat(const QString& mimeType) const
{
    return mimeType == QLatin1String("text/plain");
}

QStringList CLatin1MimeData::formats() const
{
    return {QStringLiteral("text/plain")};
}

QVariant CLatin1MimeData::retrieveData(const QString& mimeType, QMetaType) const
{
    if (!hasFormat(mimeType))
        return QVariant();
    return QString::fromLatin1(m_bytes);
}
