#pragma once

#include "app/PopupWindow.h"
#include "recovery/CRecoveryDataFiles.h"
#include "scan/CFileNode.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class CPopParentWind;
class IVolume;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

// Shows a recovery's progress and, at the end, a link that opens the output
// folder. It owns the recovery worker; the result page keeps one dialog for
// its whole life and reuses it for each recovery.
//
// Use: setRecoveryInfo(folder, volume), startRecovery(files), show().
class CRecoveryDialog : public PopupWindow
{
    Q_OBJECT
public:
    // `windowSize` is the worker's copy window (tests pass small ones).
    explicit CRecoveryDialog(uint32_t windowSize = CDiskMappingPointer::kDefaultWindowSize);
    // Stops the worker after its current file and waits for it: a running
    // thread is never destroyed, and no file is left half-written.
    ~CRecoveryDialog() override;

    void setRecoveryInfo(const QString& folder, std::shared_ptr<IVolume> volume);
    bool startRecovery(const QList<CFileNode>& files);

    bool isRecovering() const { return m_worker.isBusy(); }
    // Stops the worker after its current file and waits for it.
    void stopAndWait();

    // How the folder is shown (the desktop's file manager unless replaced).
    void setFolderOpener(std::function<void(const QString&)> opener) { m_folderOpener = std::move(opener); }

    QString statusText() const;
    // The failure, or at the end what was left out; "" when none.
    QString errorText() const;
    QString savePath() const { return m_savePath; }
    // The whole path the open-folder link stands for.
    QString linkPath() const;
    QPushButton* openFolderButton() const { return m_openFolderButton; }
    QProgressBar* progressBar() const { return m_progressBar; }
    CPopParentWind* closeBar() const { return m_closeBar; }
    CRecoveryDataFiles& worker() { return m_worker; }

public slots:
    // Escape and the title bar ask like the close bar does.
    void reject() override;
    void onRecoveryFinished(int value);
    void onRecoveryFailed(const QString& filePath, const QString& reason, bool sourceUnreadable = false);
    void onFileLeftOut(int number, const QString& name, const QString& reason, bool unreadable);
    void onCloseWind();
    void openSavePath();

private:
    static constexpr int kLinkWidth = 290;
    void showFolderLink();
    // The folder's path with a button that copies it, where no program
    // opens folders.
    void showFolderPath();

    QLabel* m_statusLabel;
    QPushButton* m_openFolderButton;
    QProgressBar* m_progressBar;
    CPopParentWind* m_closeBar;
    QVBoxLayout* m_layout;
    QLabel* m_errorLabel;
    int m_total = 0;
    // Documents the worker did not write, damaged or over unreadable sectors.
    int m_leftOutDamaged = 0;
    int m_leftOutUnreadable = 0;
    QList<CFileNode> m_files;
    QString m_savePath;
    std::shared_ptr<IVolume> m_volume;
    std::function<void(const QString&)> m_folderOpener;
    CRecoveryDataFiles m_worker;
};
