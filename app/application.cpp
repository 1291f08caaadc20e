#include "app/application.h"

namespace chronosift {

Application::Application() : form1_(std::make_unique<Form1>()) {
    connect(form1_.get(), &Form1::indexingStarted, this, [this] { index_.reset(); });
    connect(form1_.get(), &Form1::indexReady, this, &Application::showForm2);
    connect(form1_.get(), &Form1::exitRequested, this, &Application::end);
    connect(form1_.get(), &Form1::closed, this, &Application::end);
}

Application::~Application() = default;

void Application::start() {
    form1_->show();
}

void Application::showForm2(IndexSnapshot index) {
    index_ = std::move(index);
    form1_->setWindowTitle(Form1::kCaption);
    if (!form2_) {
        form2_ = std::make_unique<Form2>();
        form2_->load(*form1_);
        connect(form2_.get(), &Form2::backRequested, this, &Application::back);
        connect(form2_.get(), &Form2::closed, this, &Application::end);
        connect(form2_.get(), &Form2::indexRebuilt, this,
                [this](IndexSnapshot index) { index_ = std::move(index); });
    }
    form2_->setIndex(index_);
    // The shown page takes the keyboard, so that it never stays with the hidden one.
    form2_->showWithFocus(form2_->firstFocus());
    form1_->hide();
    form1_->setMousePointer(kArrowPointer);
}

void Application::back() {
    form2_->hide();
    form1_->showWithFocus(form1_->firstFocus());
}

void Application::end() {
    if (ending_) {
        return;
    }
    ending_ = true;
    // A running build stops at its next entry; nothing is asked or saved.
    form1_->cancelIndexing();
    emit ending();
    form1_->hide();
    if (form2_) {
        form2_->hide();
    }
}

}  // namespace chronosift
