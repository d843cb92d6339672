#include "core/strings/string_table.h"

#include <cstdio>
#include <cstring>

#include "v4ada/file/file.h"
#include "v4ada/file/fs.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/xml/xml_parser.h"

namespace {

struct BuiltInText {
    const char* key;
    const char* text;
};

constexpr BuiltInText kBuiltIn[kStringTableSize] = {
    {"", ""},
    {"STRINGS_DL_STATUS_QUEUED", "Queued"},
    {"STRINGS_DL_STATUS_LOOKING", "Looking..."},
    {"STRINGS_DL_STATUS_DOWNLOADING", "Downloading"},
    {"STRINGS_DL_STATUS_PAUSED", "Paused"},
    {"STRINGS_DL_STATUS_DISKFULL", "Insufficient Disk Space."},
    {"STRINGS_DL_STATUS_NOSOURCES", "No Sources"},
    {"STRINGS_DL_STATUS_DONE", "Done"},
    {"STRINGS_DL_STATUS_HASHING", "Hashing..."},
    {"STRINGS_DL_STATUS_ERROR_LOADING", "Error loading."},
    {"STRINGS_DL_STATUS_COMPLETING", "Completing"},
    {"STRINGS_DL_STATUS_COMPLETE", "Complete"},
    {"STRINGS_DL_STATUS_CORRUPTED", "Corrupted"},
    {"STRINGS_DL_STATUS_ERROR_HASHING", "Error hashing."},
    {"STRINGS_DL_STATUS_TRANSFERING", "Transferring."},
    {"STRINGS_ALREADY_DOWNLOADING", "You are already downloading"},
    {"STRINGS_DOWNLOADING", "Downloading"},
    {"STRINGS_ALREADY_HAVE", "You already have"},
    {"STRINGS_COULDNT_CREATE_TEMP_FILE", "Couldn't create temp file. Check temp directory in options."},
    {"STRINGS_CANT_CANCEL_HASH", "Can't cancel while hashing."},
    {"STRINGS_SETTINGS_NOT_SAVED", "Settings couldn't be saved"},
    {"STRINGS_NO_SEARCH_EXTEND", "No search to extend."},
    {"STRINGS_EXTENDING_TO", "Extending to:"},
    {"STRINGS_SENDING_SEARCH", "Sending search."},
    {"STRINGS_CANT_OPEN_PORT",
     "Can't Listen for connections. Please adjust your proxy settings in the options tab."},
    {"STRINGS_UNKNOWN_COMMAND", "Unrecognized command. type ? for help"},
    {"STRINGS_NONE", "None."},
    {"STRINGS_ADDED", "added"},
    {"STRINGS_INVALID_ARGUMENTS", "Invalid arguments"},
    {"STRINGS_CANT_CHANGE_TEMP", "Can't change temporary directory with pending downloads."},
    {"STRINGS_ASKING", "Asking"},
    {"STRINGS_FOR_FILE_LIST", "for file list."},
    {"STRINGS_WAITING_CONNECTION", "Waiting for connection."},
    {"STRINGS_CANT_CONNECT_USER", "Can't connect to User."},
    {"STRINGS_LOADING_SHARED", "Loading shared files..."},
    {"STRINGS_COULDNT_HASH", "Couldn't hash"},
    {"STRINGS_DONE_LOADING_SHARED", "Done loading shared files."},
    {"STRINGS_PLACED_ON_Q", "Placed on connection Queue."},
    {"STRINGS_CORRUPTION_FOUND", "Corruption found in"},
    {"STRINGS_AT", "at"},
    {"STRINGS_CORRUPTED_DOWNLOAD", "Corrupted Download"},
    {"STRINGS_COULDNT_BE_MOVED", "could not be moved to"},
    {"STRINGS_COULDNT_LOAD_PARTS", "Couldn't load partials"},
    {"STRINGS_NOT_CONNECTED", "Not connected to a server."},
    {"STRINGS_ALREADY_TRYING_CONNECT", "Already trying to connect."},
    {"STRINGS_ALREADY_CONNECTED_TO", "Already connected to that server."},
    {"STRINGS_CANT_CONNECT_TO", "Can't connect to"},
    {"STRINGS_ALREADY_CONNECTED", "Already Connected."},
    {"STRINGS_CONNECTING_TO", "Connecting to"},
    {"STRINGS_ALREADY_TRYING_THIS_CONNECT", "Already trying to connect to that server."},
    {"STRINGS_NO_MORE_EXTEND", "No more servers to extend to."},
    {"STRINGS_CONNECTIONS_FULL", "Connections Full."},
    {"STRINGS_NAME", "Name"},
    {"STRINGS_SIZE", "Size"},
    {"STRINGS_TYPE", "Type"},
    {"STRINGS_FORMAT", "Format"},
    {"STRINGS_COLTYPE", "Collection Type"},
    {"STRINGS_DESC", "Description"},
    {"STRINGS_PORT", "Port"},
    {"STRINGS_IP", "IP"},
    {"STRINGS_VERSION", "Version"},
    {"STRINGS_PRIORITY", "Priority"},
    {"STRINGS_AVAILABILITY", "Availability"},
    {"STRINGS_ASSIGNED_SLOT", "Assigned Slot:"},
    {"STRINGS_NUM_ON_Q", "Number on Queue:"},
    {"STRINGS_CALLING", "Calling"},
    {"STRINGS_PMSG_MAKING_CON", "Making Connection. Please wait..."},
    {"STRINGS_PMSG_CANT_CON", "Can't connect to other user."},
    {"STRINGS_PMSG_STATENAME0", "Connected"},
    {"STRINGS_PMSG_STATENAME1", "Waiting"},
    {"STRINGS_PMSG_STATENAME2", "Routing"},
    {"STRINGS_PMSG_STATENAME3", "Can't Connect"},
    {"STRINGS_ENTER_USER_IP", "Enter the users' IP that you want to add."},
    {"STRINGS_ENTER_SERVER_IP", "Enter the server's IP that you want to add."},
    {"STRINGS_NO_RESULTS", "No search results found."},
    {"STRINGS_CANTSHARE", "You really shouldn't share that directory."},
    {"STRINGS_SURE_CANCEL", "Are you sure you want to cancel"},
    {"STRINGS_CONFIRM_CANCEL", "Confirm Cancel"},
    {"STRINGS_FSS_UNASKED", "Unasked"},
    {"STRINGS_FSS_WAITCONNECTION", "Waiting for connection"},
    {"STRINGS_FSS_WAIT_CHUNKS_BQ", "Waiting for connection"},
    {"STRINGS_FSS_ONQUEUE", "Queue Place:"},
    {"STRINGS_FSS_WAIT_CHUNKS", "Waiting for chunks"},
    {"STRINGS_FSS_TRANSFERRING", "Transferring"},
    {"STRINGS_FSS_BADSOURCE", "Bad Source"},
    {"STRINGS_FSS_GONE", "Gone"},
    {"STRINGS_FSS_NONEEDED", "No Needed Parts"},
    {"STRINGS_FSS_ASKING_PARTNER", "Asking Partner"},
    {"STRINGS_FSS_PARTNER", "Partner"},
};

// Constant-initialised: no constructor runs before main.
XMLStringTable* gTable = nullptr;

constexpr const char* kSkinElement = "STRINGS";
constexpr const char* kLabelAttribute = "label";
constexpr const char* kUiFileName = "ui.xml";
constexpr const char* kDefaultSkinDir = "/skins/default/";

}  // namespace

