// Where the record code's messages go: the active output gateway's
// channels, or the debug output while no gateway is set.
#pragma once

void metaPrintRaw(const char* format, ...);
void metaPrintFlush(const char* format, ...);
void metaPrint(const char* format, ...);
void metaDebug(const char* format, ...);
