// CBytesMimeData: text put on the clipboard as bytes, and turned into characters only when a
// program asks for them, so that a copy costs nothing in proportion to its length until it is
// pasted. Pasting into the Input field of this program takes the bytes themselves (Bytes()) and
// converts nothing.
//
// Other programs get the bytes as the place they were copied from shows them: the Input field
// one character a byte (Latin-1: byte b is the character U+00bb), the command list as system
// text (text/SystemText.h).
//
// The bytes are a QByteArray, shared rather than copied, or a stretch of another owner's
// storage that the offer keeps alive by holding a share of that owner.
//
// Like any clipboard data, used on the user-interface thread.
#pragma once

#include <QByteArray>
#include <QMimeData>
#include <memory>
#include <string_view>

class CBytesMimeData : public QMimeData
{
  public:
    enum class Reading
    {
        Latin1,
        SystemText,
    };

    CBytesMimeData(QByteArray bytes, Reading reading);
    // `bytes` must stay where they are while `owner` is held.
    CBytesMimeData(std::string_view bytes, std::shared_ptr<const void> owner, Reading reading);

    // The bytes as an array of their own: the offered array itself, or a copy of bytes that
    // belong to another owner (the copy may outlive the offer).
    QByteArray Bytes() const;

    bool hasFormat(const QString& mimeType) const override;
    QStringList formats() const override;

  protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

  private:
    const std::shared_ptr<const void> m_owner;
    const QByteArray m_bytes; // over the owner's storage when there is an owner
    const Reading m_reading;
};
