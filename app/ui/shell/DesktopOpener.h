#pragma once

#include <functional>
#include <memory>
#include <string>

class QUrl;

// Opens files in the application the desktop has for their kind. Whether anything took the file
// is learnt afterwards, on the main thread: the desktop's opener may need a moment to find out.
// Tests register an opener of their own.
class DesktopOpener
{
public:
    using Opened = std::function<void(bool opened)>;

    virtual ~DesktopOpener();

    // Hands the file to the desktop; later, opened(false) when nothing could open it. Main thread.
    virtual void openFile(const std::string &path, Opened opened) = 0;

    // The registered opener; the desktop's own (xdg-open) while none is.
    static DesktopOpener &current();
    // Null puts the desktop's own back.
    static void setCurrent(std::shared_ptr<DesktopOpener> opener);

    // The file's URL, made from its path's bytes (a name that is not UTF-8 is kept).
    static QUrl fileURL(const std::string &path);
};

// The desktop's opener: xdg-open, found on the search path, which answers through its exit
// status whether an application took the file.
class XdgOpener : public DesktopOpener
{
public:
    void openFile(const std::string &path, Opened opened) override;
};
