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

    // The buttons' own texts in place of "确认" and "取消" (the resume
    // question's "继续上次的扫描" / "重新扫描"). A button is never narrower than
    // 60 pixels, and wider where its text needs it; the box widens with
    // its buttons.
    void setButtonTexts(const QString& confirm, const QString& cancel);

protected:
    void showEvent(QShowEvent* event) override;

private:
    static constexpr int kButtonWidth = 60;
    static constexpr int kButtonHeight = 25;
    // Fits the buttons to their texts and the box to the buttons.
    void fitButtons();
    int m_baseWidth = 270;

    QLabel* m_message;
    QPushButton* m_confirm;
    QPushButton* m_cancel;
    QVBoxLayout* m_textLayout;
};
