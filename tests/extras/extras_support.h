// What the extras tests share: the Qt application of the run (ports deliver
// their events through its event loop), a wait that keeps that loop turning,
// a pseudo-terminal whose far end the test plays, and a scratch folder.
#pragma once

#include "pseudo_terminal.h"
#include "pump_until.h"

#include <functional>
#include <string>


class FarEnd {
public:
    const std::string& Path() const { return terminal_.slave_path(); }
    void Send(const std::string& bytes);
    // What has arrived from the port within the deadline, until n bytes came.
    std::string Receive(size_t n, int deadline_ms = 10000);
    // Closes our side: the port sees its far end hang up.
    void HangUp() { terminal_.hang_up(); }

private:
    pty::PseudoTerminal terminal_;
};

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
