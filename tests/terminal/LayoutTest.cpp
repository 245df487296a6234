// The terminal window as a user sees it: every caption fits inside its control by the metrics
// of the font it is drawn in, no two controls overlap unless a frame holds the other, and under
// a dark palette every text keeps enough contrast to be read. CTest runs this program once per
// screen scale (QT_SCALE_FACTOR must be set before Qt starts), because fonts are hinted and
// rounded differently at each; the checks themselves do not depend on the scale.
#include "PtyDevice.h"
#include "commands/CommandListBox.h"
#include "terminal/Contrast.h"
#include "terminal/ControlIds.h"
#include "terminal/InputField.h"
#include "terminal/ReceiveView.h"
#include "terminal/TerminalDlg.h"
#include "terminal/TerminalLayout.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace
{
// What a dark desktop theme hands every program.
QPalette DarkPalette()
{
    QPalette p;
    const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230);
    for (auto group : {QPalette::Active, QPalette::Inactive})
    {
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, window);
        p.setColor(group, QPalette::Text, text);
        p.setColor(group, QPalette::Button, window);
        p.setColor(group, QPalette::ButtonText, text);
        p.setColor(group, QPalette::Highlight, QColor(42, 130, 218));
        p.setColor(group, QPalette::HighlightedText, Qt::black);
        p.setColor(group, QPalette::ToolTipBase, base);
        p.setColor(group, QPalette::ToolTipText, text);
        p.setColor(group, QPalette::PlaceholderText, QColor(150, 150, 150));
    }
    p.setColor(QPalette::Disabled, QPalette::Window, window);
    p.setColor(QPalette::Disabled, QPalette::Button, window);
    p.setColor(QPalette::Disabled, QPalette::Base, base);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    return p;
}

// The ink of a rendered area: its background is the colour most pixels have; the ink is the
// pixel colour that stands out most from it, and its extent is where any pixel differs.
struct Ink
{
    QColor background, ink;
    QRect extent; // in image pixels; empty when nothing but background was drawn
};

Ink InkOf(const QImage& image)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            most = it.value(), background = it.key();
    Ink result{QColor(background), QColor(background), QRect()};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
        {
            const QColor c(image.pixel(x, y));
            if (c.rgb() == background)
                continue;
            result.extent |= QRect(x, y, 1, 1);
            if (Contrast(c, result.background) > Contrast(result.ink, result.background))
                result.ink = c;
        }
    return result;
}

std::string Describe(const QColor& c)
{
    return QStringLiteral("(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue()).toStdString();
}

class TerminalLayout : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // An empty device tree: the window never touches a real port.
        m_dlg = std::make_unique<CTerminalDlg>(m_tree.Roots());
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
        // The run for a scale really draws at it.
        if (const double scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(); scale > 0)
        {
            ASSERT_EQ(m_dlg->devicePixelRatioF(), scale);
        }
    }

    QWidget* Control(const ControlSpec& control)
    {
        return m_dlg->findChild<QWidget*>(QLatin1String(control.objectName));
    }

    // Where a group box draws its title, in the window's coordinates.
    static QRect TitleRect(QGroupBox* box)
    {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.lineWidth = 1;
        option.textAlignment = box->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect title = box->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                         QStyle::SC_GroupBoxLabel, box);
        return title.translated(box->pos());
    }

    // Fills the receive view and the command list so that their text is drawn too.
    void ShowSomeText()
    {
        const std::vector<std::uint8_t> bytes = SeededBytes(600, 7);
        m_dlg->OnReceive(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        auto* view = qobject_cast<CReceiveView*>(m_dlg->GetDlgItem(IDC_RECEIVE));
        ASSERT_TRUE(WaitFor([&] { return view->Length() == 1200; }));
        auto* list = qobject_cast<CCommandListBox*>(m_dlg->GetDlgItem(IDC_COMMANDS));
        list->AddCommand("010300000002C40B      // read 2 registers from 0000");
        list->AddCommand("50494E47              // PING");
        list->doItemsLayout();
    }

    CDeviceTree m_tree;
    std::unique_ptr<CTerminalDlg> m_dlg;
};

