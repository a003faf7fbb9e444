#pragma once

class QWidget;

// Where the compositor owns window positions (Wayland), a frameless window
// cannot move itself; it asks the compositor to run the move instead.
class CWindowDrag
{
public:
    // Starts a compositor-driven move of `widget`'s window and returns true,
    // or returns false where the program moves its windows itself.
    static bool startSystemMove(QWidget* widget);
};
