#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// A close bar laid over a popup's own title bar, so that the popup can route
// its close button through a handler of its own (closeWind()).
class CPopParentWind : public QWidget
{
    Q_OBJECT
public:
    explicit CPopParentWind(QWidget* parent);

    QPushButton* closeButton() const { return m_closeButton; }

public slots:
    void onCloseWind();

signals:
    void closeWind();

private:
    QLabel* m_nameLabel;
    QPushButton* m_closeButton;
};
