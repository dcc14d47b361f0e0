#pragma once

#include <QImage>
#include <QProcess>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct xcb_connection_t;

// A private X server (Xvfb) for tests that start the real application on a real display, and a
// client connection to it that sees, closes and photographs top-level windows as a window
// manager would.
class XServer
{
public:
    XServer();
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    // Why the server could not start, empty when it runs.
    const std::string &problem() const { return m_problem; }
    // ":N"
    const std::string &display() const { return m_display; }

    struct Window
    {
        std::uint32_t id;
        std::string title;
    };
    // The mapped top-level windows with their titles (_NET_WM_NAME, else WM_NAME).
    std::vector<Window> mappedWindows() const;
    // Asks the window to close, as a window manager's close button does (WM_DELETE_WINDOW).
    void close(std::uint32_t window) const;
    // The whole screen.
    QImage screenshot() const;

private:
    std::uint32_t atom(const char *name) const;

    QProcess m_server;
    std::string m_display;
    std::string m_problem;
    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
};
