#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

class ServerFill;

// A plain opaque rectangle whose colour is its state. Where nothing lies over it, the X server fills it by
// itself (see ServerFill), and a change of colour paints nothing here; otherwise Qt repaints it, and only
// when the colour changes.
class Lamp : public QWidget {
    Q_OBJECT
public:
    explicit Lamp(QWidget *parent, const QString &name, uint32_t bgr);
    ~Lamp() override;

    uint32_t color() const { return color_; }
    void setColor(uint32_t bgr);

    // Whether the X server fills this lamp now.
    bool drawnByServer() const { return server_ != nullptr; }
    // Whether lamps shown from now on may be filled by the X server; on by default.
    static void setServerDrawing(bool allowed);

signals:
    void clicked();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void showOnServer();
    bool coveredBySibling() const;
    QRect rectInWindow() const;

    uint32_t color_;
    std::unique_ptr<ServerFill> server_;
};
