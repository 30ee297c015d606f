// Handset-command lines that name the program's resources, so that a test script reads
// Command(ID_MENU_3GSVC) + Click(IDC_BLOCK_3GSVC) where the phone gets
// "command 32777\nclick 1004\n". Each helper gives one whole line.
#pragma once

#include <string>

#include "res/resources.h"

namespace qtest {

inline std::string Command(int id) { return "command " + std::to_string(id) + "\n"; }
inline std::string Click(int id) { return "click " + std::to_string(id) + "\n"; }
// The user picks entry `index` of list `id`.
inline std::string Select(int id, int index) {
    return "select " + std::to_string(id) + " " + std::to_string(index) + "\n";
}

}  // namespace qtest
