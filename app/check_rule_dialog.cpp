#include "app/check_rule_dialog.h"

#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <cmath>

namespace chronosift {

namespace {

constexpr char kNamedCombo[] = "chronosift-named-combo";

// On Linux Qt names a combo box by its current text, so a screen reader would announce "at most"
// or "GB" with nothing to say what they are. These are named by their accessible name, and
// their text is their value.
class NamedComboAccessible : public QAccessibleWidget {
  public:
    explicit NamedComboAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? static_cast<QComboBox*>(widget())->currentText()
                                       : QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == showMenuAction()) {
            static_cast<QComboBox*>(widget())->showPopup();
            return;
        }
        QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* namedComboFor(const QString& className, QObject* object) {
    if (className == QLatin1String("QComboBox") && object != nullptr &&
        object->property(kNamedCombo).toBool()) {
        return new NamedComboAccessible(static_cast<QWidget*>(object));
    }
    return nullptr;
}

QComboBox* namedCombo(const QString& name, const QStringList& items, QWidget* parent) {
    QAccessible::installFactory(namedComboFor);  // once; a second install is ignored
    auto* combo = new QComboBox(parent);
    combo->setProperty(kNamedCombo, true);
    combo->setAccessibleName(name);
    combo->addItems(items);
    return combo;
}

}  // namespace

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
    bound_ = namedCombo(
        QStringLiteral("Size bound"),
        {QStringLiteral("any size"), QStringLiteral("at least"), QStringLiteral("at most")}, this);
    size_ = new QDoubleSpinBox(this);
    size_->setRange(0, 1e9);
    size_->setDecimals(1);
    size_->setAccessibleName(QStringLiteral("Size"));
    unit_ = namedCombo(QStringLiteral("Size unit"),
                       {QStringLiteral("KB"), QStringLiteral("MB"), QStringLiteral("GB")}, this);
    unit_->setCurrentIndex(1);
    sizeRow->addWidget(bound_);
    sizeRow->addWidget(size_);
    sizeRow->addWidget(unit_);
    // A label of its own, since QFormLayout gives a row that holds a layout no buddy (and shows
    // the "&"): Alt+S goes to the first size field.
    auto* sizeLabel = new QLabel(QStringLiteral("&Size:"), this);
    sizeLabel->setBuddy(bound_);
    form->addRow(sizeLabel, sizeRow);
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
