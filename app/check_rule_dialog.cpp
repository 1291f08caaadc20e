#include "app/check_rule_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <cmath>

namespace chronosift {

CheckRuleDialog::CheckRuleDialog(bool check, QWidget* parent) : QDialog(parent) {
    setWindowTitle(check ? QStringLiteral("Check Matching") : QStringLiteral("Uncheck Matching"));
    auto* form = new QFormLayout(this);
    pattern_ = new QLineEdit(QStringLiteral("*"), this);
    pattern_->setAccessibleName(QStringLiteral("Name pattern"));
    pattern_->setToolTip(QStringLiteral("A pattern for the file name, such as *.log or *~.bak"));
    form->addRow(QStringLiteral("&Name pattern:"), pattern_);
    ignoreCase_ = new QCheckBox(QStringLiteral("&Ignore case"), this);
    ignoreCase_->setChecked(true);
    form->addRow(QString(), ignoreCase_);

    auto* sizeRow = new QHBoxLayout;
    bound_ = new QComboBox(this);
    bound_->addItems(
        {QStringLiteral("any size"), QStringLiteral("at least"), QStringLiteral("at most")});
    bound_->setAccessibleName(QStringLiteral("Size bound"));
    size_ = new QDoubleSpinBox(this);
    size_->setRange(0, 1e9);
    size_->setDecimals(1);
    size_->setAccessibleName(QStringLiteral("Size"));
    unit_ = new QComboBox(this);
    unit_->addItems({QStringLiteral("KB"), QStringLiteral("MB"), QStringLiteral("GB")});
    unit_->setCurrentIndex(1);
    unit_->setAccessibleName(QStringLiteral("Size unit"));
    sizeRow->addWidget(bound_);
    sizeRow->addWidget(size_);
    sizeRow->addWidget(unit_);
    form->addRow(QStringLiteral("&Size:"), sizeRow);
    const auto boundChanged = [this] {
        size_->setEnabled(bound_->currentIndex() != 0);
        unit_->setEnabled(bound_->currentIndex() != 0);
    };
    connect(bound_, &QComboBox::currentIndexChanged, this, boundChanged);
    boundChanged();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

CheckRule CheckRuleDialog::rule() const {
    CheckRule rule;
    // The pattern's bytes as typed, for names stored as bytes.
    rule.pattern = pattern_->text().isEmpty() ? std::string("*") : pattern_->text().toStdString();
    rule.ignoreCase = ignoreCase_->isChecked();
    // Decimal units, as the size column shows them.
    const double bytes = size_->value() * std::pow(1000.0, unit_->currentIndex() + 1);
    const auto whole = static_cast<uint64_t>(std::llround(bytes));
    if (bound_->currentIndex() == 1) {
        rule.atLeast = whole;
    } else if (bound_->currentIndex() == 2) {
        rule.atMost = whole;
    }
    return rule;
}

}  // namespace chronosift
