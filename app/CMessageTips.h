#pragma once

#include "app/PopupWindow.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

// The yes/no confirmation: exec() returns 1 on "确认" and 0 on "取消", the
// close button or Escape. As a notice (setNotice) it shows "确认" alone.
class CMessageTips : public PopupWindow
{
    Q_OBJECT
public:
    explicit CMessageTips(QWidget* parent = nullptr);

    void setMessage(const QString& text);
    QString message() const;
    // A notice: one button, a larger box and word-wrapped text, for messages
    // longer than a question.
    void setNotice(bool notice);

    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    QLabel* m_message;
    QPushButton* m_confirm;
    QPushButton* m_cancel;
    QVBoxLayout* m_textLayout;
};
