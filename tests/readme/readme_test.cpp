// The README's blocks as a newcomer meets them. Each fenced block carries a marker in
// the README's source, on the line before it:
//   <!-- readme: run -->              a shell block, run here in order, in one folder
//   <!-- readme: file NAME -->        a file a later block uses, written as NAME
//   <!-- readme: shown -->            a picture of a screen or a synopsis, not a command
//   <!-- readme: by hand: REASON -->  a block that needs a person, a desktop or Windows
// Every block must have one. The blocks run with `quillon` on the PATH and at
// build/default/quillon, as in a built checkout; their /tmp paths and the default
// device live in a scratch folder, so that a run leaves nothing behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/build_paths.h"
#include "common/child_process.h"
#include "common/temp_dir.h"

namespace {

struct Block {
    int line = 0;        // of its opening fence
    std::string marker;  // after "readme: "; empty without one
    std::string text;
};

std::vector<Block> blocks_of(const std::string& readme) {
    std::vector<Block> blocks;
    std::istringstream in(readme);
    std::string line, previous;
    std::optional<Block> open;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.starts_with("```")) {
            if (open) {
                blocks.push_back(std::move(*open));
                open.reset();
            } else {
                open = Block{number, "", ""};
                const std::string head = "<!-- readme: ";
                if (previous.starts_with(head) && previous.ends_with(" -->"))
                    open->marker = previous.substr(head.size(), previous.size() - head.size() - 4);
            }
        } else if (open) {
            open->text += line + "\n";
        }
        previous = line;
    }
    return blocks;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

TEST(Readme, EveryBlockRunsAsWrittenOrIsMarked) {
    const std::vector<Block> blocks = blocks_of(qtest::read_file(std::filesystem::path(qtest::kSourceDir) / "README.md"));
    qtest::TempDir dir;
    const std::filesystem::path work = dir / "work";
    std::filesystem::create_directories(work / "build" / "default");
    std::filesystem::create_directories(dir / "bin");
    std::filesystem::create_directories(dir / "tmp");
    std::filesystem::create_symlink(qtest::kQuillonBinary, work / "build" / "default" / "quillon");
    std::filesystem::create_symlink(qtest::kQuillonBinary, dir / "bin" / "quillon");

    int run = 0, files = 0, shown = 0, by_hand = 0;
    for (const Block& b : blocks) {
        SCOPED_TRACE("README line " + std::to_string(b.line));
        if (b.marker == "run") {
            ++run;
            const std::string text = replace_all(b.text, "/tmp/", (dir / "tmp").string() + "/");
            qtest::write_file(dir / "block.sh", "set -e\n" + text);
            const std::string command = "cd '" + work.string() + "' && PATH='" + (dir / "bin").string() +
                                        ":'\"$PATH\" XDG_STATE_HOME='" + (dir / "state").string() + "' bash '" +
                                        (dir / "block.sh").string() + "' >'" + (dir / "out").string() + "' 2>&1";
            const int status = std::system(command.c_str());
            EXPECT_EQ(status, 0) << b.text << qtest::read_file(dir / "out");
        } else if (b.marker.starts_with("file ")) {
            ++files;
            qtest::write_file(work / b.marker.substr(5), b.text);
        } else if (b.marker == "shown") {
            ++shown;
        } else if (b.marker.starts_with("by hand: ") && b.marker.size() > 9) {
            ++by_hand;
        } else {
            ADD_FAILURE() << "the block has no readme marker (run, file NAME, shown, by hand: REASON):\n" << b.text;
        }
    }
    std::printf("README blocks: %d run, %d files, %d shown, %d by hand\n", run, files, shown, by_hand);
    EXPECT_GE(run, 2);
    // The runs made what the README says they make.
    EXPECT_TRUE(std::filesystem::exists(work / "run.json"));
    EXPECT_TRUE(std::filesystem::exists(work / "run.jsonl"));
}

}  // namespace
