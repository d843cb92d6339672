// ResultCallback: what receives the results of an overlay search and the
// end of each asked node's answer. The service handed to gotResult lives
// only during the call; a keeper copies it (Service::assign).
#pragma once

class Node;
class Service;
class ServiceSearch;

class ResultCallback {
public:
    virtual ~ResultCallback() = default;
    virtual void gotResult(Service* result) = 0;
    // A node's end of answer: the index after its last result and the
    // entries it holds under the key.
    virtual void searchEnd(ServiceSearch* search, Node* node, int next, int total) = 0;
};
