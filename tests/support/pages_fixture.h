// The fixture of the page tests: the two pages of the real program, offscreen, against the real
// widgets found by their names.
#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QBuffer>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QProgressDialog>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTableView>
#include <QTreeView>
#include <QUrl>

#include "app/application.h"
#include "app/check_rule_dialog.h"
#include "app/widgets/date_picker.h"
#include "app/widgets/message_box.h"
#include "folders/folder_tree.h"
#include "folders/selection.h"
#include "index/build.h"
#include "platform/desktop.h"
#include "support/temp_tree.h"

using namespace chronosift;
using widgets::PushButton;

namespace {

struct Expected {
    const char* name;
    const char* kind;
    const char* caption;
    const char* container;  // "page" or "Frame1"
    int left, top, width, height;
    int fontTenths;                    // point size × 100; 0 for the control's own font
    const char* accessible = nullptr;  // what a screen reader names it, when not the caption
};

const Expected kForm1[] = {
    {"FolderTreeview1", "FolderTree", "", "Frame1", 240, 360, 7815, 2460, 0, "Folder tree"},
    {"Check1", "PushButton", "Add Folder", "Frame1", 240, 2880, 7815, 400, 1125},
    {"ListView1", "QTreeView", "", "page", 120, 3720, 8295, 1575, 900, "Folders to search"},
    {"Check3", "PushButton", "Remove From List", "page", 120, 5400, 4095, 400, 1125},
    {"Check2", "PushButton", "Clear List", "page", 4320, 5400, 4095, 400, 1125},
    {"Check5", "PushButton", "Exit", "page", 120, 5880, 4095, 400, 1125},
    {"Check4", "PushButton", "Next  > >", "page", 4320, 5880, 4095, 400, 1125, "Next"},
    {"Frame1", "QGroupBox", "Select and Add Folders to Search", "page", 120, 120, 8295, 3495, 975},
};

const Expected kForm2[] = {
    {"Option1", "QRadioButton", "After this date:", "Frame1", 240, 240, 1935, 375, 975},
    {"Option2", "QRadioButton", "Before this date:", "Frame1", 240, 720, 1935, 375, 975},
    {"Option3", "QRadioButton", "On this date:", "Frame1", 240, 1200, 1935, 375, 975},
    {"DTPicker1", "DatePicker", "", "Frame1", 2280, 240, 5775, 375, 975, "After this date"},
    {"DTPicker2", "DatePicker", "", "Frame1", 2280, 720, 5775, 375, 975, "Before this date"},
    {"DTPicker3", "DatePicker", "", "Frame1", 2280, 1200, 5775, 375, 975, "On this date"},
    {"Check2", "PushButton", "< < Back", "page", 120, 1920, 4095, 400, 1125, "Back"},
    {"Check1", "PushButton", "Find Results", "page", 4320, 1920, 4095, 400, 1125},
    {"ListView1", "ResultsView", "", "page", 120, 2400, 8295, 2535, 900, "Results"},
    {"Check3", "PushButton", "Send Checked Items to Recycling Bin", "page", 120, 5040, 8295, 400,
     1125},
    {"Frame1", "QGroupBox", "Select Cutoff Date", "page", 120, 120, 8295, 1695, 975},
};

inline QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        return b->text();
    }
    if (auto* g = qobject_cast<QGroupBox*>(w)) {
        return g->title();
    }
    return {};
}

}  // namespace

// What both page tests share: a started program, its messages and a temporary folder.
class PagesFixture : public QObject {
  protected:
    std::unique_ptr<Application> app_;
    QStringList messages_;
    std::unique_ptr<testsupport::TempDir> tmp_;
    std::unique_ptr<testsupport::ScopedEnv> state_;

    Form1& form1() { return app_->form1(); }
    template <typename T = QWidget>
    T* on(QWidget& page, const char* name) {
        // Form2 and Form1 both have a Frame1 and a ListView1: look on the given page only.
        T* w = page.findChild<T*>(QString::fromLatin1(name));
        if (w == nullptr) {
            qFatal("no control %s on %s", name, qPrintable(page.objectName()));
        }
        return w;
    }
    PushButton* button(QWidget& page, const char* name) { return on<PushButton>(page, name); }
    void press(QWidget& page, const char* name) { button(page, name)->setValue(1); }
    void move(QWidget* w) {
        QMouseEvent event(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }
    void addRow(const std::string& path) {
        auto* tree = on<FolderTree>(form1(), "FolderTreeview1");
        QVERIFY(tree->selectPath(QByteArray::fromStdString(path)));
        press(form1(), "Check1");
    }
    // Indexes `root`, then lists its files of before 2006-06-30 on the date page.
    Form2& listBefore(const std::string& root) {
        addRow(root);
        next();
        on<QRadioButton>(*app_->form2(), "Option2")->click();
        press(*app_->form2(), "Check1");
        return *app_->form2();
    }
    QStringList rows() {
        QStringList out;
        for (const auto& r : form1().searchFolders().rows()) {
            out << QString::fromStdString(r);
        }
        return out;
    }
    // Presses "Next  > >" and waits for the date page.
    void next() {
        QSignalSpy ready(&form1(), &Form1::indexReady);
        press(form1(), "Check4");
        QVERIFY(ready.wait(10000));
    }

    void setUp() {
        messages_.clear();
        widgets::setMessageHandler(
            [this](QWidget*, const QString& text) { messages_.append(text); });
        tmp_ = std::make_unique<testsupport::TempDir>();
        // The undo journal of a test's presses, never the user's.
        state_ =
            std::make_unique<testsupport::ScopedEnv>("XDG_STATE_HOME", tmp_->path() + "/state");
        app_ = std::make_unique<Application>();
        app_->start();
        new QAbstractItemModelTester(&form1().searchFolders(),
                                     QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     &form1());
    }

    void tearDown() {
        app_.reset();
        state_.reset();
        tmp_.reset();
        widgets::setMessageHandler({});
    }
    static void makeDir(const std::string& p) { testsupport::makeDir(p); }
    // Types text key by key, letters beyond ASCII too (QTest's own keyClicks takes ASCII only).
    static void type(QWidget* w, const QString& text) {
        for (const QChar c : text) {
            if (c.unicode() < 0x80) {
                QTest::keyClick(w, c.toLatin1());
            } else {
                QTest::sendKeyEvent(QTest::Click, w, static_cast<Qt::Key>(c.toUpper().unicode()),
                                    QString(c), Qt::NoModifier);
            }
        }
    }
    static unsigned modeOf(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
    }
    static std::string readAll(const std::string& path) {
        QFile f(QString::fromStdString(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }
};
