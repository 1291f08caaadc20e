// Handing things over to the desktop.
#pragma once

#include <string>

namespace chronosift::platform {

// Shows the file selected in the desktop's file manager (org.freedesktop.FileManager1 over
// D-Bus), or, failing that, opens its folder with xdg-open. False when neither could be asked.
bool showInFileManager(const std::string& filePath);

// Opens the file with the desktop's default application for it, through xdg-open. False when
// xdg-open could not be started.
bool openWithDefaultApplication(const std::string& filePath);

}  // namespace chronosift::platform
