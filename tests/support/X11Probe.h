#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QImage>
#include <QRect>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <xcb/xcb.h>

// The program's windows as the X server sees them: found by process and title, their place, their
// pixels, which of them has the keyboard, what they copied, and a window manager's close request. Used
// by the process tests and the benchmarks.
struct X11 {
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
    xcb_window_t own = 0; // an unmapped window of ours, to own and receive the clipboard

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

    // The whole of a window as the X server shows it now, or a null image (24-bit TrueColor, as Xvfb's).
    QImage image(xcb_window_t w, QSize size)
    {
        auto *r = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 0, 0, uint16_t(size.width()), uint16_t(size.height()), ~0u),
            nullptr);
        QImage out;
        if (r && r->depth == 24 && xcb_get_image_data_length(r) == size.width() * size.height() * 4) {
            out = QImage(size, QImage::Format_RGB32);
            for (int y = 0; y < size.height(); ++y)
                std::memcpy(out.scanLine(y), xcb_get_image_data(r) + y * size.width() * 4, size_t(size.width()) * 4);
        }
        std::free(r);
        return out;
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

    // Whether the keyboard's input goes to the top-level window w or a window inside it.
    bool hasFocus(xcb_window_t w)
    {
        auto *r = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        xcb_window_t at = r ? r->focus : 0;
        std::free(r);
        while (at != 0 && at != w && at != root) {
            auto *tree = xcb_query_tree_reply(c, xcb_query_tree(c, at), nullptr);
            at = tree ? tree->parent : 0;
            std::free(tree);
        }
        return w != 0 && at == w;
    }

    // Takes the clipboard, so that a later owner proves another client copied something since.
    void takeClipboard()
    {
        if (!own) {
            own = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, own, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                              XCB_COPY_FROM_PARENT, 0, nullptr);
        }
        xcb_set_selection_owner(c, own, atom("CLIPBOARD"), XCB_CURRENT_TIME);
        xcb_flush(c);
    }

    // Whether a client other than this probe owns the clipboard.
    bool clipboardTaken()
    {
        auto *r = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom("CLIPBOARD")), nullptr);
        const bool taken = r && r->owner != 0 && r->owner != own;
        std::free(r);
        return taken;
    }

    // The clipboard's text as UTF-8, asked of its owner; empty when it answers nothing within timeoutMs.
    QByteArray clipboardText(int timeoutMs)
    {
        if (!own)
            takeClipboard();
        const xcb_atom_t into = atom("VB_PROBE_CLIPBOARD");
        xcb_convert_selection(c, own, atom("CLIPBOARD"), atom("UTF8_STRING"), into, XCB_CURRENT_TIME);
        xcb_flush(c);
        const QDeadlineTimer deadline(timeoutMs);
        bool answered = false, converted = false;
        while (!answered && !xcb_connection_has_error(c)) {
            while (xcb_generic_event_t *e = xcb_poll_for_event(c)) {
                if ((e->response_type & 0x7F) == XCB_SELECTION_NOTIFY) {
                    answered = true;
                    converted = reinterpret_cast<xcb_selection_notify_event_t *>(e)->property == into;
                }
                std::free(e);
            }
            if (answered || deadline.hasExpired())
                break;
            pollfd readable{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&readable, 1, int(deadline.remainingTime()));
        }
        if (!converted)
            return {};
        auto *r =
            xcb_get_property_reply(c, xcb_get_property(c, 1, own, into, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
        QByteArray out;
        if (r)
            out = QByteArray(static_cast<const char *>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
        std::free(r);
        return out;
    }
};
