// DestCallback: the face a requester shows to the lookup it joins: the
// identifier it is about, how many more nodes it needs, and the offer of
// a destination found.
#pragma once

class Node;
class UniqueID;

class DestCallback {
public:
    virtual const UniqueID& target() = 0;
    virtual void offer(Node* node) = 0;
    virtual int remaining() = 0;
    virtual const char* name() = 0;
    // The lookup is done with this requester.
    virtual void finish() {}

protected:
    ~DestCallback() = default;
};
