#include "transfer/sharing/file_reports.h"

#include "core/meta/meta_messages.h"
#include "v4ada/file/fs.h"

void reportNotSaved(const char* path) { metaPrint(kNotSavedText, path ? path : ""); }

void keepAsideUnreadable(const char* path) {
    OwnedString aside = fs_keep_aside(path);
    if (aside.isNull())
        metaPrint("%s could not be read and could not be moved aside", path ? path : "");
    else
        metaPrint("%s could not be read; kept as %s", path ? path : "", aside.c_str());
}
