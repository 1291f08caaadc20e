#include "app/form2.h"

#include <QCloseEvent>
#include <QDateEdit>
#include <QGroupBox>
#include <QRadioButton>
#include <QTreeView>

namespace chronosift {

Form2::Form2() : Page(QStringLiteral("Form2"), 8550, 5580) {
    frame_ = new QGroupBox(QStringLiteral("Select Cutoff Date"), this);
    frame_->setObjectName(QStringLiteral("Frame1"));
    frame_->setFont(captionFont());
    frame_->setGeometry(twipsRect(120, 120, 8295, 1695));

    static const char* const kCaptions[] = {"After this date:", "Before this date:",
                                            "On this date:"};
    for (int i = 0; i < 3; ++i) {
        const int top = 240 + 480 * i;
        options_[i] = new QRadioButton(QString::fromLatin1(kCaptions[i]), frame_);
        options_[i]->setObjectName(QStringLiteral("Option%1").arg(i + 1));
        options_[i]->setFont(captionFont());
        options_[i]->setGeometry(twipsRect(240, top, 1935, 375));
        pickers_[i] = new QDateEdit(QDate(2006, 6, 30), frame_);
        pickers_[i]->setObjectName(QStringLiteral("DTPicker%1").arg(i + 1));
        pickers_[i]->setFont(captionFont());
        pickers_[i]->setGeometry(twipsRect(2280, top, 5775, 375));
        pickers_[i]->setCalendarPopup(true);
        pickers_[i]->setDateRange(QDate(1601, 1, 1), QDate(9999, 12, 31));
        pickers_[i]->setDisplayFormat(QLocale().dateFormat(QLocale::LongFormat));
        setMoveRole(options_[i], MoveRole::Reset);
        setMoveRole(pickers_[i], MoveRole::Reset);
        connect(options_[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) {
                optionClicked(i);
            }
        });
    }

    backButton_ = addButton(QStringLiteral("Check2"), QStringLiteral("< < Back"), this,
                            twipsRect(120, 1920, 4095, 400));
    findButton_ = addButton(QStringLiteral("Check1"), QStringLiteral("Find Results"), this,
                            twipsRect(4320, 1920, 4095, 400));

    list_ = new QTreeView(this);
    list_->setObjectName(QStringLiteral("ListView1"));
    list_->setFont(listFont());
    list_->setGeometry(twipsRect(120, 2400, 8295, 2535));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setItemsExpandable(false);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    trashButton_ = addButton(QStringLiteral("Check3"),
                             QStringLiteral("Send Checked Items to Recycling Bin"), this,
                             twipsRect(120, 5040, 8295, 400));

    QWidget* order[] = {options_[0], options_[1], options_[2], pickers_[0], pickers_[1],
                        pickers_[2], backButton_, findButton_, list_, trashButton_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }

    setMoveRole(frame_, MoveRole::Reset);
    setMoveRole(list_, MoveRole::None);

    platform::onPress(backButton_, this, [this] { emit backRequested(); });
}

void Form2::load(const QWidget& form1) {
    move(pos().x(), form1.pos().y());
    move(form1.pos().x(), pos().y());
    options_[0]->setChecked(true);
    loadCustomPointer();
    setWindowTitle(QStringLiteral("Chronosift"));
}

void Form2::optionClicked(int option) {
    for (int i = 0; i < 3; ++i) {
        pickers_[i]->setEnabled(i == option);
    }
}

void Form2::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
}

}  // namespace chronosift
