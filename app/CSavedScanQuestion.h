#pragma once

#include "scan/CScanJournal.h"

#include <QCoreApplication>
#include <QString>

class QWidget;

// The question a scan page asks when the volume it is about to scan was
// scanned before and saved: go on with that scan (or open its list, when it
// had finished), or scan afresh. The saved scan goes on the way it was made,
// so the question says where that differs from what the user chose today.
class CSavedScanQuestion
{
    Q_DECLARE_TR_FUNCTIONS(CSavedScanQuestion)
public:
    // True to go on with (or open) `state`; today's choices are
    // `fileSystem` and `wholeVolume`.
    static bool ask(QWidget* parent, const CScanJournal::State& state, const QString& fileSystem, bool wholeVolume);
    static QString message(const CScanJournal::State& state, const QString& fileSystem, bool wholeVolume);
    // Says that a saved scan could not be used and is set aside; `why` goes
    // into the tooltip.
    static void tellIgnored(QWidget* parent, const QString& why);
};
