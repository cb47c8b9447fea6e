// The files behind a transfer: a file to send, and received files written
// under a temporary name in their folder and put in place only when whole,
// never over an existing file (a numbered name instead: "log.txt.1").
#pragma once

#include "file_transfer.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace transfer {

// The file at `path` as a Source named by its bare name; nothing, with
// `error` set, when it cannot be read.
std::optional<Source> OpenSource(const std::string& path, std::string& error);

class FolderSink : public Sink {
public:
    // Files go into `folder`. With `fixed_name` every file is given that
    // name (XMODEM, where the sender names none).
    explicit FolderSink(std::string folder, std::string fixed_name = {});
    ~FolderSink() override;
    FolderSink(const FolderSink&) = delete;
    FolderSink& operator=(const FolderSink&) = delete;

    bool Begin(const std::string& name, std::optional<uint64_t> size, std::string& error) override;
    bool Write(const uint8_t* data, size_t n, std::string& error) override;
    bool Finish(std::string& error) override;
    void Abandon() override;

    // The paths of the files put in place.
    const std::vector<std::string>& Written() const { return written_; }

private:
    std::string folder_;
    std::string fixed_name_;
    std::string name_;
    std::string temp_;
    int fd_ = -1;
    std::vector<std::string> written_;
};

} // namespace transfer
