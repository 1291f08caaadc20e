// The date page: the cutoff criterion and date, the results list and the trash button.
#pragma once

#include "app/page.h"
#include "index/file_index.h"
#include "platform/trash.h"
#include "recycle/recycling_bin.h"
#include "search/results_model.h"

class QDateEdit;
class QGroupBox;
class QRadioButton;
class QTreeView;

namespace chronosift {

class Form2 : public Page {
    Q_OBJECT
  public:
    Form2();

    // The index that "Find Results" searches from now on.
    void setIndex(IndexSnapshot index) { index_ = std::move(index); }

    // Load-time set-up, run once when the page is first shown: at `form1`'s place.
    void load(const QWidget& form1);

    ResultsModel& results() { return model_; }

  signals:
    void backRequested();
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void optionClicked(int option);
    void findResults();
    void sendToTrash();
    // Moves the files, with a progress dialog while more than a moment's work is left.
    std::vector<platform::TrashOutcome> moveWithProgress(
        const std::vector<platform::TrashItem>& items);
    void toggleSelected();
    void showListMenu(const QPoint& at);

    QGroupBox* frame_;
    QRadioButton* options_[3];
    QDateEdit* pickers_[3];
    platform::PushButton* findButton_;
    platform::PushButton* backButton_;
    platform::PushButton* trashButton_;
    QTreeView* list_;
    ResultsModel model_;
    IndexSnapshot index_;
    TrashedFiles trashed_;
    bool busy_ = false;  // a trash operation is under way
};

}  // namespace chronosift
