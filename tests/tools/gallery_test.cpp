// The README's pictures of the instrument's screens are what the firmware
// draws today: the gallery is drawn again into a scratch folder and compared,
// picture by picture and index by index, with docs/images.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tool_support.h"

using namespace tools_test;
namespace fs = std::filesystem;

namespace {

std::set<std::string> names_in(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

std::string text_of(const fs::path& file)
{
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(Gallery, DocsImagesAreWhatTheFirmwareDraws)
{
    ScratchDir drawn;
    const Outcome r = run(program_path("screenshot"), {"--docs", drawn.qpath()}, QProcessEnvironment::systemEnvironment());
    ASSERT_EQ(r.exit_code, 0) << r.err;

    const fs::path docs = fs::path(source_dir()) / "docs" / "images";
    for (const char* folder : {"screens", "menus"}) {
        SCOPED_TRACE(folder);
        const fs::path kept = docs / folder;
        const fs::path fresh = fs::path(drawn.path()) / folder;
        ASSERT_TRUE(fs::is_directory(kept));
        EXPECT_EQ(names_in(kept), names_in(fresh)) << "a picture missing or left over";
        EXPECT_EQ(text_of(kept / "README.md"), text_of(fresh / "README.md"));
        std::vector<std::string> differing;
        for (const std::string& name : names_in(fresh)) {
            if (fs::path(name).extension() != ".png" || !fs::exists(kept / name))
                continue;
            const QImage a = QImage(QString::fromStdString((kept / name).string())).convertToFormat(QImage::Format_RGB32);
            const QImage b = QImage(QString::fromStdString((fresh / name).string())).convertToFormat(QImage::Format_RGB32);
            if (a.isNull() || a != b)
                differing.push_back(name);
        }
        EXPECT_TRUE(differing.empty()) << differing.size() << " pictures differ, the first " << differing.front()
                                       << "; after a change to what the firmware draws, run "
                                          "`cmake --build <build> --target gallery` and commit docs/images";
    }
}
