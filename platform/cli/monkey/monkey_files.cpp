// The files of the monkey's runs (see monkey_files.h).
#include "platform/cli/monkey/monkey_files.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

using namespace handset;

namespace cli::monkey {
namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> read_lines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(std::move(line));
    return lines;
}

void write_text(const fs::path& path, const std::string& text) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string() +
                                 (errno ? ": " + std::string(std::strerror(errno)) : ""));
}

RegTree read_phone_book(const fs::path& registry_file) {
    RegTree tree;
    RegistryStore store(registry_file.string());
    const RegStatus status = store.read_tree({RegRoot::CurrentUser, u"Comm\\RasBook"}, tree);
    if (status != RegStatus::Ok && status != RegStatus::NotFound)
        throw std::runtime_error("cannot read the phone book of " + registry_file.string() + ": " + describe(status));
    return tree;
}

}  // namespace cli::monkey
