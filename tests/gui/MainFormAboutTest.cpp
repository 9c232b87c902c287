#include "app/AboutBox.h"

#include <QFrame>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

TEST(AboutBox, ShowsTheProductAndVersion)
{
    TAboutBox about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(about.size(), QSize(336, 208));
    EXPECT_EQ(about.ProductName->text(), QStringLiteral("Product Name:"));
    EXPECT_EQ(about.ProductNameValue->text(), QStringLiteral("Mirava"));
    EXPECT_TRUE(about.ProductNameValue->font().bold());
    EXPECT_EQ(about.VersionValue->text(), QStringLiteral("Demo"));
    EXPECT_EQ(about.ProgramIcon->size(), QSize(73, 89));
    EXPECT_FALSE(about.isVisible()); // created hidden
}

TEST(AboutBox, AClickOnALabelLeavesItOpenAClickOnThePanelClosesIt)
{
    TAboutBox about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    for (QLabel* label : { about.ProductName, about.ProductNameValue, about.Version, about.VersionValue })
        QTest::mouseClick(label, Qt::LeftButton, {}, label->rect().center());
    EXPECT_TRUE(about.isVisible());

    QTest::mouseClick(about.Panel1, Qt::LeftButton, {}, QPoint(250, 160));
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);

    about.show();
    QTest::mouseClick(about.ProgramIcon, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_FALSE(about.isVisible());

    about.show();
    QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(2, 2)); // the dialog's own border
    EXPECT_FALSE(about.isVisible());
}
