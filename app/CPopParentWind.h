#pragma once

#include <QWidget>

class PopupWindowTitle;
class QPushButton;

// A close bar laid over a popup's own title bar, so that the popup can route
// its close button through a handler of its own (closeWind()). It looks and
// drags like the title bar it covers: the logo, the program's name and the
// cross.
class CPopParentWind : public QWidget
{
    Q_OBJECT
public:
    explicit CPopParentWind(QWidget* parent);

    QPushButton* closeButton() const;

public slots:
    void onCloseWind();

signals:
    void closeWind();

private:
    PopupWindowTitle* m_title;
};
