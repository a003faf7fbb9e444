#pragma once

#include <QCoreApplication>
#include <QString>

// The lines under the scan page's progress bar: how far the scan got, how
// much is left and how long that may take, what a failing disk would not
// give, and how the scan reads the source.
class CScanProgressText
{
    Q_DECLARE_TR_FUNCTIONS(CScanProgressText)
public:
    // "12.3 GB", "120 GB": whole numbers from 100 up, one decimal below.
    static QString amountText(double bytes);
    static QString timeLeftText(double seconds);
    // "42.0%  已扫描 12.3 GB / 120 GB  剩余 3 分钟" for `permille` of a source
    // of `length` bytes read in `seconds`; the time left only while
    // `running` and once it can be estimated.
    static QString progressDetails(qint64 length, long long permille, double seconds, bool running);
    // What follows the progress on a disk that fails reads ("" for none).
    static QString readTroubleText(qint64 unreadableBytes, qint64 slowBytes);

    enum class PlanStage { Running, Finished, Stopped };
    // How the scan reads the source at its stage, and the tooltip that
    // says what that means.
    struct Plan
    {
        QString text;
        QString tip;
    };
    static Plan readPlan(bool unusedSpaceOnly, PlanStage stage);
};
