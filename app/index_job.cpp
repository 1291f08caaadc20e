#include "app/index_job.h"

#include <QMetaObject>

#include "index/build.h"

namespace chronosift {

IndexJob::~IndexJob() {
    cancel_ = true;
    join();
}

void IndexJob::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void IndexJob::start(std::vector<std::string> rows) {
    join();
    cancel_ = false;
    thread_ = std::thread([this, rows = std::move(rows)] {
        BuildOptions options;
        options.cancel = &cancel_;
        options.progress = [this](uint64_t files) {
            QMetaObject::invokeMethod(
                this, [this, files] { emit progress(files); }, Qt::QueuedConnection);
        };
        IndexSnapshot index = buildIndex(rows, options);
        if (index == nullptr) {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    join();
                    emit cancelled();
                },
                Qt::QueuedConnection);
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, index] {
                join();
                emit finished(index);
            },
            Qt::QueuedConnection);
    });
}

}  // namespace chronosift
