#pragma once

// Helpers shared by the window tests and the screenshot program.

#include "app/CMessageTips.h"
#include "app/IFileChooser.h"
#include "disk/CPartitionList.h"
#include "scan/CFileNode.h"
#include "scan/CFileTypeCatalogue.h"

#include <QApplication>
#include <QByteArray>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace apptest {

// How long a test waits for a small recovery to end. QTRY's 5 s default
// is too short when the suite runs beside other tests on a busy machine
// (the worker, the check of each document and the same-volume check all
// share two cores with them).
constexpr int kRecoveryWaitMs = 30000;

// lsblk's answer for `n` mounted partitions sda1.. with file systems
// alternating NTFS and FAT32, each of 100 GiB with 40 GiB free; the device
// paths are `devicePrefix` + number.
inline CPartitionList::Probes partitionProbes(int n, const QString& devicePrefix = QStringLiteral("/dev/sda"))
{
    QByteArray json = "{\"blockdevices\":[";
    for (int i = 1; i <= n; ++i) {
        if (i > 1)
            json += ",";
        const QString number = QString::number(i);
        const bool ntfs = i % 2 == 1;
        json += (QStringLiteral("{\"name\":\"sda") + number + QStringLiteral("\",\"path\":\"") + devicePrefix + number +
                 QStringLiteral("\",\"type\":\"part\",\"size\":107374182400,\"fstype\":\"") +
                 (ntfs ? QStringLiteral("ntfs\",\"fsver\":null") : QStringLiteral("vfat\",\"fsver\":\"FAT32\"")) +
                 QStringLiteral(",\"label\":") +
                 (i == 2 ? QStringLiteral("null") : QStringLiteral("\"Data") + number + QStringLiteral("\"")) +
                 QStringLiteral(",\"mountpoint\":\"/mnt/p") + number + QStringLiteral("\",\"rm\":false}"))
                    .toUtf8();
    }
    json += "]}";
    CPartitionList::Probes probes;
    probes.readLsblk = [json]() { return json; };
    probes.freeSpace = [](const QString&, int64_t* freeBytes) {
        *freeBytes = int64_t(40) << 30;
        return true;
    };
    probes.loopHasBackingFile = [](const QString&) { return false; };
    probes.bootSectorFileSystem = [](const QString&) { return QString(); };
    return probes;
}

// Answers both file questions with fixed paths.
class FixedChooser : public IFileChooser
{
public:
    QString imageFile;
    QString outputFolder;
    int asked = 0;
    QString chooseImageFile(QWidget*) override
    {
        ++asked;
        return imageFile;
    }
    QString chooseOutputFolder(QWidget*) override
    {
        ++asked;
        return outputFolder;
    }
};

// Answers the next confirmation box that comes up (confirm or cancel) and
// records its text. Polls, so the box may come up later than at once.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(bool confirm) : m_confirm(confirm)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this]() {
            auto* box = qobject_cast<CMessageTips*>(QApplication::activeModalWidget());
            if (!box)
                return;
            m_text = box->message();
            ++m_answered;
            (m_confirm ? box->confirmButton() : box->cancelButton())->click();
        });
        m_timer.start();
    }
    QString text() const { return m_text; }
    int answered() const { return m_answered; }

private:
    bool m_confirm;
    QTimer m_timer;
    QString m_text;
    int m_answered = 0;
};

// Holds a reading thread inside a read hook until opened.
struct Gate
{
    std::atomic<bool> armed{false};
    std::atomic<bool> open{false};
    std::atomic<int> waiting{0};
    std::function<void(int64_t, size_t)> hook()
    {
        return [this](int64_t, size_t) {
            if (!armed.load())
                return;
            ++waiting;
            while (!open.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            --waiting;
        };
    }
};

// A found-document record as the carving pass makes it.
inline CFileNode record(const QString& typeName, qint64 size, quint64 startSector)
{
    return CFileNode(typeName, size, startSector, QString(), QString::number(startSector), QString(),
                     CFileTypeCatalogue::typeCodeByName(typeName), 0, CFileTypeCatalogue::sizeText(size),
                     CFileTypeCatalogue::description(typeName));
}

// The same record with the details pass's verdict already given: whole
// (the made-up bytes behind it would fail the real check, and a damaged
// document is neither ticked with its type nor recovered unless asked).
inline CFileNode wholeRecord(const QString& typeName, qint64 size, quint64 startSector)
{
    CFileNode n = record(typeName, size, startSector);
    n.details.examined = true;
    n.details.integrity = CDocumentDetails::IntegrityWhole;
    return n;
}

} // namespace apptest
