// HttpSocketConnectThread: one resolve and connect for an HTTP source, on
// a short-lived thread of its own. The thread splits the attempt's URL
// (port 80 unless it names one), connects through the installed connector
// (or directly), stores the result in the attempt and ends; its object
// deletes itself. It never touches the source: an abandoned attempt's
// socket is closed by the thread (see HttpConnectAttempt).
#pragma once

#include <memory>

#include "core/task/thread.h"
#include "downloads/http/http_connect_attempt.h"

class HttpSocketConnectThread final : public Thread {
public:
    static constexpr int kDefaultPort = 80;

    // Starts a thread for the attempt. When none can be made the attempt
    // is finished at once as failed; false then.
    static bool launch(const std::shared_ptr<HttpConnectAttempt>& attempt);

    // Raises "couldn't make httpsocketconnecthread: source is null"
    // without an attempt.
    explicit HttpSocketConnectThread(std::shared_ptr<HttpConnectAttempt> attempt);

    // One attempt, stored in the record (used by the thread and by tests).
    static void connectOnce(HttpConnectAttempt& attempt);

protected:
    void run() override;
    void onExit() override;

private:
    std::shared_ptr<HttpConnectAttempt> attempt_;
};
