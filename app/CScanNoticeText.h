#pragma once

#include "disk/CFileVolume.h"
#include "disk/CPartitionInfo.h"

#include <QCoreApplication>
#include <QString>

// What the scan page says when a source will not open, when the scan warns
// or fails, and when it found nothing: the wording in one place, apart from
// the widgets that show it.
class CScanNoticeText
{
    Q_DECLARE_TR_FUNCTIONS(CScanNoticeText)
public:
    // A warning of the scan (CRecoveryControl::Warning...) as the note over
    // the table shows it. The note names the worst of what happened, so
    // each kind has a rank; the tip is for a kind that brings no details of
    // its own.
    struct Warning
    {
        int rank = 0;
        QString note;
        QString tip;
    };
    static Warning warning(int kind);
    // A disk that failed reads outranks every warning: every further pass
    // over it may cost more of it.
    static constexpr int kFailingDiskRank = 4;
    static QString failingDiskNote();

    // The note for a volume whose live files cannot be told apart, and its
    // tooltip.
    static QString noLiveFilePassNote();
    static QString noLiveFilePassTip();
    // Why ext4's deleted documents carry sector names.
    static QString ext4Note();
    static QString ext4Tip();

    // Why `source` could not be opened, in the user's words, from the cause
    // the volume layer found.
    static QString openFailureText(const QString& source, const CFileVolume::OpenError& error);
    // udisks2's answer in the window's words ("" when it was not asked).
    static QString serviceAnswerText(const CFileVolume::OpenError& failure);
    static QString scanFailedText(const QString& source, const QString& reason);
    // A deleted partition the scan came across: good news, not a warning.
    static QString foundPartitionText(const QString& fileSystem, long long sector, long long bytes);
    // What a finished scan that found nothing says, and whether the source
    // looks like a disk at all.
    static QString emptyResultText(const CPartitionInfo& partition, qint64 length);
};