TEST_F(TerminalLayout, EveryCaptionFitsItsControl)
{
    ASSERT_NO_FATAL_FAILURE(ShowSomeText());
    for (const ControlSpec& control : kTerminalControls)
    {
        QWidget* w = Control(control);
        ASSERT_NE(w, nullptr) << control.objectName;
        SCOPED_TRACE(control.objectName);
        if (!control.visible)
            continue;
        const QFontMetrics fm = w->fontMetrics();
        QStyle* style = w->style();
        if (auto* button = qobject_cast<QPushButton*>(w))
        {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect contents = style->subElementRect(QStyle::SE_PushButtonContents, &option, w);
            EXPECT_LE(fm.horizontalAdvance(button->text()) +
                          style->pixelMetric(QStyle::PM_ButtonMargin, &option, w),
                      contents.width());
            EXPECT_LE(fm.height(), contents.height());
        }
        else if (auto* check = qobject_cast<QCheckBox*>(w))
        {
            QStyleOptionButton option;
            option.initFrom(check);
            option.text = check->text();
            const QRect contents = style->subElementRect(QStyle::SE_CheckBoxContents, &option, w);
            EXPECT_LE(fm.horizontalAdvance(check->text()), contents.width());
            EXPECT_LE(fm.height(), contents.height());
        }
        else if (auto* label = qobject_cast<QLabel*>(w))
        {
            // QLabel indents framed text by half an "x" unless told otherwise.
            const int indent = label->indent() >= 0 ? label->indent()
                               : label->frameWidth() > 0
                                   ? fm.horizontalAdvance(QLatin1Char('x')) / 2
                                   : 0;
            const QRect contents = label->contentsRect().marginsRemoved(
                QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
            EXPECT_LE(fm.horizontalAdvance(label->text()) + indent, contents.width())
                << label->text().toStdString();
            EXPECT_LE(fm.height(), contents.height());
        }
        else if (auto* box = qobject_cast<QGroupBox*>(w))
        {
            if (box->title().isEmpty())
                continue;
            const QRect title = TitleRect(box);
            EXPECT_LE(fm.horizontalAdvance(box->title()), title.width());
            EXPECT_TRUE(box->geometry().contains(title))
                << "title " << title.x() << ',' << title.y() << ' ' << title.width() << 'x'
                << title.height();
        }
        else if (auto* combo = qobject_cast<QComboBox*>(w))
        {
            // The closed box shows the longest choice whole: the style draws it one pixel in from
            // each side of the edit field and clips it there. (The opened list widens itself.)
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = false;
            option.frame = combo->hasFrame();
            const QRect field = style->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, combo);
            int longest = 0;
            QString longestText;
            for (int i = 0; i < combo->count(); ++i)
                if (fm.horizontalAdvance(combo->itemText(i)) > longest)
                    longest = fm.horizontalAdvance(combo->itemText(i)),
                    longestText = combo->itemText(i);
            EXPECT_LE(longest + 2, field.width()) << longestText.toStdString();
            EXPECT_LE(fm.height(), field.height());
        }
        else if (auto* edit = qobject_cast<CInputField*>(w))
        {
            EXPECT_LE(edit->minimumSizeHint().height(), edit->height());
        }
        else if (auto* list = qobject_cast<CCommandListBox*>(w))
        {
            EXPECT_LE(fm.height(), list->visualRect(list->model()->index(0, 0)).height());
        }
        else if (auto* view = qobject_cast<CReceiveView*>(w))
        {
            EXPECT_LE(QFontMetrics(view->font()).height(), view->RowHeight());
            const QRect lastColumn = view->CharacterRect(view->Columns() - 1);
            EXPECT_LE(lastColumn.right(), view->viewport()->rect().right());
        }
    }
}

TEST_F(TerminalLayout, NoControlsOverlapExceptWhereAFrameHoldsThem)
{
    // The hidden banner label counts: the banner is painted into its rectangle.
    struct Placed
    {
        const char* name;
        QRect rect;
        QGroupBox* frame;
    };
    std::vector<Placed> placed;
    for (const ControlSpec& control : kTerminalControls)
    {
        QWidget* w = Control(control);
        ASSERT_NE(w, nullptr) << control.objectName;
        placed.push_back({control.objectName, w->geometry(), qobject_cast<QGroupBox*>(w)});
        EXPECT_TRUE(m_dlg->rect().contains(w->geometry())) << control.objectName;
    }
    for (std::size_t i = 0; i < placed.size(); ++i)
        for (std::size_t j = i + 1; j < placed.size(); ++j)
        {
            const Placed &a = placed[i], &b = placed[j];
            if (!a.rect.intersects(b.rect))
                continue;
            if ((a.frame == nullptr) == (b.frame == nullptr))
            {
                ADD_FAILURE() << a.name << " and " << b.name << " overlap";
                continue;
            }
            // One is a frame: the other lies wholly inside it and clear of its title.
            const Placed& frame = a.frame != nullptr ? a : b;
            const Placed& inner = a.frame != nullptr ? b : a;
            EXPECT_TRUE(frame.rect.contains(inner.rect))
                << inner.name << " sticks out of " << frame.name;
            EXPECT_FALSE(TitleRect(frame.frame).intersects(inner.rect))
                << inner.name << " covers the title of " << frame.name;
        }
}

