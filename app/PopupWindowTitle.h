#pragma once

#include <QPoint>
#include <QWidget>

class QLabel;
class QPushButton;

// The title bar of a popup: logo, title and close button. Dragging it with
// the left button moves the popup.
class PopupWindowTitle : public QWidget
{
    Q_OBJECT
public:
    explicit PopupWindowTitle(QWidget* parent);

    // The program's name in the window's language, as every title bar and
    // the main window show it.
    static QString programTitle();

    QPushButton* closeButton() const { return m_closeButton; }

public slots:
    void EnableClose(bool enable);

signals:
    void sigMaxWin(bool bMax);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_pressed = false;
    QPoint m_pressPos;
    QPushButton* m_closeButton;
    QLabel* m_titleLabel;
};
