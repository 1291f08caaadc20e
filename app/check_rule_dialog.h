// The small dialog of "Check Matching…" and "Uncheck Matching…": a name pattern, whether case
// counts, and optionally a size bound.
#pragma once

#include <QDialog>

#include "search/check_rule.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;

namespace chronosift {

class CheckRuleDialog : public QDialog {
    Q_OBJECT
  public:
    // `check`: for "Check Matching…", else "Uncheck Matching…".
    CheckRuleDialog(bool check, QWidget* parent = nullptr);

    // The rule as the fields stand.
    CheckRule rule() const;

    QLineEdit* patternField() const { return pattern_; }
    QComboBox* sizeBoundField() const { return bound_; }
    QDoubleSpinBox* sizeField() const { return size_; }
    QComboBox* unitField() const { return unit_; }
    QCheckBox* ignoreCaseField() const { return ignoreCase_; }

  private:
    QLineEdit* pattern_;
    QCheckBox* ignoreCase_;
    QComboBox* bound_;
    QDoubleSpinBox* size_;
    QComboBox* unit_;
};

}  // namespace chronosift
