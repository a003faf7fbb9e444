#pragma once

#include "app/CDialogFileChooser.h"
#include "app/ITransPage.h"
#include "disk/CPartitionList.h"

#include <QPointer>
#include <QWidget>

class CChoiceDiskWnd;
class CImagingPage;
class CParentWindow;
#include "app/Orvik.h"
class QHBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QVBoxLayout;

// The window's content: a title row (logo, title, menu, minimise, close)
// above two pages of which one is shown: the disk choice page and the scan
// and result page. Pages ask to be switched through ITransPage.
class CMainWindow : public QWidget, public ITransPage
{
    Q_OBJECT
public:
    // `probes`, when given, replaces what the disk page's partition list
    // asks the system (tests).
    explicit CMainWindow(CParentWindow* topWindow, const CPartitionList::Probes* probes = nullptr);
    ~CMainWindow() override;

    void switchPage(int page, const CPartitionInfo* partition) override;

    // Not owned; replaces the file dialogs (tests). Null restores them.
    void setFileChooser(IFileChooser* chooser);

    CChoiceDiskWnd* diskPage() const { return m_diskPage; }
    Orvik* resultPage() const { return m_resultPage; }
    // The imaging page while it is shown, else null.
    CImagingPage* imagingPage() const;
    QPushButton* closeButton() const { return m_closeButton; }
    QPushButton* menuButton() const { return m_menuButton; }
    QMenu* menu() const { return m_menu; }

    // Whether the window is about to quit and may do so now; the quit
    // question is asked here. Used by onCloseWind and by a close request
    // from the window manager.
    bool confirmQuit();

public slots:
    void onCloseWind();
    void onMinWind();
    void onAbout();
    void onPay();
    void onFeedback();
    void onConnect();

private:
    Orvik* createResultPage();
    // The result page goes (deleted once its workers have ended).
    void dropResultPage();
    void showImagingPage(const CPartitionInfo& source);
    void dropImagingPage();
    // No image after all (no folder, or one on the source).
    void stayOrGoBack();

    QVBoxLayout* m_mainLayout;
    QHBoxLayout* m_titleRow;
    QHBoxLayout* m_pageRow;
    QPushButton* m_closeButton;
    QPushButton* m_minButton;
    QPushButton* m_menuButton;
    CChoiceDiskWnd* m_diskPage;
    QPointer<Orvik> m_resultPage;
    QPointer<CImagingPage> m_imagingPage;
    QLabel* m_titleLabel;
    QLabel* m_logoLabel;
    CParentWindow* m_topWindow;
    QMenu* m_menu;
    CDialogFileChooser m_dialogChooser;
    IFileChooser* m_fileChooser;
};
