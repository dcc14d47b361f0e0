#include "MainUIController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QPalette>
#include <QScreen>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextImageFormat>

#include "Alert.h"
#include "ApplicationInfo.h"
#include "Bundle.h"
#include "Core.h"
#include "DiagnosticsReport.h"
#include "LocalizedString.h"
#include "ModifierKeys.h"
#include "PreferencesSupport.h"
#include "SystemLog.h"
#include "TWFileManager.h"
#include "TarnwickStore.h"
#include "UserDefaults.h"
#include "WindowFadeIn.h"

namespace
{
constexpr QSize helpSheetSize(500, 425);
constexpr int helpPanelLeftOfMainWindowRight = 200;
constexpr int helpPanelBelowMainWindowTop = 70;
constexpr int wideScreenWidth = 2000;
constexpr int wideScreenExtraRight = 225;
constexpr const char *dontShowDiskImageWarningKey = "dontShowDiskImageWarning";

// The about text's grey: 0.14902 of full intensity in each channel.
const QColor aboutTextColor = QColor::fromRgbF(0.14902f, 0.14902f, 0.14902f, 1.0f);
constexpr qreal aboutTabInterval = 36.0;
constexpr qreal iconReduction = 1.25;
constexpr int iconBaseSize = 128;

// Help is written for a light page whatever the desktop's theme.
QPalette lightPalette()
{
    QPalette palette(QColor(239, 239, 239));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(245, 245, 245));
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::black);
    return palette;
}

