#pragma once

class Orvik;
class QLabel;
class QPushButton;
class QString;
class QWidget;

// How the scan and result page looks: the look of each of its widgets and
// where it sits. The page makes its widgets and wires them to what they do;
// this puts them in their rows (the counters and progress, what the
// progress means, the note about the volume, the tree beside the table and
// the preview, the buttons under them) and sets the order the keyboard
// walks them in.
class CScanPageLayout
{
public:
    // Lays out `page`'s widgets, once, while the page is being built.
    static void arrange(Orvik& page);
    // The page's push buttons as the style sheet draws them, of a fixed
    // size.
    static QPushButton* commonButton(const QString& text, QWidget* parent, int w, int h);
    // A label of the counters' row: its height, and at least `minimumWidth`.
    static QLabel* rowLabel(const QString& text, QWidget* parent, int minimumWidth = 0);
};
