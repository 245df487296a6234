#include "terminal/TerminalLayout.h"

#include <QFontMetrics>
#include <QStringList>

namespace
{
// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}
} // namespace

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
    if (m_baseX < 1)
        m_baseX = 1;
    if (m_baseY < 1)
        m_baseY = 1;
}

int CDialogUnits::ToPixelsX(int dlu) const
{
    return MulDiv(dlu, m_baseX, 4);
}

int CDialogUnits::ToPixelsY(int dlu) const
{
    return MulDiv(dlu, m_baseY, 8);
}

QRect CDialogUnits::ToPixels(int x, int y, int cx, int cy) const
{
    return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(cx), ToPixelsY(cy));
}

QSize CDialogUnits::ToPixels(QSize dlu) const
{
    return QSize(ToPixelsX(dlu.width()), ToPixelsY(dlu.height()));
}

QFont TerminalTemplateFont()
{
    QFont font;
    font.setFamilies(QStringList{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(kTemplateFontPoints);
    return font;
}

QFont BannerFont()
{
    QFont font;
    font.setFamilies(QStringList{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    // A pixel size sets the em, not the cell: take the largest whose cell still fits.
    int pixels = kBannerCellHeight;
    font.setPixelSize(pixels);
    while (pixels > 1 && QFontMetrics(font).height() > kBannerCellHeight)
        font.setPixelSize(--pixels);
    return font;
}
