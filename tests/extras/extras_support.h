// What the extras tests share: the Qt application of the run (ports deliver
// their events through its event loop), a wait that keeps that loop turning,
// a pseudo-terminal whose far end the test plays, and a scratch folder.
#pragma once

#include "far_end.h"
#include "pump_until.h"
#include "scratch_folder.h"

#include <functional>
#include <string>

// A scratch folder, with the names the extras tests use.
class TempFolder : public ScratchFolder {
public:
    TempFolder() : ScratchFolder("tarnby-extras") {}
    const std::string& Path() const { return path(); }
    std::string File(const std::string& name) const { return path() + "/" + name; }
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& text);
