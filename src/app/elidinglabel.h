#pragma once

#include <QLabel>

// A label whose text that does not fit is shortened with an ellipsis where the elide mode says.
// Movies, pictures and pixmaps are shown as a plain label shows them.
class ElidingLabel : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(Qt::TextElideMode elideMode READ elideMode WRITE setElideMode)

public:
    explicit ElidingLabel(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    explicit ElidingLabel(const QString &text, QWidget *parent = nullptr,
                          Qt::WindowFlags flags = Qt::WindowFlags());

    Qt::TextElideMode elideMode() const { return m_elideMode; }
    // Stores the mode; the next repaint uses it.
    void setElideMode(Qt::TextElideMode mode) { m_elideMode = mode; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Qt::TextElideMode m_elideMode = Qt::ElideRight;
};
