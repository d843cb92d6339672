// XMLStringTable: the numbered user-visible texts. Every entry has a
// built-in English default; a skin file, ui.xml, may replace any of them
// and add texts looked up by key only.
//
// ui.xml layout: any root element, below it an element STRINGS, below that
// one element per key (names compared without ASCII case) whose attribute
// "label" holds the text. Nothing else is read.
//
// The table is one process-wide object, created and destroyed explicitly.
// It is filled once at start-up, before other threads run, and only read
// afterwards, so readers take no lock.
#pragma once

#include <cstddef>

#include "v4ada/string/owned_string.h"

class XMLNode;
class XMLParser;

// Number of entries; index 0 has no key and is never returned.
constexpr int kStringTableSize = 89;
// Largest ui.xml the loader reads; a bigger file keeps the built-in texts.
constexpr size_t kUiXmlMaxBytes = 16u * 1024u * 1024u;

// Indexes of the entries (the download status names 1 to 14 equal the
// download status codes; the source status names are code + 78).
enum StringIndex {
    STRINGS_DL_STATUS_QUEUED = 1,
    STRINGS_DL_STATUS_LOOKING,
    STRINGS_DL_STATUS_DOWNLOADING,
    STRINGS_DL_STATUS_PAUSED,
    STRINGS_DL_STATUS_DISKFULL,
    STRINGS_DL_STATUS_NOSOURCES,
    STRINGS_DL_STATUS_DONE,
    STRINGS_DL_STATUS_HASHING,
    STRINGS_DL_STATUS_ERROR_LOADING,
    STRINGS_DL_STATUS_COMPLETING,
    STRINGS_DL_STATUS_COMPLETE,
    STRINGS_DL_STATUS_CORRUPTED,
    STRINGS_DL_STATUS_ERROR_HASHING,
    STRINGS_DL_STATUS_TRANSFERING,
    STRINGS_ALREADY_DOWNLOADING,
    STRINGS_DOWNLOADING,
    STRINGS_ALREADY_HAVE,
    STRINGS_COULDNT_CREATE_TEMP_FILE,
    STRINGS_CANT_CANCEL_HASH,
    STRINGS_SETTINGS_NOT_SAVED,
    STRINGS_NO_SEARCH_EXTEND,
    STRINGS_EXTENDING_TO,
    STRINGS_SENDING_SEARCH,
    STRINGS_CANT_OPEN_PORT,
    STRINGS_UNKNOWN_COMMAND,
    STRINGS_NONE,
    STRINGS_ADDED,
    STRINGS_INVALID_ARGUMENTS,
    STRINGS_CANT_CHANGE_TEMP,
    STRINGS_ASKING,
    STRINGS_FOR_FILE_LIST,
    STRINGS_WAITING_CONNECTION,
    STRINGS_CANT_CONNECT_USER,
    STRINGS_LOADING_SHARED,
    STRINGS_COULDNT_HASH,
    STRINGS_DONE_LOADING_SHARED,
    STRINGS_PLACED_ON_Q,
    STRINGS_CORRUPTION_FOUND,
    STRINGS_AT,
    STRINGS_CORRUPTED_DOWNLOAD,
    STRINGS_COULDNT_BE_MOVED,
    STRINGS_COULDNT_LOAD_PARTS,
    STRINGS_NOT_CONNECTED,
    STRINGS_ALREADY_TRYING_CONNECT,
    STRINGS_ALREADY_CONNECTED_TO,
    STRINGS_CANT_CONNECT_TO,
    STRINGS_ALREADY_CONNECTED,
    STRINGS_CONNECTING_TO,
    STRINGS_ALREADY_TRYING_THIS_CONNECT,
    STRINGS_NO_MORE_EXTEND,
    STRINGS_CONNECTIONS_FULL,
    STRINGS_NAME,
    STRINGS_SIZE,
    STRINGS_TYPE,
    STRINGS_FORMAT,
    STRINGS_COLTYPE,
    STRINGS_DESC,
    STRINGS_PORT,
    STRINGS_IP,
    STRINGS_VERSION,
    STRINGS_PRIORITY,
    STRINGS_AVAILABILITY,
    STRINGS_ASSIGNED_SLOT,
    STRINGS_NUM_ON_Q,
    STRINGS_CALLING,
    STRINGS_PMSG_MAKING_CON,
    STRINGS_PMSG_CANT_CON,
    STRINGS_PMSG_STATENAME0,
    STRINGS_PMSG_STATENAME1,
    STRINGS_PMSG_STATENAME2,
    STRINGS_PMSG_STATENAME3,
    STRINGS_ENTER_USER_IP,
    STRINGS_ENTER_SERVER_IP,
    STRINGS_NO_RESULTS,
    STRINGS_CANTSHARE,
    STRINGS_SURE_CANCEL,
    STRINGS_CONFIRM_CANCEL,
    STRINGS_FSS_UNASKED,
    STRINGS_FSS_WAITCONNECTION,
    STRINGS_FSS_WAIT_CHUNKS_BQ,
    STRINGS_FSS_ONQUEUE,
    STRINGS_FSS_WAIT_CHUNKS,
    STRINGS_FSS_TRANSFERRING,
    STRINGS_FSS_BADSOURCE,
    STRINGS_FSS_GONE,
    STRINGS_FSS_NONEEDED,
    STRINGS_FSS_ASKING_PARTNER,
    STRINGS_FSS_PARTNER,
};
static_assert(STRINGS_FSS_PARTNER == kStringTableSize - 1);

