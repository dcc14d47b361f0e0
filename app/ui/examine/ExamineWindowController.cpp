#include "ExamineWindowController.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QTreeView>
#include <QWidget>

#include <algorithm>

#include "ui_ExamineWindowController.h"
#include "Alert.h"
#include "DirectoryIterator.h"
#include "Error.h"
#include "FolderAndName.h"
#include "ExtendedAttributeHelpers.h"
#include "GCDAdditions.h"
#include "GlobalOwner.h"
#include "NodeListModel.h"
#include "OpenPanel.h"
#include "ReaddirIterator.h"
#include "TWFileManager.h"
#include "XFSDetailsFlagItem.h"
#include "XMetadataRemover.h"

namespace
{
constexpr int examinedLevels = 2;
constexpr int warningIconSize = 32;
const QString unknown = QStringLiteral("Unknown");

bool isOptionItemLookedFor(XFSDetailsFlagItem::ItemType type)
{
    switch (type) {
    case XFSDetailsFlagItem::ItemType::legacyRootFolderItemType:
    case XFSDetailsFlagItem::ItemType::fileToDelete:
    case XFSDetailsFlagItem::ItemType::folderToDelete:
    case XFSDetailsFlagItem::ItemType::blacklist:
        return true;
    case XFSDetailsFlagItem::ItemType::legacyFileType:
    case XFSDetailsFlagItem::ItemType::userOption:
        break;
    }
    return false;
}

Node::Children nodesFor(const std::vector<ExamineWindowController::FoundItem> &items)
{
    Node::Children nodes;
    nodes.reserve(items.size());
    for (const ExamineWindowController::FoundItem &item : items) {
        auto node = std::make_shared<Node>(QString::fromStdString(item.name));
        node->setIsLeaf(true);
        node->setColumn1(QString::fromStdString(item.parent));
        nodes.push_back(std::move(node));
    }
    return nodes;
}

template <typename T>
T *outlet(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}
}

ExamineWindowController::ExamineWindowController()
{
    m_window = new QWidget;
    Ui::ExamineWindowController form;
    form.setupUi(m_window);
    m_window->installEventFilter(this);

    m_tableContainer = outlet<QWidget>(m_window, "tableContainer");
    m_table = outlet<QTreeView>(m_window, "table");
    m_aboveTableDescription = outlet<QLabel>(m_window, "aboveTableDescription");
    m_afpWarning = outlet<QWidget>(m_window, "afpWarning");
    m_warningText = outlet<QLabel>(m_window, "warningText");

    m_dataController = new NodeListModel({{QStringLiteral("Name"), QStringLiteral("title")},
                                          {QStringLiteral("Folder"), QStringLiteral("column1")}},
                                         this);
    m_dataController->setObjectName(QStringLiteral("dataController"));
    if (m_table) {
        m_table->setModel(m_dataController);
        m_table->header()->setSectionResizeMode(QHeaderView::Interactive);
        m_table->header()->resizeSection(0, 340);
    }
    if (auto *icon = outlet<QLabel>(m_window, "warningIcon"))
        icon->setPixmap(m_window->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(warningIconSize));
}

ExamineWindowController::~ExamineWindowController()
{
    // A controller still kept when the application ends goes after it: widgets cannot be
    // destroyed then, and the process is ending anyway.
    if (QCoreApplication::instance())
        delete m_window;
}

std::shared_ptr<ExamineWindowController> ExamineWindowController::create()
{
    return std::shared_ptr<ExamineWindowController>(new ExamineWindowController);
}

void ExamineWindowController::askUser()
{
    const std::optional<URL> folder = pickDirectory();
    if (!folder)
        return;
    GlobalOwner::add(shared_from_this());
    showResults(*folder);
}

std::optional<URL> ExamineWindowController::pickDirectory()
{
    OpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(false);
    if (panel.runModal() != OpenPanel::OKResponse || panel.URLs().empty())
        return std::nullopt;
    return panel.URLs().front();
}

void ExamineWindowController::showResults(const URL &url)
{
    // The scan never touches the window; the controller is only reached again on the main thread.
    const std::weak_ptr<ExamineWindowController> weakSelf = weak_from_this();
    GCDAdditions::defaultInstance().serially([weakSelf, url] {
        std::vector<FoundItem> items = examineDirectory(url, examinedLevels, 0);
        std::vector<FoundItem> attributes = examineDirectoryForAttrs(url);
        items.insert(items.end(), std::make_move_iterator(attributes.begin()),
                     std::make_move_iterator(attributes.end()));
        auto nodes = std::make_shared<Node::Children>(nodesFor(items));
        GCDAdditions::onMain([weakSelf, url, nodes] {
            if (const std::shared_ptr<ExamineWindowController> self = weakSelf.lock())
                self->displayResults(url, std::move(*nodes));
        });
    });
}

