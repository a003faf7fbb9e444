#pragma once

#include "disk/CPartitionInfo.h"

#include <QString>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// The page that copies a failing disk into an image before anything else
// reads it: the same copy as tamsel-cli image (good parts first, skipped
// stretches read again last, a ddrescue map beside the image), on a thread
// of its own so that the window never waits on the disk. It shows how far
// the copy is and how much could not be read, stops when asked, and at the
// end says where the image and its map are, with a button to scan the
// image (the map makes that scan treat the unread sectors as unreadable).
class CImagingPage : public QWidget
{
    Q_OBJECT
public:
    explicit CImagingPage(QWidget* parent = nullptr);
    ~CImagingPage() override;

    // Copies `source` into `image` (its map beside it, gone on from when
    // it is there already).
    void start(const CPartitionInfo& source, const QString& image);
    // Asks the copy to stop; it ends after the read in flight.
    void stop();

    bool isRunning() const { return m_running; }
    QString imagePath() const { return m_image; }
    QString mapPath() const { return m_map; }

    QLabel* titleLabel() const { return m_title; }
    QLabel* statusLabel() const { return m_status; }
    QLabel* resultLabel() const { return m_result; }
    QProgressBar* progressBar() const { return m_progress; }
    QPushButton* stopButton() const { return m_stopButton; }
    QPushButton* scanButton() const { return m_scanButton; }
    QPushButton* backButton() const { return m_backButton; }

signals:
    // The copy ended (finished, stopped or failed).
    void finished(bool complete);
    // "扫描映像": scan the image just written.
    void scanImageRequested(const QString& image);
    // "返回": back to the disks.
    void backRequested();

private:
    void showProgress();
    void onFinished(bool ok, const QString& error);
    void joinWorker();

    QLabel* m_title;
    QLabel* m_source;
    QProgressBar* m_progress;
    QLabel* m_status;
    QLabel* m_result;
    QPushButton* m_stopButton;
    QPushButton* m_scanButton;
    QPushButton* m_backButton;
    QTimer* m_timer;

    QString m_image;
    QString m_map;
    CPartitionInfo m_sourceInfo;
    bool m_running = false;
    bool m_stopped = false;
    // Written by the copy's thread, read by the timer.
    std::atomic<int64_t> m_done{0};
    std::atomic<int64_t> m_total{0};
    std::atomic<int64_t> m_unreadable{0};
    std::atomic<bool> m_lastPass{false};
    std::atomic<bool> m_keepGoing{true};
    std::thread m_worker;
};
