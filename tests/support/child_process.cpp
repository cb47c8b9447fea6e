#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "this_system.h"

extern char** environ;

namespace {

void close_if_open(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void read_lines(int fd, std::string& text, std::vector<std::string>& lines)
{
    if (fd < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    size_t end;
    while ((end = text.find('\n')) != std::string::npos) {
        lines.push_back(text.substr(0, end));
        text.erase(0, end + 1);
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           ErrorOutput error_output)
{
    if (program.empty() || ::access(program.c_str(), X_OK) != 0) {
        error_ = "no program to run at \"" + program + "\"";
        return;
    }
    int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
    const bool piped = this_system::close_on_exec_pipe(in_pipe) && this_system::close_on_exec_pipe(out_pipe) &&
                       (error_output != ErrorOutput::Read || this_system::close_on_exec_pipe(err_pipe));
    if (!piped) {
        error_ = std::string("no pipe to the child: ") + std::strerror(errno);
        for (int* fds : {in_pipe, out_pipe, err_pipe}) {
            close_if_open(fds[0]);
            close_if_open(fds[1]);
        }
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    if (error_output == ErrorOutput::Read)
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    else if (error_output == ErrorOutput::Discard)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close_if_open(in_pipe[0]);
    close_if_open(out_pipe[1]);
    close_if_open(err_pipe[1]);
    to_child_ = in_pipe[1];
    from_out_ = out_pipe[0];
    from_err_ = err_pipe[0];
    if (spawned != 0) {
        pid_ = -1;
        error_ = "cannot start " + program + ": " + std::strerror(spawned);
        return;
    }
    for (int fd : {from_out_, from_err_})
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

ChildProcess::~ChildProcess()
{
    close_if_open(to_child_);  // the end of its input may end it already
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        reap(std::chrono::seconds(10));
    }
    close_if_open(from_out_);
    close_if_open(from_err_);
}

void ChildProcess::reap(std::chrono::milliseconds grace)
{
    const auto until = std::chrono::steady_clock::now() + grace;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        // Its end is all it has left to say; a short poll on nothing keeps
        // this from spinning.
        ::poll(nullptr, 0, 10);
    }
    pid_ = -1;
}

void ChildProcess::kill_now()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    reap(std::chrono::seconds(30));
}

void ChildProcess::command(const std::string& line)
{
    const std::string text = line + "\n";
    size_t done = 0;
    while (to_child_ >= 0 && done < text.size()) {
        const ssize_t n = ::write(to_child_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    EXPECT_EQ(done, text.size()) << "could not type \"" << line << "\" to the child: " << std::strerror(errno);
}

void ChildProcess::collect()
{
    read_lines(from_out_, out_text_, out_lines_);
    read_lines(from_err_, err_text_, err_lines_);
}

bool ChildProcess::wait_for_output_line(std::chrono::milliseconds deadline)
{
    const size_t seen = out_lines_.size();
    const auto until = std::chrono::steady_clock::now() + deadline;
    collect();
    while (out_lines_.size() == seen && from_out_ >= 0 && std::chrono::steady_clock::now() < until) {
        pollfd p{from_out_, POLLIN, 0};
        if (::poll(&p, 1, 100) < 0 && errno != EINTR)
            break;
        collect();
        if ((p.revents & POLLHUP) && !(p.revents & POLLIN))
            break;
    }
    return out_lines_.size() > seen;
}

SpawnEnvironment::SpawnEnvironment(const std::vector<std::string>& settings,
                                   const std::vector<std::string>& without_prefixes)
    : entries_(settings)
{
    std::vector<std::string> left_out = without_prefixes;
    for (const std::string& setting : settings)
        left_out.push_back(setting.substr(0, setting.find('=') + 1));
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool keep = true;
        for (const std::string& prefix : left_out)
            keep = keep && entry.rfind(prefix, 0) != 0;
        if (keep)
            entries_.push_back(entry);
    }
    for (std::string& entry : entries_)
        pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
}
