#include "app/widgets/message_box.h"

#include <QMessageBox>

namespace chronosift::widgets {

namespace {

MessageHandler& handler() {
    static MessageHandler h;
    return h;
}

}  // namespace

void showMessage(QWidget* parent, const QString& text) {
    if (handler()) {
        handler()(parent, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Chronosift"), text, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void setMessageHandler(MessageHandler h) {
    handler() = std::move(h);
}

namespace {

QuestionHandler& questionHandler() {
    static QuestionHandler h;
    return h;
}

}  // namespace

bool askYesNo(QWidget* parent, const QString& text) {
    if (questionHandler()) {
        return questionHandler()(parent, text);
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Chronosift"), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void setQuestionHandler(QuestionHandler h) {
    questionHandler() = std::move(h);
}

}  // namespace chronosift::widgets
