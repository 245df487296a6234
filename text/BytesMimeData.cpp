#include "text/BytesMimeData.h"

#include "text/SystemText.h"

#include <QString>
#include <QStringList>
#include <QVariant>

CBytesMimeData::CBytesMimeData(QByteArray bytes, Reading reading)
    : m_bytes(std::move(bytes)), m_reading(reading)
{
}

CBytesMimeData::CBytesMimeData(std::string_view bytes, std::shared_ptr<const void> owner,
                               Reading reading)
    : m_owner(std::move(owner)),
      m_bytes(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()))),
      m_reading(reading)
{
}

QByteArray CBytesMimeData::Bytes() const
{
    if (!m_owner)
        return m_bytes;
    return QByteArray(m_bytes.constData(), m_bytes.size());
}

bool CBytesMimeData::hasFormat(const QString& mimeType) const
{
    return mimeType == QLatin1String("text/plain");
}

QStringList CBytesMimeData::formats() const
{
    return {QStringLiteral("text/plain")};
}

QVariant CBytesMimeData::retrieveData(const QString& mimeType, QMetaType) const
{
    if (!hasFormat(mimeType))
        return QVariant();
    if (m_reading == Reading::SystemText)
        return SystemText(
            std::string_view(m_bytes.constData(), static_cast<std::size_t>(m_bytes.size())));
    return QString::fromLatin1(m_bytes);
}
