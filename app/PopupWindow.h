#pragma once

#include <QDialog>

class QVBoxLayout;
class PopupWindowTitle;

// The frame every dialog of the program shares: a frameless dialog with its
// own title bar (logo, title, close button), a white background and a thin
// blue border. Subclasses put their content into contentLayout(), which sits
// centred vertically below the title bar.
class PopupWindow : public QDialog
{
    Q_OBJECT
public:
    explicit PopupWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    QVBoxLayout* contentLayout() const { return m_contentLayout; }
    PopupWindowTitle* titleBar() const { return m_title; }
    // Moves the dialog to the middle of `widget`'s window (a dialog without
    // a parent would open wherever the window system puts it).
    void centreOver(const QWidget* widget);

public slots:
    // Ends the dialog with 0: the close button, Escape and "cancel".
    void reject() override;
    void onMaxWin(bool bMax);

signals:
    void sigEnableCloseBtn(bool enable);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_contentLayout;
    QVBoxLayout* m_outerLayout;
    PopupWindowTitle* m_title;
};
