#include "Node.h"
#include "PathToDisplayNameTransformer.h"

#include <QPixmap>
#include <gtest/gtest.h>

namespace
{
TEST(NodeTest, StartsWithTheTitleAndEverythingElseEmpty)
{
    const Node node(QStringLiteral("Disks"));
    EXPECT_EQ(node.title(), "Disks");
    EXPECT_TRUE(node.children().empty());
    EXPECT_TRUE(node.dictionary().isEmpty());
    EXPECT_TRUE(node.key().empty());
    EXPECT_FALSE(node.isLeaf());
    EXPECT_TRUE(node.image().isNull());
    EXPECT_FALSE(node.column1().isValid());
    EXPECT_FALSE(node.enabled());
}

TEST(NodeTest, KeepsItsChildrenInTheOrderAdded)
{
    Node parent(QStringLiteral("Folders"));
    auto first = std::make_shared<Node>(QStringLiteral("a"));
    auto second = std::make_shared<Node>(QStringLiteral("b"));
    parent.addChild(first);
    parent.addChild(second);
    parent.addChild(first);

    const Node::Children children = parent.childrenAsNodes();
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0], first);
    EXPECT_EQ(children[1], second);
    EXPECT_EQ(children[2], first);
}

TEST(NodeTest, ReadsAndWritesItsPropertiesByName)
{
    Node node(QStringLiteral("Schedule"));
    EXPECT_TRUE(node.setValue(QStringLiteral("key"), QStringLiteral("schedule")));
    EXPECT_TRUE(node.setValue(QStringLiteral("isLeaf"), true));
    EXPECT_TRUE(node.setValue(QStringLiteral("enabled"), true));
    EXPECT_TRUE(node.setValue(QStringLiteral("column1"), QStringLiteral("Photos")));
    EXPECT_TRUE(node.setValue(QStringLiteral("dictionary"), QVariantMap{{QStringLiteral("x"), 1}}));
    QPixmap pixmap(4, 4);
    pixmap.fill(Qt::red);
    EXPECT_TRUE(node.setValue(QStringLiteral("image"), QIcon(pixmap)));
    const Node::Children children{std::make_shared<Node>(QStringLiteral("child"))};
    EXPECT_TRUE(node.setValue(QStringLiteral("children"), QVariant::fromValue(children)));

    EXPECT_EQ(node.key(), "schedule");
    EXPECT_TRUE(node.isLeaf());
    EXPECT_TRUE(node.enabled());
    EXPECT_EQ(node.value(QStringLiteral("column1")).toString(), "Photos");
    EXPECT_EQ(node.value(QStringLiteral("dictionary")).toMap().value(QStringLiteral("x")).toInt(), 1);
    EXPECT_FALSE(node.image().isNull());
    EXPECT_EQ(node.value(QStringLiteral("children")).value<Node::Children>(), children);
    EXPECT_EQ(node.value(QStringLiteral("title")).toString(), "Schedule");
    EXPECT_EQ(node.value(QStringLiteral("isLeaf")).toBool(), true);

    EXPECT_TRUE(node.setValue(QStringLiteral("image"), QVariant()));
    EXPECT_TRUE(node.image().isNull());
    EXPECT_FALSE(node.value(QStringLiteral("image")).isValid());

    // A storage key holds a path, whose bytes need not be UTF-8: they stay as they are.
    const std::string notUtf8 = "/media/caf\xe9-STICK-msdos-512-100)";
    EXPECT_TRUE(node.setValue(QStringLiteral("key"), QByteArray::fromStdString(notUtf8)));
    EXPECT_EQ(node.key(), notUtf8);
    EXPECT_EQ(node.value(QStringLiteral("key")).toByteArray().toStdString(), notUtf8);
}

TEST(NodeTest, RefusesTheTitleUnknownNamesAndWrongTypes)
{
    Node node(QStringLiteral("Disks"));
    EXPECT_FALSE(node.setValue(QStringLiteral("title"), QStringLiteral("Other")));
    EXPECT_FALSE(node.setValue(QStringLiteral("colour"), QStringLiteral("red")));
    EXPECT_FALSE(node.setValue(QStringLiteral("enabled"), QStringLiteral("yes")));
    EXPECT_FALSE(node.setValue(QStringLiteral("key"), 42));
    EXPECT_FALSE(node.setValue(QStringLiteral("children"), QVariant::fromValue(Node::Children{nullptr})));
    EXPECT_EQ(node.title(), "Disks");
    EXPECT_FALSE(node.enabled());
    EXPECT_TRUE(node.key().empty());
    EXPECT_TRUE(node.children().empty());
    EXPECT_FALSE(node.value(QStringLiteral("colour")).isValid());
}

TEST(PathToDisplayNameTransformerTest, ShortensVolumePathsOnly)
{
    const PathToDisplayNameTransformer transformer;
    EXPECT_EQ(PathToDisplayNameTransformer::transformedValueClass(), QMetaType::fromType<QString>());
    EXPECT_EQ(transformer.transformedValue(QStringLiteral("/Volumes/XY")).toString(), "XY");
    EXPECT_EQ(transformer.transformedValue(QStringLiteral("/Volumes/Data/Folder")).toString(), "Data/Folder");
    EXPECT_EQ(transformer.transformedValue(QStringLiteral("/Volumes/X")).toString(), "/Volumes/X");
    EXPECT_EQ(transformer.transformedValue(QStringLiteral("/home/me")).toString(), "/home/me");
    EXPECT_FALSE(transformer.transformedValue(QVariant()).isValid());
    EXPECT_FALSE(transformer.transformedValue(42).isValid());
}
}
