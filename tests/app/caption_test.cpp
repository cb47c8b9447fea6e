// The caption the desktop shows. Qt's offscreen platform keeps the title as
// it was set; only a real window system composes what the user sees (and
// would add an application display name to it). So the program itself runs
// here under a virtual X server of its own, and the title is read back from
// the X server.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "this_system.h"

#ifdef TARNBY_HAVE_XCB
#include <xcb/xcb.h>
#endif

extern char** environ;

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

std::optional<std::string> on_path(const char* program)
{
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= rest.size();) {
        const size_t end = std::min(rest.find(':', start), rest.size());
        const std::string candidate = rest.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

// A process this test started; ended (and reaped) when the test is done.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { end(); }

    // argv[0] is the program; `environment` replaces the whole environment;
    // `pass_fd`, if not -1, reaches the child as descriptor 3.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& environment, int pass_fd = -1)
    {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> env;
        for (const auto& e : environment)
            env.push_back(const_cast<char*>(e.c_str()));
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (pass_fd >= 0)
            posix_spawn_file_actions_adddup2(&actions, pass_fd, 3);
        const int failed = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0)
            pid_ = -1;
        return failed == 0;
    }

    bool running()
    {
        if (pid_ <= 0)
            return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    void end()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        const auto deadline = clock_type::now() + 10s;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (clock_type::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            poll(nullptr, 0, 10);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// The environment of this test without anything that would choose another
// display, platform or program behaviour, plus `extra`.
std::vector<std::string> clean_environment(const std::vector<std::string>& extra)
{
    const auto dropped = [](const std::string& entry) {
        for (const char* prefix : {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "TARNBY_"})
            if (entry.rfind(prefix, 0) == 0)
                return true;
        return false;
    };
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (!dropped(*e))
            env.emplace_back(*e);
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// Starts Xvfb on a free display; the display's number, or nothing.
std::optional<std::string> start_virtual_display(Child& server, const std::string& xvfb)
{
    int ready[2];
    if (!this_system::close_on_exec_pipe(ready))
        return std::nullopt;
    const bool started = server.start({xvfb, "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "800x600x24"},
                                      clean_environment({}), ready[1]);
    close(ready[1]);
    std::string number;
    const auto deadline = clock_type::now() + 30s;
    while (started && clock_type::now() < deadline && number.find('\n') == std::string::npos) {
        pollfd p{ready[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[16];
        const ssize_t got = read(ready[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        number.append(buffer, static_cast<size_t>(got));
    }
    close(ready[0]);
    const size_t end = number.find('\n');
    if (end == std::string::npos || end == 0)
        return std::nullopt;
    return ':' + number.substr(0, end);
}

#ifdef TARNBY_HAVE_XCB
std::string text_property(xcb_connection_t* connection, xcb_window_t window, const char* name)
{
    const xcb_intern_atom_cookie_t atom_cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection, atom_cookie, nullptr);
    if (atom == nullptr)
        return {};
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    free(atom);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    if (reply == nullptr)
        return {};
    std::string value(static_cast<const char*>(xcb_get_property_value(reply)),
                      static_cast<size_t>(xcb_get_property_value_length(reply)));
    free(reply);
    return value;
}

// The title (_NET_WM_NAME, else WM_NAME) of the top-level window that shows
// the instrument, once one is mapped.
std::optional<std::string> instrument_window_title(xcb_connection_t* connection)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
    if (tree == nullptr)
        return std::nullopt;
    std::optional<std::string> found;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, children[i]), nullptr);
        const bool mapped = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        free(attributes);
        if (!mapped)
            continue;
        std::string title = text_property(connection, children[i], "_NET_WM_NAME");
        if (title.empty())
            title = text_property(connection, children[i], "WM_NAME");
        if (title.find("QR-7") != std::string::npos)
            found = title;
    }
    free(tree);
    return found;
}
#endif

}  // namespace

TEST(WindowCaption, TheDesktopShowsExactlyTheInstrumentsName)
{
#ifndef TARNBY_HAVE_XCB
    GTEST_SKIP() << "built without xcb: the X server's view of the window cannot be read";
#else
    const auto xvfb = on_path("Xvfb");
    if (!xvfb)
        GTEST_SKIP() << "Xvfb is not installed (tools/dev.sh installs it)";
    ASSERT_TRUE(std::filesystem::exists(TARNBY_PROGRAM)) << "build the tarnby target first: " << TARNBY_PROGRAM;

    Child server;
    const auto display = start_virtual_display(server, *xvfb);
    ASSERT_TRUE(display) << "Xvfb did not come up";
    xcb_connection_t* connection = xcb_connect(display->c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);

    Child program;
    ASSERT_TRUE(program.start({TARNBY_PROGRAM}, clean_environment({"DISPLAY=" + *display, "QT_QPA_PLATFORM=xcb"})));
    std::optional<std::string> title;
    const auto deadline = clock_type::now() + 60s;
    while (!title && program.running() && clock_type::now() < deadline) {
        title = instrument_window_title(connection);
        if (!title)
            poll(nullptr, 0, 20);
    }
    program.end();
    xcb_disconnect(connection);
    ASSERT_TRUE(title) << "the window never showed";
    EXPECT_EQ(*title, "Aldane QR-7");
#endif
}
