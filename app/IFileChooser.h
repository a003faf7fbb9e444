#pragma once

#include <QString>

class QWidget;

// The two questions the window asks about files: which disk image to scan,
// and which folder to recover into. An empty answer means "cancelled".
// Tests answer them directly instead of driving modal file dialogs.
class IFileChooser
{
public:
    virtual ~IFileChooser() = default;
    virtual QString chooseImageFile(QWidget* parent) = 0;
    virtual QString chooseOutputFolder(QWidget* parent) = 0;
};
