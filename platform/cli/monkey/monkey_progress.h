// The monkey's progress line: runs done and failures so far, updated in place on a
// terminal and as a line every tenth of the runs otherwise.
#pragma once

#include <ostream>
#include <string>

namespace cli::monkey {

class Progress {
public:
    Progress(std::ostream& err, bool terminal, int total);

    // One more run done.
    void count(bool passed);
    // On a terminal the line also says what the monkey is doing now.
    void show(const std::string& doing = {});
    // Clears the line in place before other output.
    void clear();

private:
    std::ostream& err_;
    bool terminal_;
    int total_;
    int step_;
    int done_ = 0;
    int failed_ = 0;
    bool shown_ = false;
};

}  // namespace cli::monkey
