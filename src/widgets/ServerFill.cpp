#include "ServerFill.h"

#include <QGuiApplication>
#include <QThread>
#include <bit>
#include <cstdlib>
#include <optional>
#include <unordered_map>
#include <xcb/xcb.h>

namespace {
// Requests wait in xcb's buffer until the events already queued have run, or until the batch open now
// ends, so the lamps of one tick go out in one write.
bool flushPending = false;
// The event loop level the open batch was opened at, -1 without one: a dialog's loop run from inside the
// batch sends its own requests as though there were none.
int batchLevel = -1;
xcb_connection_t *batchConnection = nullptr; // the connection a request waits on in the open batch

int loopLevel()
{
    return QThread::currentThread()->loopLevel();
}

void sendLater(xcb_connection_t *c)
{
    if (batchLevel >= 0 && batchLevel == loopLevel()) {
        batchConnection = c;
        return;
    }
    if (flushPending)
        return;
    if (!qApp) {
        xcb_flush(c);
        return;
    }
    flushPending = true;
    QMetaObject::invokeMethod(
        qApp,
        [c] {
            flushPending = false;
            xcb_flush(c);
        },
        Qt::QueuedConnection);
}

// Errors of our requests (the top-level's X window destroyed under us) are dropped, not reported as Qt's.
void quiet(xcb_connection_t *c, xcb_void_cookie_t cookie)
{
    xcb_discard_reply(c, cookie.sequence);
}

std::optional<ServerFill::PixelFormat> formatOf(xcb_connection_t *c, xcb_window_t window)
{
    // One question per top-level window; the answers stay small, as the windows are few.
    static std::unordered_map<xcb_window_t, std::optional<ServerFill::PixelFormat>> known;
    if (auto found = known.find(window); found != known.end())
        return found->second;
    auto *attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    if (!attributes)
        return std::nullopt; // not cached: the window may not exist yet on the server
    const xcb_visualid_t visual = attributes->visual;
    std::free(attributes);
    std::optional<ServerFill::PixelFormat> format;
    for (auto screen = xcb_setup_roots_iterator(xcb_get_setup(c)); screen.rem && !format; xcb_screen_next(&screen))
        for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem && !format; xcb_depth_next(&depth))
            for (auto v = xcb_depth_visuals_iterator(depth.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id != visual)
                    continue;
                if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && depth.data->depth <= 32) {
                    ServerFill::PixelFormat f;
                    f.red = v.data->red_mask;
                    f.green = v.data->green_mask;
                    f.blue = v.data->blue_mask;
                    const uint32_t all = depth.data->depth == 32 ? ~0u : (1u << depth.data->depth) - 1;
                    f.other = all & ~(f.red | f.green | f.blue);
                    format = f;
                }
                break;
            }
    known[window] = format;
    return format;
}

uint32_t place(uint32_t value8, uint32_t mask)
{
    if (!mask)
        return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t top = mask >> shift;
    return ((value8 * top + 127) / 255) << shift & mask;
}
} // namespace

ServerFill::Batch::Batch() : outer_(batchLevel)
{
    batchLevel = loopLevel();
}

ServerFill::Batch::~Batch()
{
    batchLevel = outer_;
    if (batchConnection && qApp)
        xcb_flush(batchConnection);
    batchConnection = nullptr;
}

uint32_t ServerFill::PixelFormat::pixel(uint32_t bgr) const
{
    return place(bgr & 0xff, red) | place((bgr >> 8) & 0xff, green) | place((bgr >> 16) & 0xff, blue) | other;
}

std::unique_ptr<ServerFill> ServerFill::create(const QWidget &topLevel, uint32_t bgr)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    const WId parent = topLevel.internalWinId();
    if (!c || !parent)
        return nullptr;
    const auto format = formatOf(c, xcb_window_t(parent));
    if (!format)
        return nullptr;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t background = format->pixel(bgr);
    // Unmapped and 1 x 1 until placed; no input selected, so the pointer's events go to the top-level as
    // though this window were not there.
    quiet(c, xcb_create_window_checked(c, XCB_COPY_FROM_PARENT, window, xcb_window_t(parent), 0, 0, 1, 1, 0,
                                       XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL,
                                       &background));
    sendLater(c);
    return std::unique_ptr<ServerFill>(new ServerFill(c, parent, window, *format, bgr));
}

ServerFill::ServerFill(xcb_connection_t *connection, WId parent, uint32_t window, const PixelFormat &format,
                       uint32_t bgr)
    : connection_(connection), parent_(parent), window_(window), format_(format), background_(format.pixel(bgr)),
      shownBackground_(background_)
{
}

ServerFill::~ServerFill()
{
    if (!qApp)
        return; // the connection, and our window with it, went with the application
    quiet(connection_, xcb_destroy_window_checked(connection_, window_));
    sendLater(connection_);
}

void ServerFill::setColor(uint32_t bgr)
{
    background_ = format_.pixel(bgr);
    if (!visible_ || background_ == shownBackground_)
        return;
    // The lamps' busiest path, so unchecked: a checked request with its error discarded costs some 16 us
    // against 0.4 us. While mapped, the window is alive: Qt hides the lamps before it takes a top-level's
    // X window away.
    shownBackground_ = background_;
    xcb_change_window_attributes(connection_, window_, XCB_CW_BACK_PIXEL, &background_);
    xcb_clear_area(connection_, 0, window_, 0, 0, 0, 0);
    sendLater(connection_);
}

void ServerFill::setGeometry(const QRect &logical, qreal ratio)
{
    // Both edges scaled and rounded, as Qt's own painting of the rectangle at this ratio would fall.
    const int left = qRound(logical.left() * ratio), top = qRound(logical.top() * ratio);
    const int right = qRound((logical.right() + 1) * ratio), bottom = qRound((logical.bottom() + 1) * ratio);
    const QRect device(left, top, right - left, bottom - top);
    if (device == geometry_)
        return;
    geometry_ = device;
    if (device.isEmpty()) {
        setVisible(false);
        return;
    }
    const uint32_t values[] = {uint32_t(int32_t(device.x())), uint32_t(int32_t(device.y())), uint32_t(device.width()),
                               uint32_t(device.height())};
    quiet(connection_, xcb_configure_window_checked(connection_, window_,
                                                    XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y |
                                                        XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                                    values));
    sendLater(connection_);
}

void ServerFill::setVisible(bool visible)
{
    visible = visible && !geometry_.isEmpty();
    if (visible == visible_)
        return;
    visible_ = visible;
    if (visible && background_ != shownBackground_) {
        shownBackground_ = background_;
        quiet(connection_, xcb_change_window_attributes_checked(connection_, window_, XCB_CW_BACK_PIXEL, &background_));
    }
    quiet(connection_,
          visible ? xcb_map_window_checked(connection_, window_) : xcb_unmap_window_checked(connection_, window_));
    sendLater(connection_);
}
