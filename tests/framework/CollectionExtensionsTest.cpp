#include <QLocale>

#include <gtest/gtest.h>

#include "CollectionExtensions.h"
#include "HashedArray.h"

TEST(CollectionExtensions, SafeSubscriptAndWrapping)
{
    const std::vector<int> three{10, 20, 30};
    EXPECT_EQ(elementAt(three, 2), 30);
    EXPECT_EQ(elementAt(three, 3), std::nullopt);
    EXPECT_EQ(elementAt(three, -1), std::nullopt);

    EXPECT_EQ(indexAfterWrapping(three, 1), 2);
    EXPECT_EQ(indexAfterWrapping(three, 2), 0);
    EXPECT_EQ(indexAfterWrapping(three, -5), 0);
    EXPECT_EQ(indexAfterWrapping(three, PTRDIFF_MAX), 0);
    EXPECT_EQ(indexAfterWrapping(std::vector<int>{}, 0), 0);
    EXPECT_EQ(indexAfterWrapping(std::vector<int>{}, -1), 0);
}

TEST(CollectionExtensions, RemovingTakesEveryEqualElement)
{
    std::vector<std::string> names{"a", "b", "a", "c", "a"};
    EXPECT_EQ(arrayRemoving(names, std::string("a")), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(names.size(), 5u);
    removeAll(names, std::string("a"));
    EXPECT_EQ(names, (std::vector<std::string>{"b", "c"}));
}

TEST(CollectionExtensions, LocalizedSortFollowsTheLocaleNotTheBytes)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const std::vector<std::string> sorted = localizedSort({"zebra", "\xC3\xA9t\xC3\xA9", "Eagle", "apple", "eagle"});
    QLocale::setDefault(saved);
    EXPECT_EQ(sorted, (std::vector<std::string>{"apple", "eagle", "Eagle", "\xC3\xA9t\xC3\xA9", "zebra"}));
}

TEST(HashedArray, EqualItemsAreKeptOnce)
{
    HashedArray<std::string> seen;
    seen.append("x");
    seen.append("x");
    EXPECT_TRUE(seen.contains("x"));
    EXPECT_FALSE(seen.contains("y"));
    EXPECT_EQ(seen.contents().size(), 1u);
}
