// Byte budgets: the bytes the socket pool lets every TCP and UDP read and
// write move in the current service. The pool sets them before each
// service; readers and writers cut their calls to them and charge them.
// Process-wide counts, used by the task thread; budgets_reset() puts both
// back to the no-limit value (start-up and tests).
#pragma once

#include <cstdint>

// The no-limit value, and the upper bound of every budget.
constexpr int32_t kNoBudgetLimit = 0x0FFFFFFF;

int32_t readBudget();
int32_t writeBudget();
void setReadBudget(int32_t bytes);
void setWriteBudget(int32_t bytes);
// Take count bytes off the budget; it never goes below 0.
void chargeReadBudget(int count);
void chargeWriteBudget(int count);
void budgets_reset();

// The budget one service gets from a limit (bytes per millisecond, 0 = no
// limit) over elapsedMs. carry holds what earlier services left over (the
// fraction of a byte, and bytes carryUnspent kept) and takes the new
// fraction, so limits below one byte per ms still let bytes through. The
// result lies in [0, kNoBudgetLimit].
int32_t budgetForService(double limit, int64_t elapsedMs, double* carry);

// Bytes of a limited budget that a service left unspent join the carry, up
// to the limit times kBudgetCarryMs in all. A service that comes late (the
// task thread was held up) gets more than a connection reads or writes in
// one service; the rest goes to the next services instead of being lost.
// The limit still holds over any span, give or take that much.
constexpr int kBudgetCarryMs = 100;
void carryUnspent(double limit, int32_t unspent, double* carry);
