// UploadSlotInterface: what the user interfaces read of an upload slot
// (the console's upload listing, the remote controller's slot reports).
// Slots are reference counted: a user interface that keeps one takes a
// reference (addRef) and releases it later; the slot lives until its last
// holder lets go. Every reader takes the slot's lock, so any thread may
// call them.
#pragma once

#include "core/meta/ref_counter.h"
#include "core/meta/user_meta.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"

class UploadSlotInterface : public RefCounter {
public:
    // The current upload's average speed in bytes per ms; 0 without one.
    virtual double speed() = 0;
    // The peer of the current upload, else the user invited; false when
    // the slot holds neither.
    virtual bool user(UserMeta& out) = 0;
    // The current upload's file name, else ""; returns out's text.
    virtual const char* fileName(OwnedString& out) = 0;
    // The current upload's file hash; false without an upload.
    virtual bool fileHash(UniqueID& out) = 0;
    // -30000 when empty, the current upload's score, or 30000 when given
    // to a partner.
    virtual int score() = 0;
};
