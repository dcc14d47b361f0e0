#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include "DragURL.h"

TEST(DragURL, FirstLocalFileURLOfTheDrag)
{
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/media/user/My Disk"), QUrl::fromLocalFile("/tmp")});
    EXPECT_EQ(urlFromDrag(&files), "/media/user/My Disk");

    QMimeData rawBytes;
    rawBytes.setData("text/uri-list", "file:///tmp/caf%C3%A9%FF\r\n");
    EXPECT_EQ(urlFromDrag(&rawBytes), "/tmp/caf\xC3\xA9\xFF") << "bytes that are not UTF-8 survive";
}

TEST(DragURL, NothingWithoutALocalURL)
{
    EXPECT_EQ(urlFromDrag(nullptr), std::nullopt);

    QMimeData text;
    text.setText("/tmp");
    EXPECT_EQ(urlFromDrag(&text), std::nullopt);

    QMimeData web;
    web.setUrls({QUrl("https://example.org/file"), QUrl::fromLocalFile("/tmp")});
    EXPECT_EQ(urlFromDrag(&web), std::nullopt);

    QMimeData remoteHost;
    remoteHost.setData("text/uri-list", "file://server/share/file\r\n");
    EXPECT_EQ(urlFromDrag(&remoteHost), std::nullopt);
}
