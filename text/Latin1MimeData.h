// CLatin1MimeData: text put on the clipboard as bytes, one character each (Latin-1: byte b is
// the character U+00bb), and turned into characters only when a program asks for them, so that
// a copy costs nothing in proportion to its length until it is pasted. Pasting into the Input
// field of this program takes the bytes themselves (Bytes()) and converts nothing.
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

class CLatin1MimeData : public QMimeData
{
  public:
    explicit CLatin1MimeData(QByteArray bytes);
    // `bytes` must stay where they are while `owner` is held.
    CLatin1MimeData(std::string_view bytes, std::shared_ptr<const void> owner);

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
};
