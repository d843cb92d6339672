// RequestCounter: the request handler's counts of what other nodes ask,
// for the overlay tests' data collector. A gateway has none unless the
// collector installs one; the handler counts only then.
#pragma once

class RequestCounter {
public:
    virtual void countHello() = 0;
    virtual void countRoute() = 0;
    virtual void countSearch() = 0;
    virtual void countPublish() = 0;

protected:
    ~RequestCounter() = default;
};
