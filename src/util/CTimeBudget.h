// Wall-clock time a search may spend, on the steady clock: searches whose cost depends on the
// data (joins of file pieces) stop when it is spent instead of after a fixed number of tries.
#pragma once

#include <chrono>
#include <cstdint>

class CTimeBudget {
public:
    using Clock = std::chrono::steady_clock;

    explicit CTimeBudget(std::chrono::milliseconds budget);

    bool IsSpent() const;
    uint64_t ElapsedMs() const;

private:
    Clock::time_point m_start;
    Clock::time_point m_end;
};
