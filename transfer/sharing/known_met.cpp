#include "transfer/sharing/known_met.h"

#include "core/meta/file_list.h"
#include "core/meta/meta_messages.h"
#include "core/strings/string_table.h"
#include "transfer/sharing/file_reports.h"
#include "transfer/sharing/indexed_file_list.h"
#include "v4ada/digest/part_hash.h"

bool knownFilesAreOld(FileList* list) {
    LLsafeGuard hold(list->list());
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(list->list(), &cursor)) {
        auto* record = static_cast<FileMeta*>(element);
        if (record->size() <= kCrumbSize) continue;
        return !record->crumbHashesComplete();
    }
    return false;
}

bool dropOldKnownFiles(IndexedFileList& known) {
    if (!knownFilesAreOld(known.list())) return false;
    OwnedString text = uiText(kOldKnownMetKey, kOldKnownMetDefault);
    metaPrint("%s", text.c_str());
    known.clear();
    return true;
}

MetaListLoad loadKnownFiles(IndexedFileList& known, const char* path) {
    MetaListLoad result = known.load(path);
    if (result == MetaListLoad::kFailed) {
        metaPrint(kErrorLoadingText, path ? path : "");
        known.clear();
        keepAsideUnreadable(path);
        return result;
    }
    if (result == MetaListLoad::kLoaded) dropOldKnownFiles(known);
    return result;
}
