// Deadlines on the steady clock.
#include "util/CTimeBudget.h"

CTimeBudget::CTimeBudget(std::chrono::milliseconds budget)
    : m_start(Clock::now()), m_end(m_start + budget) {}

bool CTimeBudget::IsSpent() const {
    return Clock::now() >= m_end;
}

uint64_t CTimeBudget::ElapsedMs() const {
    return uint64_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count());
}