// The key of an entry ("" for 0), or null outside 0 to 88.
const char* string_table_key(int index);
// The built-in English text of an entry, or null outside 0 to 88.
const char* string_table_default(int index);

// The text of an entry in the process-wide table, or its built-in default
// while there is no table; "" outside 1 to 88.
const char* uiString(int index);
// The skin's label of a key, or the given default when there is no table
// or the skin has none.
OwnedString uiText(const char* key, const char* fallback);

class XMLStringTable {
public:
    XMLStringTable();
    XMLStringTable(const XMLStringTable&) = delete;
    XMLStringTable& operator=(const XMLStringTable&) = delete;
    virtual ~XMLStringTable();

    // The process-wide table: null before createInstance and after
    // destroyInstance. createInstance keeps an existing table.
    static XMLStringTable* instance();
    static void createInstance();
    static void destroyInstance();

    // Entry index for 1 to 88; null for any other index.
    const char* get(int index) const;
    // text := the label of STRINGS/<key> when the skin has one; otherwise
    // text keeps what the caller put there (its English default).
    void lookup(const char* key, OwnedString& text) const;
    // The label of STRINGS/<key>, or "" when there is none.
    OwnedString lookupText(const char* key) const;
    bool hasSkin() const { return tree_ != nullptr; }

    // Loads <uiPath>ui.xml, or, when uiPath is null or empty or that file
    // cannot be read, <baseDir>/skins/default/ui.xml. True when a skin was
    // loaded; otherwise the table keeps its texts and the reason goes to
    // standard error (a missing file is no fault and is not reported).
    bool loadFiles(const char* baseDir, const char* uiPath);
    // Parses a ui.xml held in memory (need not be terminated). False, with
    // the texts unchanged and no skin kept, when it holds no document.
    bool loadBuffer(const char* data, size_t length);
    // Takes every entry from the root's STRINGS element, or the built-in
    // default where it has none; a null root changes nothing.
    void load(XMLNode* root);

private:
    bool loadFile(const char* path);
    const char* labelOf(const char* key) const;

    OwnedString entries_[kStringTableSize];
    XMLParser* parser_;
    XMLNode* tree_;  // owned by parser_
};

// Loads ui.xml into the process-wide table from the default skin below the
// current directory, or from uiPath when one is given (the option "uiPath"
// is read after the strings at start-up, so it is normally absent).
bool loadUIStrings(const char* uiPath = nullptr);
