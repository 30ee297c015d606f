// A scratch folder for a test: made below /tmp (short, so that socket paths fit) and
// removed with everything in it when the object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace qtest {

class TempDir {
public:
    // `prefix` names the folder, for whoever finds one left behind by a crashed test.
    explicit TempDir(const std::string& prefix = "qt") {
        std::string name = "/tmp/" + prefix + "-XXXXXX";
        if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make a scratch folder " + name);
        path_ = name;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // The host path of `name` inside, as text (what SQLite and the tools take).
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace qtest
