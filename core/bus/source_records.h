// The records of the bus codes that add a source to the download of a
// file hash (posted by the overlay's source search and the console,
// handled by the transfer side, which deletes them).
#pragma once

#include "core/meta/user_meta.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"

// MSG_ADD_SOURCE: a user who has the file.
struct AddSourceRecord {
    UserMeta user;
    UniqueID hash;
};

// MSG_ADD_SOURCE_LINK: a source text that is not a location link (an
// HTTP address, for instance).
struct SourceLinkRecord {
    OwnedString link;
    UniqueID hash;
};
