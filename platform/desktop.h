// Handing things over to the desktop. Paths go over as file:// URIs escaped from their bytes, so
// a name that is not UTF-8 arrives whole.
#pragma once

#include <functional>
#include <string>

namespace chronosift::platform {

// "file://" and the path's bytes escaped for a URI.
std::string fileUri(const std::string& path);

// What became of a hand-over: "" when it went, else why not, in English.
using DesktopDone = std::function<void(const std::string& failure)>;

// Opens the file with the desktop's default application for it, through xdg-open. `done` is
// called on this thread once xdg-open has ended, or could not be started.
void openWithDefaultApplication(const std::string& filePath, DesktopDone done);

// Shows the file selected in the desktop's file manager (org.freedesktop.FileManager1 over
// D-Bus), or, where none answers, opens its folder with xdg-open.
void showInFileManager(const std::string& filePath, DesktopDone done);

}  // namespace chronosift::platform
