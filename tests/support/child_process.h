// A program a test starts and ends: its standard input is a pipe the test
// writes lines to, its standard output (and its standard error, where asked)
// pipes whose lines the test takes in without waiting. When the object goes,
// the child is ended and reaped: its input closes, then SIGTERM, then SIGKILL
// after a grace, so that no test leaves anything running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class ChildProcess {
public:
    // Where the child's standard error goes.
    enum class ErrorOutput { Read, Discard, Inherit };

    ChildProcess(const std::string& program, const std::vector<std::string>& arguments, ErrorOutput error_output);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Why it could not be started; empty when it was.
    const std::string& error() const { return error_; }
    pid_t pid() const { return pid_; }

    // Types one line on its standard input; the test fails if it cannot.
    void command(const std::string& line);
    // Takes in what it has printed since; cheap, call it while waiting.
    void collect();
    // Waits until out_lines() has grown by a line, the child has closed its
    // standard output, or the deadline has passed; true if it grew.
    bool wait_for_output_line(std::chrono::milliseconds deadline);
    std::vector<std::string>& out_lines() { return out_lines_; }
    std::vector<std::string>& err_lines() { return err_lines_; }
    const std::vector<std::string>& out_lines() const { return out_lines_; }
    const std::vector<std::string>& err_lines() const { return err_lines_; }

    // Ends it at once, as pulling its power would.
    void kill_now();

protected:
    void fail(const std::string& why) { error_ = why; }

private:
    void reap(std::chrono::milliseconds grace);

    pid_t pid_ = -1;
    int to_child_ = -1;
    int from_out_ = -1;
    int from_err_ = -1;
    std::string error_;
    std::string out_text_;
    std::string err_text_;
    std::vector<std::string> out_lines_;
    std::vector<std::string> err_lines_;
};

// The environment of a program a test starts with posix_spawn: this
// process's own, less every variable named in `settings` ("NAME=value") or
// beginning with one of `without_prefixes`, plus `settings`.
class SpawnEnvironment {
public:
    explicit SpawnEnvironment(const std::vector<std::string>& settings,
                              const std::vector<std::string>& without_prefixes = {});
    SpawnEnvironment(const SpawnEnvironment&) = delete;
    SpawnEnvironment& operator=(const SpawnEnvironment&) = delete;
    // For posix_spawn's envp: valid while the object lives.
    char** data() { return pointers_.data(); }

private:
    std::vector<std::string> entries_;
    std::vector<char*> pointers_;
};
