#include "transfer/sharing/save_report.h"

#include "core/meta/meta_messages.h"

void reportNotSaved(const char* path) { metaPrint(kNotSavedText, path ? path : ""); }
