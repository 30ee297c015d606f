// The monkeys' dice: draws from std::mt19937_64, whose sequence the standard fixes,
// without the standard distributions, whose results differ between libraries, so that
// a seed means the same run on every build. Both the handset's monkey and the driver
// that plays one against Quillon.exe under Wine draw from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace cli::monkey {

class Dice {
public:
    explicit Dice(std::uint64_t seed) : engine_(seed) {}

    // Uniform in [0, n); n > 0.
    std::uint64_t below(std::uint64_t n) {
        const std::uint64_t limit = ~std::uint64_t{0} - (~std::uint64_t{0} % n);
        std::uint64_t x;
        do x = engine_();
        while (x >= limit);
        return x % n;
    }
    long long between(long long lo, long long hi) { return lo + static_cast<long long>(below(hi - lo + 1)); }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
    // An index into `weights`, each chosen in proportion to its weight.
    template <std::size_t N>
    std::size_t weighted(const std::array<int, N>& weights) {
        int total = 0;
        for (int w : weights) total += w;
        long long pick = static_cast<long long>(below(static_cast<std::uint64_t>(total)));
        for (std::size_t i = 0; i < N; ++i) {
            if (pick < weights[i]) return i;
            pick -= weights[i];
        }
        return N - 1;
    }
    template <class T>
    const T& one_of(const std::vector<T>& items) {
        return items[below(items.size())];
    }

private:
    std::mt19937_64 engine_;
};

}  // namespace cli::monkey
