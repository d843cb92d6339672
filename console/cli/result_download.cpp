#include "console/cli/result_download.h"

#include "core/meta/file_meta.h"
#include "overlay/index/service.h"

FileMeta* downloadRecordOf(const Service& result) {
    auto record = new FileMeta();
    record->copyTags(&result);
    record->setFileHash(result.descId);
    return record;
}
