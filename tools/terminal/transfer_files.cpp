#include "transfer_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace transfer {

namespace {

std::string Reason(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// The permissions a file made the ordinary way would get (mkstemp makes it
// readable by its owner only).
mode_t NewFileMode()
{
    static const mode_t mode = [] {
        const mode_t mask = ::umask(022);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

} // namespace

std::optional<Source> OpenSource(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = Reason("cannot read " + path, errno);
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "cannot send " + path + ": not a regular file";
        return std::nullopt;
    }
    auto held = std::shared_ptr<int>(new int(fd), [](int* p) {
        ::close(*p);
        delete p;
    });
    Source source;
    const size_t slash = path.find_last_of('/');
    source.name = slash == std::string::npos ? path : path.substr(slash + 1);
    source.size = static_cast<uint64_t>(st.st_size);
    source.read = [held](uint64_t offset, uint8_t* into, size_t n) {
        while (n > 0) {
            const ssize_t got = ::pread(*held, into, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false; // shorter than it was: changed under us
            into += got;
            n -= static_cast<size_t>(got);
            offset += static_cast<uint64_t>(got);
        }
        return true;
    };
    return source;
}

FolderSink::FolderSink(std::string folder, std::string fixed_name)
    : folder_(folder.empty() ? std::string(".") : std::move(folder)), fixed_name_(std::move(fixed_name))
{
}

FolderSink::~FolderSink() { Abandon(); }

bool FolderSink::Begin(const std::string& name, std::optional<uint64_t>, std::string& error)
{
    Abandon();
    name_ = fixed_name_.empty() ? name : fixed_name_;
    if (name_.empty()) {
        error = "no name for the file received";
        return false;
    }
    // Hidden and unmistakable, next to where the file goes, so that the
    // final rename stays on one file system.
    std::string pattern = folder_ + "/." + name_ + ".part-XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error = Reason("cannot write in " + folder_, errno);
        return false;
    }
    temp_ = pattern;
    ::fchmod(fd_, NewFileMode());
    return true;
}

bool FolderSink::Write(const uint8_t* data, size_t n, std::string& error)
{
    while (n > 0) {
        const ssize_t w = ::write(fd_, data, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            error = Reason("cannot write " + temp_, w < 0 ? errno : ENOSPC);
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool FolderSink::Finish(std::string& error)
{
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
        error = Reason("cannot write " + temp_, errno);
        fd_ = -1;
        Abandon();
        return false;
    }
    fd_ = -1;
    // link() never replaces a file, where rename() would.
    for (int n = 0; n < 1000; ++n) {
        const std::string path = folder_ + "/" + name_ + (n == 0 ? "" : '.' + std::to_string(n));
        if (::link(temp_.c_str(), path.c_str()) == 0) {
            ::unlink(temp_.c_str());
            temp_.clear();
            written_.push_back(path);
            return true;
        }
        if (errno != EEXIST) {
            error = Reason("cannot create " + path, errno);
            Abandon();
            return false;
        }
    }
    error = "cannot find a free name for " + name_ + " in " + folder_;
    Abandon();
    return false;
}

void FolderSink::Abandon()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temp_.empty())
        ::unlink(temp_.c_str());
    temp_.clear();
}

} // namespace transfer
