#include "XServer.h"

#include <QStandardPaths>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "TestSupport.h"

namespace
{
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> reply(T *pointer)
{
    return Reply<T>(pointer, &std::free);
}
}

XServer::XServer()
{
    const QString executable = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (executable.isEmpty()) {
        m_problem = "Xvfb is not installed (scripts/install-dependencies installs it)";
        return;
    }
    // A display number nobody uses; a few tries, since parallel tests may race for one.
    for (int attempt = 0, number = 200 + getpid() % 500; attempt < 20; ++attempt, ++number) {
        if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))
            || std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock"))
            continue;
        m_display = ":" + std::to_string(number);
        m_server.start(executable, {QString::fromStdString(m_display), "-screen", "0", "1024x768x24", "-nolisten",
                                    "tcp"});
        if (!m_server.waitForStarted(10000))
            continue;
        const bool reachable = runEventLoopUntil([this] {
            if (m_server.state() == QProcess::NotRunning)
                return true;
            xcb_connection_t *connection = xcb_connect(m_display.c_str(), nullptr);
            if (xcb_connection_has_error(connection)) {
                xcb_disconnect(connection);
                return false;
            }
            m_connection = connection;
            return true;
        });
        if (reachable && m_connection) {
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
            return;
        }
        m_server.kill();
        m_server.waitForFinished(10000);
    }
    m_problem = "Xvfb did not start: " + m_server.readAllStandardError().toStdString();
    m_display.clear();
}

XServer::~XServer()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(10000)) {
            m_server.kill();
            m_server.waitForFinished(10000);
        }
    }
}

std::uint32_t XServer::atom(const char *name) const
{
    auto answer = reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return answer ? answer->atom : static_cast<std::uint32_t>(XCB_ATOM_NONE);
}

std::vector<XServer::Window> XServer::mappedWindows() const
{
    std::vector<Window> windows;
    if (!m_connection)
        return windows;
    auto tree = reply(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
    if (!tree)
        return windows;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const std::uint32_t utf8 = atom("UTF8_STRING");
    const std::uint32_t netName = atom("_NET_WM_NAME");
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        auto attributes = reply(xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, children[i]), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        std::string title;
        for (const auto &[property, type] : {std::pair{netName, utf8}, std::pair<std::uint32_t, std::uint32_t>{
                                                                            XCB_ATOM_WM_NAME, XCB_ATOM_STRING}}) {
            auto value = reply(xcb_get_property_reply(
                m_connection, xcb_get_property(m_connection, 0, children[i], property, type, 0, 1024), nullptr));
            if (value && xcb_get_property_value_length(value.get()) > 0) {
                title.assign(static_cast<const char *>(xcb_get_property_value(value.get())),
                             static_cast<std::size_t>(xcb_get_property_value_length(value.get())));
                break;
            }
        }
        windows.push_back({children[i], title});
    }
    return windows;
}

void XServer::close(std::uint32_t window) const
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(m_connection);
}

QImage XServer::screenshot() const
{
    if (!m_connection)
        return {};
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    auto image = reply(xcb_get_image_reply(m_connection,
                                           xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, 0, 0,
                                                         screen->width_in_pixels, screen->height_in_pixels, ~0u),
                                           nullptr));
    if (!image)
        return {};
    // A 24-bit screen's pixels come as 32-bit words, blue first.
    const QImage view(xcb_get_image_data(image.get()), screen->width_in_pixels, screen->height_in_pixels,
                      QImage::Format_RGB32);
    return view.copy();
}