TEST_F(TerminalLayout, TheMouseReachesEveryControlInsideItsFrame)
{
    // A frame stacked above the controls it holds would take their clicks.
    for (const ControlSpec& control : kTerminalControls)
    {
        QWidget* w = Control(control);
        ASSERT_NE(w, nullptr) << control.objectName;
        if (!control.visible || qobject_cast<QGroupBox*>(w) != nullptr)
            continue;
        QWidget* hit = m_dlg->childAt(w->geometry().center());
        EXPECT_TRUE(hit == w || w->isAncestorOf(hit))
            << "a click in the middle of " << control.objectName << " reaches "
            << (hit ? hit->objectName().toStdString() : "the window");
    }
}

class DarkTerminalLayout : public TerminalLayout
{
  protected:
    void SetUp() override
    {
        m_saved = QApplication::palette();
        QApplication::setPalette(DarkPalette());
        TerminalLayout::SetUp();
    }
    void TearDown() override
    {
        m_dlg.reset();
        QApplication::setPalette(m_saved);
    }

    QPalette m_saved;
};

TEST_F(DarkTerminalLayout, EveryControlPaintsItsTextReadably)
{
    // Standard controls draw with their palette: the colours they hold must keep the contrast
    // of the theme, whatever the window did to them.
    for (const ControlSpec& control : kTerminalControls)
    {
        QWidget* w = Control(control);
        ASSERT_NE(w, nullptr) << control.objectName;
        QPalette::ColorRole text = QPalette::WindowText, ground = QPalette::Window;
        switch (control.kind)
        {
        case ControlKind::PushButton:
        case ControlKind::ComboBox:
            text = QPalette::ButtonText, ground = QPalette::Button;
            break;
        case ControlKind::Edit:
        case ControlKind::ListBox:
        case ControlKind::ReceiveView:
            text = QPalette::Text, ground = QPalette::Base;
            break;
        default:
            break;
        }
        const QPalette& p = w->palette();
        EXPECT_GE(Contrast(p.color(QPalette::Active, text), p.color(QPalette::Active, ground)),
                  kReadableContrast)
            << control.objectName << ": " << Describe(p.color(QPalette::Active, text)) << " on "
            << Describe(p.color(QPalette::Active, ground));
    }
}

TEST_F(DarkTerminalLayout, PaintedTextIsReadableAndWhole)
{
    // The window draws some text itself: measure what reaches the screen.
    ASSERT_NO_FATAL_FAILURE(ShowSomeText());
    auto* view = qobject_cast<CReceiveView*>(m_dlg->GetDlgItem(IDC_RECEIVE));
    auto* list = qobject_cast<CCommandListBox*>(m_dlg->GetDlgItem(IDC_COMMANDS));
    const QRect banner = m_dlg->GetDlgItem(IDC_BANNER)->geometry();
    const struct
    {
        const char* name;
        QImage image;
    } areas[] = {
        {"receive view", view->viewport()->grab().toImage()},
        {"command list", list->viewport()->grab().toImage()},
        {"banner", m_dlg->grab(banner).toImage()},
    };
    for (const auto& area : areas)
    {
        SCOPED_TRACE(area.name);
        const Ink ink = InkOf(area.image);
        ASSERT_FALSE(ink.extent.isEmpty()) << "nothing drawn";
        EXPECT_GE(Contrast(ink.ink, ink.background), kReadableContrast)
            << Describe(ink.ink) << " on " << Describe(ink.background);
    }
    // The banner's text is not cut at its rectangle's edges.
    const Ink bannerInk = InkOf(areas[2].image);
    EXPECT_TRUE(QRect(QPoint(0, 0), areas[2].image.size())
                    .adjusted(1, 1, -1, -1)
                    .contains(bannerInk.extent))
        << "ink " << bannerInk.extent.x() << ',' << bannerInk.extent.y() << ' '
        << bannerInk.extent.width() << 'x' << bannerInk.extent.height() << " in "
        << areas[2].image.width() << 'x' << areas[2].image.height();
}
} // namespace
