#include "terminal/AboutDlg.h"

#include "res/Icons.h"
#include "terminal/TerminalLayout.h"

#include <QLabel>
#include <QPushButton>

namespace
{

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

    const CDialogUnits units(font);
    setFixedSize(units.ToPixels(QSize(235, 55)));

    auto* icon = new QLabel(this);
    icon->setPixmap(VorlantiIcon().pixmap(QSize(kIconSize, kIconSize)));
    icon->setGeometry(units.ToPixelsX(11), units.ToPixelsY(17), kIconSize, kIconSize);

    auto* version = new QLabel(QStringLiteral("Vorlanti 1.0 版"), this);
    version->setTextFormat(Qt::PlainText);
    version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    version->setGeometry(units.ToPixels(40, 10, 119, 8));

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    ok->setGeometry(units.ToPixels(178, 7, 50, 14));
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;
