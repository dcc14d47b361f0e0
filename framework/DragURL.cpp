#include "DragURL.h"

#include <QByteArray>
#include <QList>
#include <QMimeData>
#include <QUrl>

std::optional<std::string> urlFromDrag(const QMimeData *mimeData)
{
    if (!mimeData || !mimeData->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = mimeData->urls();
    if (urls.isEmpty())
        return std::nullopt;
    const QUrl &url = urls.front();
    if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
        return std::nullopt;
    // Decoding the encoded path ourselves keeps bytes that are not UTF-8.
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}
