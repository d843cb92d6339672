#include "core/ui/record_table.h"

#include <atomic>

namespace {
std::atomic<RecordTablePrinter> gPrinter{nullptr};
}  // namespace

void printRecordTable(MetaList* list) {
    if (RecordTablePrinter printer = gPrinter.load()) printer(list);
}

RecordTablePrinter setRecordTablePrinter(RecordTablePrinter printer) { return gPrinter.exchange(printer); }
