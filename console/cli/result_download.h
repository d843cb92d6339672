// The download record of an overlay search result, made the same way for
// the console's result list and the controller's: a new file record with
// the result's tags and, as its file hash, the result's DescID (the hash
// of the file the result describes).
#pragma once

class FileMeta;
class Service;

// A new record owned by the caller.
FileMeta* downloadRecordOf(const Service& result);
