#include "terminal/AboutDlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace
{

QLabel* FindLabel(const CAboutDlg& dialog, bool withPixmap)
{
    for (QLabel* label : dialog.findChildren<QLabel*>())
        if (!label->pixmap().isNull() == withPixmap)
            return label;
    return nullptr;
}

// Shows the box as the user gets it: shown, active, focus on its button.
class AboutDlgTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dialog));
        m_button = m_dialog.findChild<QPushButton*>();
        ASSERT_NE(m_button, nullptr);
    }

    CAboutDlg m_dialog;
    QPushButton* m_button = nullptr;
};

TEST_F(AboutDlgTest, ShowsTitleVersionIconAndOkButton)
{
    EXPECT_EQ(m_dialog.windowTitle(), QStringLiteral("关于 Vorlanti"));

    const QLabel* version = FindLabel(m_dialog, false);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("Vorlanti 1.0 版"));

    const QLabel* icon = FindLabel(m_dialog, true);
    ASSERT_NE(icon, nullptr) << "the icon resources are not linked in";
    EXPECT_EQ(icon->size(), QSize(32, 32));

    EXPECT_EQ(m_button->text(), QStringLiteral("确定"));
    EXPECT_TRUE(m_button->isDefault());
    EXPECT_EQ(m_dialog.findChildren<QPushButton*>().size(), 1);
}

TEST_F(AboutDlgTest, ChineseTextsHaveGlyphsAndFitTheirPlaces)
{
    const QLabel* version = FindLabel(m_dialog, false);
    ASSERT_NE(version, nullptr);
    const QFontMetrics metrics(version->font());
    for (const QChar c : QStringLiteral("关于版确定"))
        EXPECT_TRUE(metrics.inFont(c)) << "no font has U+" << std::hex << int(c.unicode());

    EXPECT_LE(metrics.horizontalAdvance(version->text()), version->width());
    EXPECT_LE(metrics.height(), version->height());
    EXPECT_LE(QFontMetrics(m_button->font()).horizontalAdvance(m_button->text()),
              m_button->width());
    EXPECT_TRUE(m_dialog.rect().contains(m_button->geometry()));
    EXPECT_TRUE(m_dialog.rect().contains(version->geometry()));
    EXPECT_LT(version->geometry().right(), m_button->geometry().left());
}

TEST_F(AboutDlgTest, OkButtonCloses)
{
    QTest::mouseClick(m_button, Qt::LeftButton);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
}

TEST_F(AboutDlgTest, EnterCloses)
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
}

TEST_F(AboutDlgTest, EscapeCloses)
{
    m_dialog.setResult(QDialog::Accepted);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), QDialog::Rejected);
}

} // namespace
