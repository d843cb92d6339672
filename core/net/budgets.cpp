#include "core/net/budgets.h"

#include <atomic>
#include <cmath>

namespace {
// Constant-initialised: no constructor or destructor runs for them.
std::atomic<int32_t> g_readBudget{kNoBudgetLimit};
std::atomic<int32_t> g_writeBudget{kNoBudgetLimit};

int32_t clampBudget(int32_t bytes) {
    if (bytes < 0) return 0;
    return bytes > kNoBudgetLimit ? kNoBudgetLimit : bytes;
}

void charge(std::atomic<int32_t>& budget, int count) {
    if (count <= 0) return;
    int32_t left = budget.load(std::memory_order_relaxed);
    budget.store(count >= left ? 0 : left - count, std::memory_order_relaxed);
}
}  // namespace

int32_t readBudget() { return g_readBudget.load(std::memory_order_relaxed); }
int32_t writeBudget() { return g_writeBudget.load(std::memory_order_relaxed); }
void setReadBudget(int32_t bytes) { g_readBudget.store(clampBudget(bytes), std::memory_order_relaxed); }
void setWriteBudget(int32_t bytes) { g_writeBudget.store(clampBudget(bytes), std::memory_order_relaxed); }
void chargeReadBudget(int count) { charge(g_readBudget, count); }
void chargeWriteBudget(int count) { charge(g_writeBudget, count); }

void budgets_reset() {
    setReadBudget(kNoBudgetLimit);
    setWriteBudget(kNoBudgetLimit);
}

int32_t budgetForService(double limit, int64_t elapsedMs, double* carry) {
    if (limit == 0.0) {
        *carry = 0.0;
        return kNoBudgetLimit;
    }
    double total = limit * static_cast<double>(elapsedMs) + *carry;
    if (!(total > 0.0)) {  // negative, or not a number
        *carry = 0.0;
        return 0;
    }
    if (total >= static_cast<double>(kNoBudgetLimit)) {
        *carry = 0.0;
        return kNoBudgetLimit;
    }
    double whole = std::floor(total);
    *carry = total - whole;
    return static_cast<int32_t>(whole);
}

void carryUnspent(double limit, int32_t unspent, double* carry) {
    if (!(limit > 0.0) || unspent <= 0) return;
    const double most = limit * kBudgetCarryMs;
    const double total = *carry + unspent;
    if (total <= most)
        *carry = total;
    else if (*carry < most)
        *carry = most;
}
