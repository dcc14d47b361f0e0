#include "AppDelegate.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

namespace
{
std::vector<std::string> titles(const QMenu &menu)
{
    std::vector<std::string> found;
    for (const QAction *action : menu.actions())
        found.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    return found;
}
}

TEST(AppDelegateTest, TheDockMenuIsTheStatusMenuWithoutItsVolumeRowsAndItsLastTwoItems)
{
    QMenu statusItems;
    statusItems.addAction("USB Stick");
    statusItems.addAction("Backup");
    statusItems.addSeparator();
    statusItems.addAction("Open Tarnwick");
    statusItems.addAction("Clean...");
    statusItems.addSeparator();
    statusItems.addAction("Preferences");
    statusItems.addAction("Quit Tarnwick");
    const std::vector<std::string> before = titles(statusItems);

    const std::unique_ptr<QMenu> dock = AppDelegate::dockMenuFromStatusItems(statusItems);
    EXPECT_EQ(titles(*dock), (std::vector<std::string>{"Open Tarnwick", "Clean...", "-"}));
    EXPECT_EQ(titles(statusItems), before) << "the status menu itself keeps every item";

    // The copy's items are the status menu's commands.
    int opened = 0;
    QObject::connect(statusItems.actions()[3], &QAction::triggered, [&opened] { ++opened; });
    dock->actions().constFirst()->trigger();
    EXPECT_EQ(opened, 1);
}

TEST(AppDelegateTest, ADockMenuOfAStatusMenuWithoutCommandsIsEmpty)
{
    QMenu rowsOnly;
    rowsOnly.addAction("USB Stick");
    EXPECT_TRUE(AppDelegate::dockMenuFromStatusItems(rowsOnly)->actions().isEmpty());
    QMenu separatorAndOne;
    separatorAndOne.addSeparator();
    separatorAndOne.addAction("Quit Tarnwick");
    EXPECT_TRUE(AppDelegate::dockMenuFromStatusItems(separatorAndOne)->actions().isEmpty());
}
