#pragma once

#include <QPoint>
#include <QWidget>

class QLabel;
class QPushButton;

// A close bar laid over a popup's own title bar, so that the popup can route
// its close button through a handler of its own (closeWind()): the name
// "Orvik" in an orange frame, a "close" button and a line under both.
// Dragging the bar with the left button moves the popup, as its title bar
// would.
class CPopParentWind : public QWidget
{
    Q_OBJECT
public:
    explicit CPopParentWind(QWidget* parent);

    QLabel* nameLabel() const { return m_name; }
    QPushButton* closeButton() const { return m_close; }

public slots:
    void onCloseWind();

signals:
    void closeWind();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QLabel* m_name;
    QPushButton* m_close;
    bool m_pressed = false;
    QPoint m_pressPos;
};
