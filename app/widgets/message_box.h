// Message boxes: OK only, no icon, the title "Chronosift". Tests replace the handler so that no
// test waits on a modal box.
#pragma once

#include <QMessageBox>
#include <QProgressDialog>
#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace chronosift::widgets {

// The box showMessage and askYesNo show: plain text, no icon and no empty label before the
// text, so that a screen reader starts with the message.
std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, const QString& text,
                                            QMessageBox::StandardButtons buttons);

// A progress dialog for long work, its bar named for screen readers by `text`.
std::unique_ptr<QProgressDialog> makeProgressDialog(QWidget* parent, const QString& text,
                                                    int maximum);

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