const char* string_table_key(int index) {
    return index >= 0 && index < kStringTableSize ? kBuiltIn[index].key : nullptr;
}

const char* string_table_default(int index) {
    return index >= 0 && index < kStringTableSize ? kBuiltIn[index].text : nullptr;
}

const char* uiString(int index) {
    const XMLStringTable* table = XMLStringTable::instance();
    const char* text = table ? table->get(index) : string_table_default(index);
    return text && index > 0 ? text : "";
}

OwnedString uiText(const char* key, const char* fallback) {
    OwnedString text(fallback);
    if (const XMLStringTable* table = XMLStringTable::instance()) table->lookup(key, text);
    return text;
}

XMLStringTable::XMLStringTable() : parser_(new XMLParser()), tree_(nullptr) {
    for (int i = 0; i < kStringTableSize; i++) entries_[i] = kBuiltIn[i].text;
}

XMLStringTable::~XMLStringTable() { delete parser_; }

XMLStringTable* XMLStringTable::instance() { return gTable; }

void XMLStringTable::createInstance() {
    if (!gTable) gTable = new XMLStringTable();
}

void XMLStringTable::destroyInstance() {
    delete gTable;
    gTable = nullptr;
}

const char* XMLStringTable::get(int index) const {
    if (index < 1 || index >= kStringTableSize) return nullptr;
    return entries_[index].c_str();
}

