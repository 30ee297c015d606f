// Delta debugging over a failing script's lines (see shrink() in monkey.h).
#include <algorithm>
#include <set>

#include "platform/cli/monkey/monkey.h"

namespace cli::monkey {
namespace {

// `items` cut into `n` runs of nearly equal length, in order.
std::vector<std::vector<std::string>> split(const std::vector<std::string>& items, std::size_t n) {
    std::vector<std::vector<std::string>> parts;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t end = begin + (items.size() - begin) / (n - i);
        parts.emplace_back(items.begin() + static_cast<long>(begin), items.begin() + static_cast<long>(end));
        begin = end;
    }
    return parts;
}

}  // namespace

std::vector<std::string> shrink(std::vector<std::string> items, const FailurePredicate& fails, int max_tests) {
    // A subset seen before did not fail: a failing one would have been taken.
    std::set<std::vector<std::string>> tried{items};
    int tests = 0;
    bool spent = false;
    auto test = [&](const std::vector<std::string>& candidate) {
        if (spent || !tried.insert(candidate).second) return false;
        if (tests >= max_tests) {
            spent = true;
            return false;
        }
        ++tests;
        const std::optional<bool> answer = fails(candidate);
        if (!answer) spent = true;
        return answer.value_or(false);
    };

    std::size_t n = 2;
    while (items.size() >= 2 && !spent) {
        const auto parts = split(items, n);
        bool reduced = false;
        for (const auto& part : parts) {
            if (test(part)) {
                items = part;
                n = 2;
                reduced = true;
                break;
            }
        }
        // With two parts each complement is the other part, tried just now.
        for (std::size_t i = 0; !reduced && n > 2 && i < parts.size(); ++i) {
            std::vector<std::string> complement;
            for (std::size_t j = 0; j < parts.size(); ++j)
                if (j != i) complement.insert(complement.end(), parts[j].begin(), parts[j].end());
            if (test(complement)) {
                items = std::move(complement);
                n = std::max<std::size_t>(n - 1, 2);
                reduced = true;
            }
        }
        if (reduced) continue;
        if (n >= items.size()) break;
        n = std::min(items.size(), n * 2);
    }
    return items;
}

}  // namespace cli::monkey
