#pragma once

#include <QPushButton>
#include <cstdint>

// A push button whose face is painted in its own colour, drawn raised and sunk when pressed.
// Captions may hold CR LF for two lines.
class ColorButton : public QPushButton {
    Q_OBJECT
public:
    ColorButton(QWidget *parent, const QString &name, const QString &caption, uint32_t faceBgr);

    uint32_t faceColor() const { return face_; }
    void setFaceColor(uint32_t bgr);
    // The caption as the program set it, CR LF included.
    QString caption() const { return caption_; }
    void setCaption(const QString &caption);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    uint32_t face_;
    QString caption_;
};
