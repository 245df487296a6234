#include "terminal/AboutDlg.h"

#include "res/Icons.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

namespace
{

// Dialog units: a horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its height; pixel values are rounded to the nearest.
class DialogUnits
{
  public:
    explicit DialogUnits(const QFont& font)
    {
        const QFontMetrics metrics(font);
        const QString alphabet =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        m_baseX = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
        m_baseY = metrics.height();
    }

    int X(int units) const { return Scale(units, m_baseX, 4); }
    int Y(int units) const { return Scale(units, m_baseY, 8); }
    QRect Rect(int x, int y, int width, int height) const
    {
        return QRect(X(x), Y(y), X(width), Y(height));
    }

  private:
    static int Scale(int units, int base, int divisor)
    {
        return (units * base + divisor / 2) / divisor;
    }

    int m_baseX = 0;
    int m_baseY = 0;
};

constexpr int kIconSize = 32; // pixels, the icon's own size

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    // The texts are Chinese: ask for a font that has the glyphs, so they never show as boxes.
    QFont font(QStringLiteral("WenQuanYi Micro Hei"), 9);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setWindowTitle(QStringLiteral("关于 Vorlanti"));
    setWindowIcon(VorlantiIcon());

    const DialogUnits units(font);
    setFixedSize(units.X(235), units.Y(55));

    auto* icon = new QLabel(this);
    icon->setPixmap(VorlantiIcon().pixmap(QSize(kIconSize, kIconSize)));
    icon->setGeometry(units.X(11), units.Y(17), kIconSize, kIconSize);

    auto* version = new QLabel(QStringLiteral("Vorlanti 1.0 版"), this);
    version->setTextFormat(Qt::PlainText);
    version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    version->setGeometry(units.Rect(40, 10, 119, 8));

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    ok->setGeometry(units.Rect(178, 7, 50, 14));
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;
