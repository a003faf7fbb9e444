#pragma once

#include "disk/IVolume.h"

#include <QCoreApplication>
#include <QString>

#include <memory>

class IFileChooser;
class QDateTime;
class QWidget;

// Where a recovery writes, asked before it starts: a folder the user
// chooses, questioned when it may lie on the volume being recovered (writing
// there overwrites what is not recovered yet), and the dated folder made in
// it for this recovery.
class COutputFolderChoice
{
    Q_DECLARE_TR_FUNCTIONS(COutputFolderChoice)
public:
    // Asks `chooser` for a folder until one is off `volume` or the user
    // keeps one that may not be; "" when the user cancels the chooser.
    static QString choose(QWidget* parent, IFileChooser& chooser, const std::shared_ptr<IVolume>& volume);
    // Ticked rows a filter hides are recovered too: said before, not found
    // out afterwards. True to go on (at once when none is hidden).
    static bool confirmHiddenTicked(QWidget* parent, int hidden);
    // The folder a recovery into `chosen` at `now` writes to: chosen/Tamsel
    // yyyy.MM.dd_H_m_s, with " (1)", " (2)" ... when that name is taken.
    static QString recoveryFolder(const QString& chosen, const QDateTime& now);
};
