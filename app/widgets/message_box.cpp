#include "app/widgets/message_box.h"

#include <QMessageBox>
#include <QProgressBar>

namespace chronosift::widgets {

namespace {

MessageHandler& handler() {
    static MessageHandler h;
    return h;
}

}  // namespace

std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, const QString& text,
                                            QMessageBox::StandardButtons buttons) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QStringLiteral("Chronosift"),
                                             text, buttons, parent);
    box->setTextFormat(Qt::PlainText);
    // Read out as the message itself, not as an unnamed dialog.
    box->setAccessibleName(QStringLiteral("Chronosift"));
    box->setAccessibleDescription(text);
    return box;
}

std::unique_ptr<QProgressDialog> makeProgressDialog(QWidget* parent, const QString& text,
                                                    int maximum) {
    auto dialog =
        std::make_unique<QProgressDialog>(text, QStringLiteral("Cancel"), 0, maximum, parent);
    dialog->setWindowTitle(QStringLiteral("Chronosift"));
    dialog->setAccessibleName(QStringLiteral("Chronosift"));
    if (auto* bar = dialog->findChild<QProgressBar*>()) {
        bar->setAccessibleName(text);
    }
    return dialog;
}

void showMessage(QWidget* parent, const QString& text) {
    if (handler()) {
        handler()(parent, text);
        return;
    }
    makeMessageBox(parent, text, QMessageBox::Ok)->exec();
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
    const auto box = makeMessageBox(parent, text, QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::No);
    return box->exec() == QMessageBox::Yes;
}

void setQuestionHandler(QuestionHandler h) {
    questionHandler() = std::move(h);
}

}  // namespace chronosift::widgets
