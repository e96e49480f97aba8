#pragma once

#include <QWidget>
#include <cstdint>

// A plain opaque rectangle whose colour is its state. Repaints only when the colour changes.
class Lamp : public QWidget {
    Q_OBJECT
public:
    explicit Lamp(QWidget *parent, const QString &name, uint32_t bgr);

    uint32_t color() const { return color_; }
    void setColor(uint32_t bgr);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    uint32_t color_;
};
