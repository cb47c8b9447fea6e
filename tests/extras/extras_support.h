// What the extras tests share: the Qt application of the run (ports deliver
// their events through its event loop), a wait that keeps that loop turning,
// a pseudo-terminal whose far end the test plays, and a scratch folder.
#pragma once

#include "far_end.h"
#include "pump_until.h"

#include <functional>
#include <string>

// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the scope.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& text);
