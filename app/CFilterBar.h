#pragma once

#include "results/CResultFilter.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The line over the result table that narrows it: a box for a name or
// title, and a compact "筛选" button whose small popup holds a range of
// modification dates, a range of sizes and "whole only". The window keeps
// its size: the ranges live in the popup, and the button says how many of
// them are set. Every change takes effect at once (filterChanged).
class CFilterBar : public QWidget
{
    Q_OBJECT
public:
    enum SizeUnit { Kilobytes = 0, Megabytes = 1 };

    explicit CFilterBar(QWidget* parent = nullptr);

    CResultFilter filter() const { return m_filter; }
    // Back to letting everything through (the text too).
    void clear();

    QLineEdit* textEdit() const { return m_textEdit; }
    QPushButton* filterButton() const { return m_filterButton; }
    // The popup and its controls, for the keyboard's order and for tests.
    QFrame* popup() const { return m_popup; }
    QCheckBox* dateBox() const { return m_dateBox; }
    QDateEdit* fromEdit() const { return m_fromEdit; }
    QDateEdit* toEdit() const { return m_toEdit; }
    QCheckBox* sizeBox() const { return m_sizeBox; }
    // The upper bound shows "不限" at 0.
    QSpinBox* minSizeEdit() const { return m_minSize; }
    QSpinBox* maxSizeEdit() const { return m_maxSize; }
    QComboBox* unitBox() const { return m_unitBox; }
    QCheckBox* wholeOnlyBox() const { return m_wholeOnly; }
    QPushButton* clearButton() const { return m_clearButton; }

public slots:
    // Opens the popup under the button.
    void showPopup();

signals:
    void filterChanged(const CResultFilter& filter);

private:
    // Reads the controls into the filter and says so when it changed.
    void apply();

    QLineEdit* m_textEdit;
    QPushButton* m_filterButton;
    QFrame* m_popup;
    QCheckBox* m_dateBox;
    QDateEdit* m_fromEdit;
    QDateEdit* m_toEdit;
    QCheckBox* m_sizeBox;
    QSpinBox* m_minSize;
    QSpinBox* m_maxSize;
    QComboBox* m_unitBox;
    QCheckBox* m_wholeOnly;
    QPushButton* m_clearButton;
    CResultFilter m_filter;
    // While clear() resets the controls: one filterChanged, not one each.
    bool m_resetting = false;
};
