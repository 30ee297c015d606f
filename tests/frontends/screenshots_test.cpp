// tools/screenshots, which renews the README's pictures, still reaches every screen: run
// into a scratch folder, it writes each picture the README shows and no other, each a
// whole screen (or, for the phone window's picture, the whole window), and the
// repository holds the same pictures.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "common/build_paths.h"
#include "common/child_process.h"
#include "platform/frontends/window/window_layout.h"

namespace {

using namespace qtest;

std::set<std::string> png_names(const fs::path& folder) {
    std::set<std::string> names;
    if (fs::is_directory(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".png") names.insert(entry.path().filename().string());
    return names;
}

// Width and height from the PNG's header chunk, or nothing when the file is no PNG.
std::optional<std::pair<unsigned, unsigned>> png_size(const fs::path& path) {
    const std::string bytes = read_file(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return std::nullopt;
    const auto be32 = [&](std::size_t at) {
        unsigned v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    return std::pair{be32(16), be32(20)};
}

TEST(Screenshots, TheToolWritesEachPictureTheReadmeShowsAsAWholeScreen) {
    const fs::path source(qtest::kSourceDir);
    const std::string readme = read_file(source / "README.md");
    const std::regex link(R"(!\[[^\]]+\]\(docs/screens/([^)]+)\))");
    std::set<std::string> shown;
    for (auto it = std::sregex_iterator(readme.begin(), readme.end(), link); it != std::sregex_iterator(); ++it)
        shown.insert((*it)[1]);
    ASSERT_FALSE(shown.empty()) << "no picture links in the README";

    TempDir dir("quillon-shots");
    const Result run =
        run_quillon({"--no-build", "--out", dir.file("screens"), fs::path(qtest::kQuillonBinary).parent_path()}, {},
                    (source / "tools/screenshots").string());
    ASSERT_EQ(run.status, 0) << run.err;

    // The pictures of Quillon.exe under Wine come from `tools/screenshots --win32`.
    std::set<std::string> handset_shots;
    for (const std::string& name : shown)
        if (!name.starts_with("win32-")) handset_shots.insert(name);
    EXPECT_EQ(png_names(dir / "screens"), handset_shots);
    EXPECT_EQ(png_names(source / "docs/screens"), shown) << "run tools/screenshots and commit docs/screens";
    for (const std::string& name : png_names(dir / "screens")) {
        const auto size = png_size(dir / "screens" / name);
        ASSERT_TRUE(size.has_value()) << name << " is no PNG";
        // The one picture of the whole phone window is the window at its default scale.
        const auto window = frontends::window_layout(frontends::kDefaultWindowScale);
        const auto expected = name == "window.png"
                                  ? std::pair{static_cast<unsigned>(window.width), static_cast<unsigned>(window.height)}
                                  : std::pair{320u, 240u};
        EXPECT_EQ(*size, expected) << name;
    }
}

}  // namespace
