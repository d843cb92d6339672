// The console's table of records (a header of tag names, then one numbered
// line per record), for the layers below the console that list records to
// the user, such as a friend's files. The console installs its printer at
// start-up and removes it at shutdown; while none is installed nothing is
// printed.
#pragma once

class MetaList;

using RecordTablePrinter = void (*)(MetaList* list);

// Prints the list through the installed printer. Any thread.
void printRecordTable(MetaList* list);
// Returns the previous printer; null removes it.
RecordTablePrinter setRecordTablePrinter(RecordTablePrinter printer);
