// The page flow: start-up on the folder page, "Next  > >" to the date page, "< < Back", and the
// end of the program on "Exit" or when either page is closed.
#pragma once

#include <QObject>
#include <memory>

#include "app/form1.h"
#include "app/form2.h"

namespace chronosift {

class Application : public QObject {
    Q_OBJECT
  public:
    Application();
    ~Application() override;

    void start();
    Form1& form1() { return *form1_; }
    // Created and loaded the first time it is shown; null before.
    Form2* form2() { return form2_.get(); }
    const IndexSnapshot& index() const { return index_; }

  signals:
    // The program is ending: "Exit", or a page was closed. The caller leaves the event loop.
    void ending();

  private:
    void showForm2(IndexSnapshot index);
    void back();
    void end();

    std::unique_ptr<Form1> form1_;
    std::unique_ptr<Form2> form2_;
    IndexSnapshot index_;
    bool ending_ = false;
};

}  // namespace chronosift
