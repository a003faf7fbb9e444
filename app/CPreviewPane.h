#pragma once

#include "preview/CDocumentPreview.h"
#include "scan/CFileNode.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class IVolume;
class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QStackedWidget;
class QToolButton;

// The preview of the selected document beside the result table (or in a
// popup): a rendered first page or thumbnail, else the first text, or the
// hex view of the first 64 KiB; a damaged document's reason above it. The
// preview is made on a thread of the pane's own by the sandboxed helper
// (CDocumentPreview), so the window never waits for it; only the latest
// request is made, one asked for meanwhile replaces the one waiting.
class CPreviewPane : public QWidget
{
    Q_OBJECT
public:
    explicit CPreviewPane(QWidget* parent = nullptr);
    ~CPreviewPane() override;

    // Shows `node` (read from `volume`) once its preview is made.
    void showDocument(std::shared_ptr<IVolume> volume, const CFileNode& node);
    void clear();
    // Whether the close button is offered (the popup has its own).
    void setClosable(bool closable);

    // For tests: what is shown.
    enum class Showing { Nothing, Waiting, NoPreview, Image, Text, Hex };
    Showing showing() const;
    QString shownText() const;
    QString noticeText() const;
    QPixmap shownImage() const { return m_pixmap; }
    QToolButton* hexButton() const { return m_hexButton; }

signals:
    void closeRequested();
    // A preview was shown (or found to be impossible).
    void previewReady();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Request
    {
        quint64 id = 0;
        std::shared_ptr<IVolume> volume;
        CFileNode node;
    };
    struct Outcome
    {
        CDocumentPreview::Result result;
        // The page or thumbnail, decoded off the interface thread.
        QImage image;
        QString hex;
    };

    void run();
    void apply(quint64 id, const Outcome& outcome);
    void showCurrent();
    void fitImage();
    void retranslate();

    QLabel* m_heading;
    QLabel* m_notice;
    QToolButton* m_hexButton;
    QToolButton* m_closeButton;
    QStackedWidget* m_stack;
    QLabel* m_status;
    QScrollArea* m_imageArea;
    QLabel* m_image;
    QPlainTextEdit* m_text;
    QPlainTextEdit* m_hex;
    QPixmap m_pixmap;
    bool m_hasNode = false;
    bool m_waiting = false;
    CFileNode m_node;
    std::optional<Outcome> m_outcome;

    // The worker: the latest request waits in m_pending.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Request> m_pending;
    bool m_stopping = false;
    quint64 m_lastId = 0;
    std::thread m_thread;
};
