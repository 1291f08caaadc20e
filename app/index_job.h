// Runs one index build off the user-interface thread and reports back on it.
#pragma once

#include <QObject>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "index/file_index.h"

namespace chronosift {

class IndexJob : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    // Cancels a running build and waits for its thread, which stops at the next entry.
    ~IndexJob() override;

    void start(std::vector<std::string> rows);
    bool running() const { return thread_.joinable(); }
    void cancel() { cancel_ = true; }

  signals:
    // Files counted so far, at most ten times a second.
    void progress(quint64 files);
    void finished(chronosift::IndexSnapshot index);
    // A build stopped by cancel() before it was done.
    void cancelled();

  private:
    void join();

    std::thread thread_;
    std::atomic<bool> cancel_{false};
};

}  // namespace chronosift