void ExamineWindowController::displayResults(const URL &url, Node::Children nodes)
{
    const std::string name = url.lastPathComponent();
    if (nodes.empty()) {
        Alert::alert(emptyResultMessage(QString::fromStdString(name)).toStdString(), "OK", std::nullopt,
                     std::nullopt, std::string(emptyResultInformativeText))
            .runModal();
        // The window is never shown, so it never closes: the controller goes now.
        GlobalOwner::remove(this);
        return;
    }

    QString kind = unknown;
    if (const std::optional<URL> volume = url.volume())
        if (const std::optional<std::string> format = volume->diskFormatRaw())
            kind = QString::fromStdString(*format);
    const std::optional<std::string> localizedName = url.value<std::string>(URLValues::localizedNameKey);
    const QString localized = localizedName ? QString::fromStdString(*localizedName) : unknown;

    if (m_aboveTableDescription)
        m_aboveTableDescription->setText(descriptionText(displayName(QString::fromStdString(name), localized), kind));

    if (TWFileManager::isHFSVolume(url.path()))
        showAppleFSWarning(true);
    else
        showAFPWarning(kind == QLatin1String("afpfs"));

    if (localizedName)
        m_window->setWindowTitle(localized);
    // The title bar's document icon is the window's icon; it offers no path menu.
    if (const std::optional<QIcon> icon = url.value<QIcon>(URLValues::effectiveIconKey); icon && !icon->isNull())
        m_window->setWindowIcon(*icon);

    m_dataController->setContent(std::move(nodes));
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void ExamineWindowController::showAFPWarning(bool show)
{
    showWarning(show, afpWarningText);
}

void ExamineWindowController::showAppleFSWarning(bool show)
{
    showWarning(show, appleFSWarningText);
}

void ExamineWindowController::showWarning(bool show, const char *text)
{
    if (!m_afpWarning)
        return;
    // The window's layout gives the table the warning's place while the warning is hidden.
    m_afpWarning->setVisible(show);
    if (show && m_warningText)
        m_warningText->setText(QString::fromUtf8(text));
}

void ExamineWindowController::windowWillClose()
{
    GlobalOwner::remove(this);
}

bool ExamineWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Close)
        windowWillClose();
    return QObject::eventFilter(watched, event);
}

std::vector<ExamineWindowController::FoundItem> ExamineWindowController::examineDirectory(const URL &url, int maxDepth,
                                                                                         int depth)
{
    return examineDirectory(url, maxDepth, depth, defaultItemNames());
}

std::vector<ExamineWindowController::FoundItem>
ExamineWindowController::examineDirectory(const URL &url, int maxDepth, int depth,
                                          const std::vector<std::string> &optionNames)
{
    if (depth >= maxDepth)
        return {};
    const readdirIterator::Results listing = readdirIterator::contentsOfDirectory(url.path());

    std::vector<FoundItem> deeper;
    for (const std::string &directory : listing.directories) {
        std::vector<FoundItem> found = examineDirectory(URL::fileURLWithPath(directory), maxDepth, depth + 1,
                                                        optionNames);
        deeper.insert(deeper.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }

    std::vector<std::string> names = XMetadataRemover::allRawValues();
    if (!TWFileManager::isHFSVolume(url.path()))
        names.insert(names.end(), optionNames.begin(), optionNames.end());

    // Every entry of the listing lies in the listed folder.
    const std::string parent = url.lastPathComponent();
    std::vector<FoundItem> items;
    const auto examine = [&](const std::vector<std::string> &entries) {
        for (const std::string &entry : entries) {
            std::string entryName = FolderAndName::nameOf(entry);
            if (entryName.starts_with("._") || std::find(names.begin(), names.end(), entryName) != names.end())
                items.push_back({std::move(entryName), parent});
        }
    };
    examine(listing.files);
    examine(listing.directories);

    items.insert(items.end(), std::make_move_iterator(deeper.begin()), std::make_move_iterator(deeper.end()));
    return items;
}

std::vector<std::string> ExamineWindowController::defaultItemNames()
{
    std::vector<std::string> names;
    for (const XFSDetailsFlagItem &item : XFSDetailsFlagItem::defaultsFlags())
        if (isOptionItemLookedFor(item.type()) && !item.fsName().empty())
            names.push_back(item.fsName());
    return names;
}

std::vector<ExamineWindowController::FoundItem> ExamineWindowController::examineDirectoryForAttrs(const URL &url)
{
    static constexpr std::string_view applePrefix = "com.apple.";
    const std::string rootName = url.lastPathComponent();
    std::vector<FoundItem> items;
    DirectoryIterator iterator;
    for (const FSItemAndAttrs &entry : iterator.contentsOfDirectoryAtPath(url.path())) {
        if (!entry.fullPath)
            continue;
        std::vector<std::string> attributes;
        try {
            attributes = listExtendedAttributes(*entry.fullPath);
        } catch (const Error &) {
            continue;
        }
        if (attributes.empty())
            continue;
        items.push_back({entry.name, rootName});
        for (const std::string &attribute : attributes) {
            const std::string_view shown = std::string_view(attribute).starts_with(applePrefix)
                                               ? std::string_view(attribute).substr(applePrefix.size())
                                               : std::string_view(attribute);
            items.push_back({"    " + std::string(shown), std::string()});
        }
    }
    return items;
}

QString ExamineWindowController::displayName(const QString &name, const QString &localizedName)
{
    // Only a volume's root has a name of its own, its label: the folder is named with the volume.
    return localizedName == name ? localizedName : name + QStringLiteral(" on ") + localizedName;
}

QString ExamineWindowController::descriptionText(const QString &displayName, const QString &kind)
{
    return QStringLiteral("Examine shows a small sample of the metadata Tarnwick can find and remove inside ")
           + displayName + QStringLiteral(" (") + kind + QStringLiteral(").");
}

QString ExamineWindowController::emptyResultMessage(const QString &folderName)
{
    return QStringLiteral("No metadata items found in \u201C") + folderName
           + QStringLiteral("\u201D which Tarnwick can remove.");
}

void examineUserAction()
{
    const std::shared_ptr<ExamineWindowController> controller = ExamineWindowController::create();
    controller->askUser();
}
