#pragma once

#include <QRect>
#include <QWidget>
#include <cstdint>
#include <memory>

struct xcb_connection_t;

// A rectangle of a top-level window that the X server fills with one colour by itself: a child window of
// ours whose background is that colour. A change of colour is two small requests and no painting on our
// side, and the server redraws it on every expose without asking us. Whatever Qt paints in the window
// lies under it.
class ServerFill {
public:
    // How the top-level's visual packs red, green and blue into a pixel.
    struct PixelFormat {
        uint32_t red = 0, green = 0, blue = 0;
        uint32_t other = 0; // bits of the depth outside the three, as alpha: set
        uint32_t pixel(uint32_t bgr) const;
    };

    // While one is open, requests wait, and they go out in one write as it closes. A timer's tick
    // opens one around its work, so that a tick needs no further turn of the event loop to be seen.
    class Batch {
    public:
        Batch();
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        int outer_;
    };

    // Nothing unless the program runs on X, the top-level already has its X window, and that window shows
    // true colour.
    static std::unique_ptr<ServerFill> create(const QWidget &topLevel, uint32_t bgr);
    ~ServerFill();
    ServerFill(const ServerFill &) = delete;
    ServerFill &operator=(const ServerFill &) = delete;

    // The top-level X window it lives in; when Qt gives the top-level a new one, this one went with the old.
    WId parent() const { return parent_; }
    // Sent only while shown; a hidden fill shows its last colour when shown again.
    void setColor(uint32_t bgr);
    // A rectangle in the top-level's logical pixels, at its device pixel ratio.
    void setGeometry(const QRect &logical, qreal ratio);
    void setVisible(bool visible);

private:
    ServerFill(xcb_connection_t *connection, WId parent, uint32_t window, const PixelFormat &format, uint32_t bgr);

    xcb_connection_t *connection_; // Qt's own
    WId parent_;
    uint32_t window_;
    PixelFormat format_;
    uint32_t background_;      // the pixel of the colour asked for
    uint32_t shownBackground_; // the pixel the server has, sent only while the window is mapped
    QRect geometry_; // in the top-level's device pixels
    bool visible_ = false;
};