const char* XMLStringTable::labelOf(const char* key) const {
    if (!tree_ || !key) return nullptr;
    XMLNode* strings = tree_->child(kSkinElement);
    if (!strings) return nullptr;
    XMLNode* element = strings->child(key);
    if (!element) return nullptr;
    XMLAttr* label = element->attribute(kLabelAttribute);
    return label ? label->value.c_str() : nullptr;
}

void XMLStringTable::lookup(const char* key, OwnedString& text) const {
    const char* label = labelOf(key);
    if (label) text = label;
}

OwnedString XMLStringTable::lookupText(const char* key) const {
    const char* label = labelOf(key);
    return OwnedString(label ? label : "");
}

void XMLStringTable::load(XMLNode* root) {
    if (!root) return;
    XMLNode* previous = tree_;
    tree_ = root;
    for (int i = 0; i < kStringTableSize; i++) {
        const char* label = i > 0 ? labelOf(kBuiltIn[i].key) : nullptr;
        entries_[i] = label ? label : kBuiltIn[i].text;
    }
    tree_ = previous;
}

bool XMLStringTable::loadBuffer(const char* data, size_t length) {
    if (!data || length > kUiXmlMaxBytes) return false;
    // The parser reads a terminated text; a zero byte inside ends it.
    char* text = static_cast<char*>(i4_malloc(length + 1));
    memcpy(text, data, length);
    text[length] = 0;
    XMLNode* root = parser_->parse(text);
    i4_free(text);
    if (!root) {
        // A failed parse discarded any earlier tree with it.
        tree_ = nullptr;
        return false;
    }
    load(root);
    tree_ = root;
    return true;
}

bool XMLStringTable::loadFile(const char* path) {
    i4_file* file = fs_open(path, kFsRead);
    if (!file) return false;
    i4_pos size = file->size();
    if (size > kUiXmlMaxBytes) {
        delete file;
        fprintf(stderr, "%s: larger than %zu bytes, skin not loaded\n", path, kUiXmlMaxBytes);
        return false;
    }
    size_t length = static_cast<size_t>(size);
    char* data = static_cast<char*>(i4_malloc(length + 1));
    size_t got = 0;
    while (got < length) {
        int n = file->read(data + got, static_cast<int>(length - got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    delete file;
    bool loaded = false;
    if (got == length) {
        loaded = loadBuffer(data, length);
        if (!loaded) fprintf(stderr, "%s: not a readable skin file, built-in texts kept\n", path);
    } else {
        fprintf(stderr, "%s: read failed, skin not loaded\n", path);
    }
    i4_free(data);
    return loaded;
}

bool XMLStringTable::loadFiles(const char* baseDir, const char* uiPath) {
    if (uiPath && uiPath[0]) {
        OwnedString path(uiPath);
        path.append(kUiFileName);
        if (loadFile(path.c_str())) return true;
    }
    OwnedString path(baseDir ? baseDir : "");
    path.append(kDefaultSkinDir);
    path.append(kUiFileName);
    return loadFile(path.c_str());
}

bool loadUIStrings(const char* uiPath) {
    XMLStringTable* table = XMLStringTable::instance();
    if (!table) return false;
    OwnedString base;
    if (!fs_current_dir(base)) base = "";
    int n = base.length();
    if (n > 0 && base.c_str()[n - 1] == '/') base.truncate(n - 1);
    return table->loadFiles(base.c_str(), uiPath);
}
