// Message boxes: OK only, no icon, the title "Chronosift". Tests replace the handler so that no
// test waits on a modal box.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace chronosift::widgets {

using MessageHandler = std::function<void(QWidget* parent, const QString& text)>;

// Shows the message and returns when the user has closed it.
void showMessage(QWidget* parent, const QString& text);

// Replaces how messages are shown; an empty handler restores the modal box.
void setMessageHandler(MessageHandler handler);

using QuestionHandler = std::function<bool(QWidget* parent, const QString& text)>;

// Asks a question with "Yes" and "No" (no icon, the title "Chronosift"); true for "Yes".
bool askYesNo(QWidget* parent, const QString& text);

// Replaces how questions are asked; an empty handler restores the modal box.
void setQuestionHandler(QuestionHandler handler);

}  // namespace chronosift::widgets
