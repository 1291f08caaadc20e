// The push button of both pages: a two-state button whose value is 0 (up) or 1 (pressed).
#pragma once

#include <QPushButton>
#include <cstdint>

namespace chronosift::widgets {

class PushButton : public QPushButton {
    Q_OBJECT
  public:
    static constexpr uint32_t kWhite = 0x00FFFFFF;      // 0x00BBGGRR
    static constexpr uint32_t kHighlight = 0x00C0FFFF;  // pale yellow

    explicit PushButton(const QString& caption, QWidget* parent = nullptr);

    int value() const { return isChecked() ? 1 : 0; }
    void setValue(int value) { setChecked(value == 1); }

    uint32_t backColor() const { return backColor_; }
    void setBackColor(uint32_t bgr);

  signals:
    // Raised on every change of the value, by the user or by setValue.
    void clickNotification();

  protected:
    // Enter presses the focused button, as Space does.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    uint32_t backColor_ = kWhite;
};

// Runs `action` under the push-button convention: only when the value is 1, after setting it
// back to 0. A notification that finds 0 (such as the one that resetting raises) does nothing.
template <typename Action>
void onPress(PushButton* button, QObject* context, Action action) {
    QObject::connect(button, &PushButton::clickNotification, context, [button, action] {
        if (button->value() != 1) {
            return;
        }
        button->setValue(0);
        action();
    });
}

}  // namespace chronosift::widgets
