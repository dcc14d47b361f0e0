#pragma once

#include <QIcon>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <string>
#include <vector>

// An outline row: the main window's source list and details checklist and the
// Examine window show trees of nodes. Every property but the title can also be
// read and written by name, for models that take their columns by key.
class Node
{
public:
    using Children = std::vector<std::shared_ptr<Node>>;

    explicit Node(const QString &title);
    Node() = delete;
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    const QString &title() const;

    Children &children();
    const Children &children() const;
    void setChildren(Children children);
    void addChild(std::shared_ptr<Node> node);
    Children childrenAsNodes() const;

    QVariantMap &dictionary();
    const QVariantMap &dictionary() const;
    void setDictionary(const QVariantMap &dictionary);

    // What the row stands for: a record's storage key, an option's unique key, "schedule". Kept
    // as the bytes it was given: a storage key holds a path, which need not be UTF-8.
    const std::string &key() const;
    void setKey(const std::string &key);

    bool isLeaf() const;
    void setIsLeaf(bool isLeaf);

    // A null icon is no image.
    const QIcon &image() const;
    void setImage(const QIcon &image);

    // The second column's value; invalid when there is none.
    const QVariant &column1() const;
    void setColumn1(const QVariant &value);

    // The row's checkbox.
    bool enabled() const;
    void setEnabled(bool enabled);

    // Key-value access: "title", "children", "dictionary", "key", "isLeaf",
    // "image", "column1", "enabled". An unknown name reads as invalid. The key reads as its
    // bytes (a QByteArray) and is written from bytes or from text.
    QVariant value(const QString &name) const;
    // False, changing nothing, for an unknown name, the title, or a value of the wrong type.
    bool setValue(const QString &name, const QVariant &value);

private:
    const QString m_title;
    Children m_children;
    QVariantMap m_dictionary;
    std::string m_key;
    bool m_isLeaf = false;
    QIcon m_image;
    QVariant m_column1;
    bool m_enabled = false;
};

Q_DECLARE_METATYPE(Node::Children)
