#include "extras_support.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

void FarEnd::Send(const std::string& bytes)
{
    ASSERT_TRUE(terminal_.write_all(bytes.data(), bytes.size())) << "write to the far end failed: errno " << errno;
}

std::string FarEnd::Receive(size_t n, int deadline_ms)
{
    return terminal_.receive(
        n, deadline_ms, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }, 20);
}

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnby-extras-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("no temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}
