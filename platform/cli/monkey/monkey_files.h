// The files of the monkey's runs: their scripts and logs as text, and the phone book
// of a device's registry.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/handset/registry/store.h"

namespace cli::monkey {

// The whole file; empty when it cannot be read.
std::string read_text(const std::filesystem::path& path);
// The file's lines, without their line breaks.
std::vector<std::string> read_lines(const std::filesystem::path& path);
// Replaces the file's contents; throws std::runtime_error when it cannot.
void write_text(const std::filesystem::path& path, const std::string& text);
// HKCU Comm\RasBook of a registry file; no subkeys when it is not there.
// Throws std::runtime_error when the registry cannot be read.
handset::RegTree read_phone_book(const std::filesystem::path& registry_file);

}  // namespace cli::monkey
