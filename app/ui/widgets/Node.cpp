#include "Node.h"

Node::Node(const QString &title) : m_title(title) {}

const QString &Node::title() const
{
    return m_title;
}

Node::Children &Node::children()
{
    return m_children;
}

const Node::Children &Node::children() const
{
    return m_children;
}

QVariantMap &Node::dictionary()
{
    return m_dictionary;
}

const QVariantMap &Node::dictionary() const
{
    return m_dictionary;
}

const std::string &Node::key() const
{
    return m_key;
}

bool Node::isLeaf() const
{
    return m_isLeaf;
}

const QIcon &Node::image() const
{
    return m_image;
}

const QVariant &Node::column1() const
{
    return m_column1;
}

bool Node::enabled() const
{
    return m_enabled;
}

void Node::setChildren(Children children)
{
    m_children = std::move(children);
}

void Node::addChild(std::shared_ptr<Node> node)
{
    m_children.push_back(std::move(node));
}

Node::Children Node::childrenAsNodes() const
{
    return m_children;
}

void Node::setDictionary(const QVariantMap &dictionary)
{
    m_dictionary = dictionary;
}

void Node::setKey(const std::string &key)
{
    m_key = key;
}

void Node::setIsLeaf(bool isLeaf)
{
    m_isLeaf = isLeaf;
}

void Node::setImage(const QIcon &image)
{
    m_image = image;
}

void Node::setColumn1(const QVariant &value)
{
    m_column1 = value;
}

void Node::setEnabled(bool enabled)
{
    m_enabled = enabled;
}

QVariant Node::value(const QString &name) const
{
    if (name == QLatin1String("title"))
        return m_title;
    if (name == QLatin1String("children"))
        return QVariant::fromValue(m_children);
    if (name == QLatin1String("dictionary"))
        return m_dictionary;
    if (name == QLatin1String("key"))
        return QByteArray::fromStdString(m_key);
    if (name == QLatin1String("isLeaf"))
        return m_isLeaf;
    if (name == QLatin1String("image"))
        return m_image.isNull() ? QVariant() : QVariant(m_image);
    if (name == QLatin1String("column1"))
        return m_column1;
    if (name == QLatin1String("enabled"))
        return m_enabled;
    return {};
}

bool Node::setValue(const QString &name, const QVariant &value)
{
    const auto is = [&value](QMetaType type) { return value.metaType() == type; };
    if (name == QLatin1String("children") && is(QMetaType::fromType<Children>())) {
        const Children children = value.value<Children>();
        for (const auto &child : children) {
            if (!child)
                return false;
        }
        m_children = children;
    } else if (name == QLatin1String("dictionary") && is(QMetaType::fromType<QVariantMap>())) {
        m_dictionary = value.toMap();
    } else if (name == QLatin1String("key") && is(QMetaType::fromType<QByteArray>())) {
        m_key = value.toByteArray().toStdString();
    } else if (name == QLatin1String("key") && is(QMetaType::fromType<QString>())) {
        m_key = value.toString().toStdString();
    } else if (name == QLatin1String("isLeaf") && is(QMetaType::fromType<bool>())) {
        m_isLeaf = value.toBool();
    } else if (name == QLatin1String("image") && (!value.isValid() || is(QMetaType::fromType<QIcon>()))) {
        m_image = value.isValid() ? value.value<QIcon>() : QIcon();
    } else if (name == QLatin1String("column1")) {
        m_column1 = value;
    } else if (name == QLatin1String("enabled") && is(QMetaType::fromType<bool>())) {
        m_enabled = value.toBool();
    } else {
        return false;
    }
    return true;
}
