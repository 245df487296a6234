// The window's own looks and its About box: the banner painted in its hidden label's
// rectangle, the window icon, and the About entry of the context menu, reached by mouse and
// by keyboard.
#include "ModalWatcher.h"
#include "PtyDevice.h"
#include "commands/CommandListBox.h"
#include "res/Icons.h"
#include "terminal/AboutDlg.h"
#include "terminal/ControlIds.h"
#include "terminal/InputField.h"
#include "terminal/TerminalDlg.h"
#include "terminal/TerminalLayout.h"

#include <QAccessible>
#include <QAction>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace
{
class BannerAndAbout : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_dlg = std::make_unique<CTerminalDlg>(m_tree.Roots());
        m_dlg->show();
        QApplication::setActiveWindow(m_dlg.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    }

    // Where the window paints pure banner blue, in window coordinates: the bounding box of
    // those pixels inside `inside`, and how many lie outside it.
    struct BlueInk
    {
        QRect box;
        int outside = 0;
    };
    BlueInk FindBlue(const QRect& inside)
    {
        const QImage image = m_dlg->grab().toImage();
        const qreal ratio = image.devicePixelRatio();
        BlueInk ink;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
            {
                const QRgb c = image.pixel(x, y);
                if (qBlue(c) < 200 || qRed(c) > 100 || qGreen(c) > 100)
                    continue;
                const QPoint at(qFloor(x / ratio), qFloor(y / ratio));
                if (inside.contains(at))
                    ink.box |= QRect(at, QSize(1, 1));
                else
                    ++ink.outside;
            }
        return ink;
    }

    QLabel* Banner() { return qobject_cast<QLabel*>(m_dlg->GetDlgItem(IDC_BANNER)); }

    // A point of the window's own background, clear of every control.
    QPoint Background()
    {
        const QPoint corner(m_dlg->width() - 2, m_dlg->height() - 2);
        EXPECT_EQ(m_dlg->childAt(corner), nullptr);
        return corner;
    }

    // The About entry as the context menu shows it, checked, then chosen by a click.
    static void ChooseAbout(QWidget* top)
    {
        auto* menu = qobject_cast<QMenu*>(top);
        ASSERT_NE(menu, nullptr);
        const QList<QAction*> actions = menu->actions();
        ASSERT_GE(actions.size(), 2);
        QAction* about = actions.last();
        EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
        EXPECT_EQ(about->text(), QStringLiteral("关于 Vorlanti(&A)..."));
        EXPECT_EQ(about->data().toInt(), 16);
        // Assistive technology reads the entry as part of the menu shown now.
        QAccessibleInterface* entry = QAccessible::queryAccessibleInterface(menu)->child(1);
        QAccessibleInterface* shownIn = entry != nullptr ? entry->parent() : nullptr;
        EXPECT_TRUE(shownIn != nullptr && shownIn->object() == menu);
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                          menu->actionGeometry(about).center());
    }

    // Closes the About box with its button; true when it was the About box.
    static bool CloseAbout(QWidget* top)
    {
        auto* about = qobject_cast<CAboutDlg*>(top);
        if (about == nullptr)
            return false;
        EXPECT_EQ(about->windowTitle(), QStringLiteral("关于 Vorlanti"));
        QTest::mouseClick(about->findChild<QPushButton*>(), Qt::LeftButton);
        return true;
    }

    CDeviceTree m_tree;
    std::unique_ptr<CTerminalDlg> m_dlg;
};

TEST_F(BannerAndAbout, TheBannerIsBlueCentredInItsRectangleAndNowhereElse)
{
    ASSERT_FALSE(Banner()->isVisible());
    ASSERT_EQ(Banner()->text(), "Tessaloriant");
    EXPECT_NEAR(QFontMetrics(BannerFont()).height(), kBannerCellHeight, 1);

    const QRect rect = Banner()->geometry();
    const BlueInk ink = FindBlue(rect);
    ASSERT_FALSE(ink.box.isEmpty()) << "no banner";
    EXPECT_EQ(ink.outside, 0);
    EXPECT_NEAR(ink.box.center().x(), rect.center().x(), 3);
    EXPECT_NEAR(ink.box.center().y(), rect.center().y(), 3);
    EXPECT_LE(ink.box.height(), kBannerCellHeight);
}

TEST_F(BannerAndAbout, ABannerWiderThanItsRectangleIsCutNotWrapped)
{
    Banner()->setText("Tessaloriant Tessaloriant Tessaloriant");
    const QRect rect = Banner()->geometry();
    const BlueInk ink = FindBlue(rect);
    EXPECT_EQ(ink.outside, 0);
    EXPECT_LE(ink.box.left() - rect.left(), 1);
    EXPECT_LE(rect.right() - ink.box.right(), 1);
    EXPECT_LE(ink.box.height(), kBannerCellHeight);
}

TEST_F(BannerAndAbout, TheWindowShowsTheProgramsIcon)
{
    const QIcon icon = m_dlg->windowIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 32, 48})
        EXPECT_EQ(icon.pixmap(size).toImage(), VorlantiIcon().pixmap(size).toImage()) << size;
}

TEST_F(BannerAndAbout, TheContextMenuOpensTheAboutBoxAndClosingItChangesNothing)
{
    auto* list = qobject_cast<CCommandListBox*>(m_dlg->GetDlgItem(IDC_COMMANDS));
    auto* input = qobject_cast<CInputField*>(m_dlg->GetDlgItem(IDC_INPUT));
    list->AddCommand("0102");
    input->SetText("typed");
    input->setFocus();

    bool aboutShown = false;
    // Through the window system, which turns a right-click into a context menu request.
    WhileRunning(
        [&] {
            QTest::mouseClick(m_dlg->windowHandle(), Qt::RightButton, Qt::NoModifier, Background());
        },
        [&](QWidget* top)
        {
            if (!(aboutShown = CloseAbout(top)))
                ChooseAbout(top);
        });
    EXPECT_TRUE(aboutShown);

    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_EQ(input->Text(), "typed");
    ASSERT_EQ(list->commands().Count(), 1);
    EXPECT_EQ(list->commands().Line(0), "0102");
    EXPECT_EQ(list->selectionModel()->selectedIndexes().size(), 0);
    EXPECT_FALSE(m_dlg->IsPortOpen());
}

TEST_F(BannerAndAbout, TheAboutBoxIsReachableFromTheKeyboard)
{
    auto* input = qobject_cast<CInputField*>(m_dlg->GetDlgItem(IDC_INPUT));
    input->setFocus();
    bool aboutShown = false;
    WhileRunning([&] { QTest::keyClick(input, Qt::Key_A, Qt::AltModifier); },
                 [&](QWidget* top) { aboutShown = CloseAbout(top); });
    EXPECT_TRUE(aboutShown);
    EXPECT_TRUE(input->Text().isEmpty());

    // Shift+F10 is the Menu key: on a control with no menu of its own, the window's, on every
    // opening.
    for (const int id : {IDC_OPEN_PORT, IDC_PORT, IDC_BAUDRATE, IDC_FLOW, IDC_DTR, IDC_COMMANDS})
    {
        QWidget* control = m_dlg->GetDlgItem(id);
        SCOPED_TRACE(control->objectName().toStdString());
        control->setFocus();
        aboutShown = false;
        WhileRunning([&] { QTest::keyClick(control, Qt::Key_F10, Qt::ShiftModifier); },
                     [&](QWidget* top)
                     {
                         if (!(aboutShown = CloseAbout(top)))
                             ChooseAbout(top);
                     });
        EXPECT_TRUE(aboutShown);
    }
}
} // namespace
