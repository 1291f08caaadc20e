// The trash tests' fixture: a home of its own with XDG_DATA_HOME below it, so the real trash is
// never touched, and a tmpfs of its own for another volume.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/temp_tree.h"
#include "trash/trash.h"

namespace chronosift::trash {
using namespace platform;

using testsupport::makeDir;
using testsupport::makeFile;
using testsupport::TempDir;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline std::vector<std::string> names(const std::string& folder) {
    if (!exists(folder)) {
        return {};
    }
    auto list = testsupport::listFolder(folder);
    std::sort(list.begin(), list.end());
    return list;
}

// The files as named now, as a caller without a listing would hand them over.
inline std::vector<TrashItem> itemsFor(const std::vector<std::string>& paths) {
    std::vector<TrashItem> items;
    for (const auto& p : paths) {
        items.push_back(trashItemFor(p));
    }
    return items;
}

inline TrashOutcome moveToTrash(Trash& trash, const std::string& path,
                                const TrashOptions& options = {}) {
    return trash.moveAll(itemsFor({path}), options).front();
}

inline bool haveTrashCli() {
    return access("/usr/bin/trash-list", X_OK) == 0;
}

class TrashTest : public ::testing::Test {
  protected:
    TrashTest()
        : data_(home_ / "data"),
          dataEnv_("XDG_DATA_HOME", home_ / "data"),
          homeEnv_("HOME", home_.path()) {
        makeDir(data_);
        makeDir(work_);
    }

    std::string trashDir() const { return data_ + "/Trash"; }
    std::string info(const std::string& name) const {
        return readFile(trashDir() + "/info/" + name + ".trashinfo");
    }

    TempDir home_;
    std::string data_;
    testsupport::ScopedEnv dataEnv_;
    testsupport::ScopedEnv homeEnv_;
    std::string work_ = home_ / "work";
};

// A tmpfs of its own stands for another volume.
class VolumeTest : public TrashTest {
  protected:
    void SetUp() override {
        makeDir(volume_);
        if (mount("tmpfs", volume_.c_str(), "tmpfs", 0, "size=4m") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) {
            umount2(volume_.c_str(), MNT_DETACH);
        }
    }
    std::string volume_ = home_ / "volume";
    bool mounted_ = false;
    const std::string uid_ = std::to_string(geteuid());
};

}  // namespace chronosift::trash
