// The frames that report the transfer side to the controller, built from
// the live objects: downloads and their part maps, upload slots, the shares
// and the disks. Each returns a new frame for the sender to finish and
// queue; ids come from the caller's handle table. Fields are written one
// by one, little-endian, in the order given here.
#pragma once

#include <cstdint>
#include <vector>

#include "console/remote/controller_frames.h"

class Download;
class FileList;
class HandleTable;
class LLsafe;
class UploadSlotInterface;

// IGUI_DOWNLOAD_ADDED (188):
//   FileMeta wire form of the partial file's record | u8 priority (0..3)
//   | string the record's path | u32 id
// The record is read under the partial file's mutex.
ControllerFrame* newDownloadAddedFrame(Download* download, uint32_t id);
// IGUI_DOWNLOAD_REMOVED (189): 16-byte file hash.
ControllerFrame* newDownloadRemovedFrame(Download* download);
// IGUI_DOWNLOAD_STATUS (197): u16 n | n x 15-byte entry (controller_frames.h),
// one per download of the list (Download*) in list order, walked under the
// list's lock; at most 65535. Task thread (the sources are read).
ControllerFrame* newDownloadStatusFrame(LLsafe* downloads, HandleTable* handles);
// IGUI_PART_MAP (174) of the download's crumb weights. Task thread.
ControllerFrame* newPartMapFrame(Download* download, uint32_t id);

// IGUI_UPLOAD_SLOT (201):
//   u32 id | string file name ("" without an upload)
//   | UserMeta wire form of the slot's user (an empty record without one)
//   | 16-byte file hash (zero without an upload)
ControllerFrame* newUploadSlotFrame(UploadSlotInterface* slot, uint32_t id);
// IGUI_UPLOAD_STATUS (200): u16 n | n x (u32 id, f32 speed), in the
// order given; at most 65535.
constexpr int kUploadStatusEntrySize = 8;
ControllerFrame* newUploadStatusFrame(const std::vector<UploadSlotInterface*>& slots, HandleTable* handles);

// IGUI_SHARED_DIRS (172): u16 n | n x string path. As many whole paths as
// fit in one frame (kMaxFrameLength), at most 65535; n says how many.
ControllerFrame* newSharedDirsFrame(const std::vector<OwnedString>& paths);
// IGUI_SHARED_FILES (173): u32 n | n x FileMeta wire form, in list order,
// walked under the list's lock. As many whole records as fit in one frame;
// n says how many.
ControllerFrame* newSharedFilesFrame(FileList* files);
