// TransferHandler: the transfer side's receiver on the message bus. Every
// transfer message that other threads, the console or the remote
// controller post is carried out by it on the task thread, mostly by the
// transfer hub and the downloads side; it owns each message's data unless
// the code passes it on:
//
//   10 MSG_START_DOWNLOAD     FileMeta*           a download of it; deleted
//   14 MSG_CANCEL_DOWNLOAD    Download*           cancelled, then released
//   11 MSG_END_DOWNLOAD       Download*           the pool ends it
//   12 MSG_PAUSE_DOWNLOAD     Download*           paused, then released
//   13 MSG_RESUME_DOWNLOAD    Download*           resumed, then released
//   16 MSG_REFRESH_SHARES     none                the hub refreshes
//   18 MSG_ADD_SHARED_FILE    FileMeta*           taken over by the hub
//   19 MSG_ADD_SHARED_FILES   SharedFileBatch*    taken over by the hub
//   23 MSG_CHECK_DISK_SPACE   none                the pool checks
//   24 MSG_OPEN_SLOT          TCPConnection*      passed to the pool
//   22 MSG_PRIVATE_MESSAGE    UserMeta*           a message session opened
//                                                 (sessionChanged); deleted
//   20 MSG_RESERVED_20        none                nothing
//   21 MSG_SHARED_FILE_UPDATE SharedFileUpdate*   the hub applies; deleted
//   28 MSG_SET_PROXY          ProxySettings*      the door; deleted
//   29 MSG_LOAD_PARTIALS      OwnedString*        import and load; deleted
//   32 MSG_ADD_SOURCE         AddSourceRecord*    a source; deleted
//   33 MSG_ADD_SOURCE_LINK    SourceLinkRecord*   a source; deleted
//   34 MSG_RESCHEDULE         none                the pool reschedules
//   35 MSG_CONNECT_FAILED     ConnectFailedRecord* every peer-event handler; deleted
//
// Without a downloads side the download codes only free their data.
#pragma once

#include "core/bus/message.h"

class MessageQ;
class TransferGateway;

// Texts of the import of another temp directory.
constexpr const char* kNoSuchDirectoryText = "that directory %s does not exist.\n";
constexpr const char* kCopyFailedText = "error attempting to copy %s to %s\n";

class TransferHandler : public MessageHandler {
public:
    // The hub that carries out the share codes (null: they only free).
    explicit TransferHandler(TransferGateway* hub = nullptr) : hub_(hub) {}

    // Registers for the codes above, in that order; a null bus is ignored.
    void registerAll(MessageQ* bus);
    // Takes the handler off the bus again (shutdown, tests).
    void unregisterAll(MessageQ* bus);
    void handle(Message* message) override;
    // Frees what the code's message owns, without acting (shutdown): a
    // download's reference is released, nothing else is done.
    void discard(Message* message) override;

    // Moves the partial downloads ("<name>.part" with "<name>.part.met")
    // of another directory into the temp directory under fresh numbers.
    static void importTempDirectory(const char* sourceDir, const char* tempDir);

private:
    TransferGateway* hub_;
};
