#pragma once

#include <QByteArray>
#include <QRect>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

// The program's windows as the X server sees them: found by process and title, their place, their
// pixels, and a window manager's close request. Used by the process tests and the benchmarks.
struct X11 {
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;

    X11()
    {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            c = nullptr;
            return;
        }
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~X11()
    {
        if (c)
            xcb_disconnect(c);
    }
    X11(const X11 &) = delete;
    X11 &operator=(const X11 &) = delete;

    xcb_atom_t atom(const char *name)
    {
        auto *r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    }

    QByteArray property(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type)
    {
        auto *r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, type, 0, 1024), nullptr);
        QByteArray out;
        if (r)
            out = QByteArray(static_cast<const char *>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
        std::free(r);
        return out;
    }

    // A mapped top-level window of the process with exactly this title, or 0. Without a window manager
    // the top-level windows are the root's children.
    xcb_window_t findWindow(qint64 pid, const QByteArray &title)
    {
        const xcb_atom_t netPid = atom("_NET_WM_PID"), netName = atom("_NET_WM_NAME"), utf8 = atom("UTF8_STRING");
        auto *tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        xcb_window_t found = 0;
        if (!tree)
            return 0;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
            const xcb_window_t w = children[i];
            const QByteArray p = property(w, netPid, XCB_ATOM_CARDINAL);
            if (p.size() != 4 || *reinterpret_cast<const uint32_t *>(p.constData()) != uint32_t(pid))
                continue;
            auto *attrs = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
            const bool viewable = attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attrs);
            if (viewable && property(w, netName, utf8) == title)
                found = w;
        }
        std::free(tree);
        return found;
    }

    QRect geometry(xcb_window_t w)
    {
        auto *g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
        auto *t = xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr);
        QRect r = g && t ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
        std::free(g);
        std::free(t);
        return r;
    }

    // The pixel at x, y of a window as 0xRRGGBB, or -1 (24-bit TrueColor, as Xvfb's screen).
    long pixel(xcb_window_t w, int x, int y)
    {
        auto *r = xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, int16_t(x), int16_t(y), 1, 1, ~0u), nullptr);
        long value = -1;
        if (r && xcb_get_image_data_length(r) >= 4) {
            uint32_t v = 0;
            std::memcpy(&v, xcb_get_image_data(r), 4);
            value = long(v & 0xFFFFFF);
        }
        std::free(r);
        return value;
    }

    void sendClose(xcb_window_t w)
    {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = atom("WM_PROTOCOLS");
        ev.data.data32[0] = atom("WM_DELETE_WINDOW");
        ev.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&ev));
        xcb_flush(c);
    }
};
