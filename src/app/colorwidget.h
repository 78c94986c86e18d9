#pragma once

#include <QColor>
#include <QFrame>

class QColorDialog;

// A colour swatch: a framed rectangle painted in its colour. A mouse press opens a colour picker
// (window-modal, returning at once) that changes the colour live; cancelling the picker puts the
// colour back to the one it had when the picker opened.
class ColorWidget : public QFrame
{
    Q_OBJECT

public:
    explicit ColorWidget(QWidget *parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~ColorWidget() override;

    QColor currentColor() const;
    // Makes color the picker's colour and repaints; a change emits currentColorChanged.
    void setCurrentColor(const QColor &color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void currentColorChanged(const QColor &color);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_colorDialog_currentColorChanged(const QColor &color);
    void on_colorDialog_finished(int result);

private:
    QColorDialog *m_colorDialog;
    QColor m_oldColor;
};
