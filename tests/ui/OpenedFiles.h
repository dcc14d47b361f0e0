#pragma once

#include <QObject>
#include <QUrl>

#include <vector>

// Stands in for the desktop while it lives: records the files it was asked to open.
class OpenedFiles : public QObject
{
    Q_OBJECT

public:
    OpenedFiles();
    ~OpenedFiles() override;

    std::vector<QUrl> opened;

public slots:
    void open(const QUrl &url);
};
