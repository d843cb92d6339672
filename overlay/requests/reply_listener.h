// ReplyListener: what waits for the answers to a request tracked by the
// reply server.
#pragma once

class Node;
class i4_ram_file_class;

// Milliseconds a listener waits for more after an answer 2.
constexpr int kMoreTimeMs = 20000;

class ReplyListener {
public:
    // An answer datagram (opcode, the reader after the opcode) from the node
    // a request went to: 0 when it is not for this listener (the reader is
    // left where it was), 1 when the request is done, 2 when more answers
    // from that node are awaited.
    virtual int gotReply(Node* node, int opcode, i4_ram_file_class* reader) = 0;
    // The time-out of a request to that node ran out.
    virtual void timedOut(Node* node) = 0;
    // Milliseconds to wait after an answer 2.
    virtual int moreTime() { return kMoreTimeMs; }

protected:
    ~ReplyListener() = default;
};