QString helpDocument()
{
    const std::optional<std::string> path = Bundle::main().pathForResource("Help", "html");
    if (!path)
        return {};
    QFile file(QString::fromStdString(*path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QTextCharFormat aboutFormat(const QString &family, int pointSize, bool bold)
{
    QFont font(family);
    font.setPointSize(pointSize);
    font.setBold(bold);
    font.setKerning(false);
    QTextCharFormat format;
    format.setFont(font);
    format.setForeground(aboutTextColor);
    return format;
}
}

void MainUIController::helpAction(QObject *sender)
{
    if (IsOptionKeyDown()) {
        showDiagnosticInfo();
        return;
    }
    setupHelp();

    m_helpText->clear();
    m_helpText->setHtml(helpDocument());
    m_helpText->setPalette(lightPalette());
    if (auto *done = m_helpSheet->findChild<QAbstractButton *>(QStringLiteral("helpDoneButton")))
        connect(done, &QAbstractButton::clicked, this, &MainUIController::helpDoneAction, Qt::UniqueConnection);

    // A window's modality can only change while it is hidden.
    m_helpSheet->hide();
    if (sender) {
        if (m_helpDetailsContainer)
            m_helpDetailsContainer->show();
        if (m_helpTextFrame)
            m_helpText->setGeometry(*m_helpTextFrame);
        m_helpSheet->resize(helpSheetSize);
        m_helpTextFrame = m_helpText->geometry();
        // A sheet: modal to the main window, dropping from the top of its content.
        m_helpSheet->setWindowModality(Qt::WindowModal);
        const QRect content = m_window->geometry();
        m_helpSheet->move(content.x() + (content.width() - m_helpSheet->width()) / 2, content.y());
        m_helpSheet->open();
        return;
    }

    if (m_helpDetailsContainer)
        m_helpDetailsContainer->hide();
    m_helpTextFrame = m_helpText->geometry();
    m_helpText->setGeometry(m_helpTextFrame->x(), 0, m_helpTextFrame->width(), m_helpSheet->height());
    const QScreen *screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
    m_helpSheet->setWindowModality(Qt::NonModal);
    m_helpSheet->move(helpPanelTopLeft(m_window->frameGeometry(), screen ? screen->geometry().width() : 0));
    makeKeyAndOrderFrontFadeIn(m_helpSheet);
}

QPoint MainUIController::helpPanelTopLeft(const QRect &mainWindowFrame, int screenWidth)
{
    int x = mainWindowFrame.x() + mainWindowFrame.width() - helpPanelLeftOfMainWindowRight;
    if (screenWidth > wideScreenWidth)
        x += wideScreenExtraRight;
    return QPoint(x, mainWindowFrame.y() + helpPanelBelowMainWindowTop);
}

void MainUIController::helpDoneAction()
{
    m_helpSheet->done(QDialog::Accepted);
}

void MainUIController::setupHelp()
{
    if (m_helpAppName)
        m_helpAppName->setText(QApplication::applicationDisplayName());
    if (m_helpVersion)
        m_helpVersion->setText(QStringLiteral("v%1 (%2)")
                                   .arg(QString::fromStdString(Application::bundleVersionShort()))
                                   .arg(Application::bundleVersion()));
    if (m_helpCopyright)
        m_helpCopyright->setText(QString::fromStdString(Application::bundleCopyright()));
}

void MainUIController::showDiagnosticInfo()
{
    const std::string path = DiagnosticsReport::newPath();
    const std::string report = DiagnosticsReport::text(Core::buildRWVolumeURLList(), TarnwickStore::generalPreferences());
    // A report that cannot be written is not opened; the system log still gets it.
    if (DiagnosticsReport::write(path, report))
        openWithDesktop(path);
    SystemLog::write(report);
}

QString MainUIController::diagInfo(bool value, const QString &description)
{
    return QLatin1Char('\t') + description + (value ? QStringLiteral(":YES") : QStringLiteral(":NO"));
}

void MainUIController::warnIfRunningOnDiskImage()
{
    UserDefaults &defaults = PreferencesSupport::standardUserDefaults();
    if (!TWFileManager::isRunningFromDiskImage() || defaults.boolForKey(dontShowDiskImageWarningKey))
        return;
    Alert alert;
    alert.setStyle(Alert::Style::informational);
    alert.setMessageText(LSFK("Drag Tarnwick to a folder on your hard drive."));
    alert.setInformativeText(LSFK("Tarnwick appears to be running from a disk image. You should drag Tarnwick to a "
                                  "folder on your hard drive before opening it."));
    alert.setShowsSuppressionButton(true);
    alert.addButton(LSFK("Quit"));
    alert.addButton(LSFK("Continue"));
    const std::int64_t response = alert.runModal();
    if (alert.suppressionButtonChecked())
        defaults.setObject(Value(true), dontShowDiskImageWarningKey);
    if (response == Alert::firstButtonReturn) {
        // Queued, so that Quit also ends the application when the warning comes before its
        // event loop has started.
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    }
}

QTextDocumentFragment MainUIController::iconAttributedString() const
{
    const QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        return {};
    const QList<QSize> sizes = icon.availableSizes();
    const QSize base = sizes.isEmpty() ? QSize(iconBaseSize, iconBaseSize) : sizes.last();
    const QSize reduced = (QSizeF(base) / iconReduction).toSize();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    icon.pixmap(reduced).save(&buffer, "PNG");

    QTextDocument document;
    QTextCursor cursor(&document);
    QTextImageFormat image;
    image.setName(QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64()));
    image.setWidth(reduced.width());
    image.setHeight(reduced.height());
    cursor.insertImage(image);
    return QTextDocumentFragment(&document);
}

QTextDocumentFragment MainUIController::tarnwickInfoAttributedString() const
{
    QTextDocument document;
    QTextOption option = document.defaultTextOption();
    option.setTabStopDistance(aboutTabInterval);
    option.setAlignment(Qt::AlignHCenter);
    document.setDefaultTextOption(option);

    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    QList<QTextOption::Tab> tabs;
    for (int stop = 1; stop <= 12; ++stop)
        tabs.append(QTextOption::Tab(stop * aboutTabInterval, QTextOption::LeftTab));
    centred.setTabPositions(tabs);

    const QString version = QStringLiteral("Version X.X.X (XXXX)")
                                .replace(QStringLiteral("X.X.X"), QString::fromStdString(Application::bundleVersionShort()))
                                .replace(QStringLiteral("XXXX"), QString::number(Application::bundleVersion()));
    const QTextCharFormat heading = aboutFormat(QStringLiteral("Helvetica"), 14, true);
    const QTextCharFormat body = aboutFormat(QStringLiteral("Helvetica"), 12, false);
    const QTextCharFormat small = aboutFormat(QStringLiteral("Helvetica"), 10, false);

    QTextCursor cursor(&document);
    cursor.setBlockFormat(centred);
    cursor.setBlockCharFormat(body);
    // Two line breaks, the icon between them.
    cursor.insertBlock(centred, body);
    cursor.insertBlock(centred, heading);
    cursor.insertText(QStringLiteral("Tarnwick"), heading);
    cursor.insertBlock(centred, body);
    cursor.insertText(version, body);
    cursor.insertBlock(centred, body);
    cursor.insertBlock(centred, small);
    cursor.insertText(QString::fromStdString(Application::bundleCopyright()), small);
    cursor.insertBlock(centred, small);
    cursor.insertText(QStringLiteral("Additional credits below."), small);
    for (int line = 0; line < 3; ++line)
        cursor.insertBlock(centred, small);

    QTextCursor iconPosition(&document);
    iconPosition.setPosition(1);
    iconPosition.insertFragment(iconAttributedString());
    return QTextDocumentFragment(&document);
}
