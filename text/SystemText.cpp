#include "text/SystemText.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>
#include <optional>

namespace
{
// The most bytes one character takes in the system's encoding.
constexpr std::size_t kMaxCharacterBytes = 4;

// Enough bytes for more than `characters` characters, also after a byte order mark.
std::size_t StartBytes(qsizetype characters)
{
    return (static_cast<std::size_t>(characters) + 2) * kMaxCharacterBytes;
}

// `bytes` in the system's encoding, or nothing when they are not valid in it. A start of a longer
// text may end inside a character: that is no fault of the bytes.
std::optional<QString> Decode(std::string_view bytes, bool whole)
{
    QStringDecoder decoder(QStringConverter::System, whole ? QStringConverter::Flag::Stateless
                                                           : QStringConverter::Flag::Default);
    QString text = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString OneCharacterAByte(std::string_view bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
} // namespace

QString SystemText(std::string_view bytes)
{
    std::optional<QString> text = Decode(bytes, true);
    return text ? *std::move(text) : OneCharacterAByte(bytes);
}

QString SystemTextStart(std::string_view bytes, qsizetype characters, bool* cut)
{
    const bool whole = bytes.size() <= StartBytes(characters);
    const std::string_view start = whole ? bytes : bytes.substr(0, StartBytes(characters));
    std::optional<QString> decoded = Decode(start, whole);
    QString text = decoded ? *std::move(decoded) : OneCharacterAByte(start);
    const bool more = text.size() > characters;
    if (more)
    {
        // Never between a letter and its accent, nor inside a surrogate pair.
        QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
        boundaries.setPosition(characters);
        qsizetype end = boundaries.isAtBoundary() ? characters : boundaries.toPreviousBoundary();
        if (end <= 0) // one character of more than `characters` units: cut it between code points
            end = text.at(characters).isLowSurrogate() ? characters - 1 : characters;
        text.truncate(end);
    }
    if (cut != nullptr)
        *cut = more || !whole;
    return text;
}

bool StartIsSystemText(std::string_view bytes, qsizetype characters)
{
    const bool whole = bytes.size() <= StartBytes(characters);
    return Decode(whole ? bytes : bytes.substr(0, StartBytes(characters)), whole).has_value();
}
