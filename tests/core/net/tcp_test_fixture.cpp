#include "tcp_test_fixture.h"

#include <unistd.h>

#include "v4ada/net/ready_flags.h"

namespace coretest {

std::string RecordingConnection::payload(i4_ram_file_class* body) {
    std::string out;
    while (body->remaining() > 0) out.push_back(static_cast<char>(body->read_8()));
    for (int i = 0; i < log_->readPast; i++) body->read_8();  // raises past the end
    return out;
}

bool RecordingConnection::onFirstMessage(uint8_t opcode, i4_ram_file_class* body) {
    if (log_->forwardFirst) {
        log_->events.push_back("first:" + std::to_string(opcode));
        return onMessage(opcode, body);
    }
    log_->events.push_back("first:" + std::to_string(opcode) + ":" + payload(body));
    return log_->keep;
}

bool RecordingConnection::onMessage(uint8_t opcode, i4_ram_file_class* body) {
    log_->events.push_back("msg:" + std::to_string(opcode) + ":" + payload(body));
    return log_->keep;
}

LoopbackConnectionTest::LoopbackConnectionTest() : protocol_(support::loopback_protocol()), scope_(protocol_) {
    pool_ = new STSocketPool(&bandwidth_);
    openConnection();
}

void LoopbackConnectionTest::openConnection() {
    if (client_ >= 0) ::close(client_);
    log_ = ConnectionLog();
    i4_socket* listener = protocol_->listen(0, 0, kSocketStream, nullptr);
    client_ = support::raw_connect(support::local_port(listener));
    i4_socket* accepted = nullptr;
    listener->accept(&accepted);
    listener->close();
    delete listener;
    accepted->setBlocking(false);
    connection_ = new RecordingConnection(accepted, &log_);
    pool_->add(connection_);
    pool_->applyPending();
}

LoopbackConnectionTest::~LoopbackConnectionTest() {
    delete pool_;
    if (client_ >= 0) ::close(client_);
}

void LoopbackConnectionTest::serve() { pool_->tick(10); }

bool LoopbackConnectionTest::serveUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 50; i++) {
        if (condition()) return true;
        serve();
    }
    return condition();
}

}  // namespace coretest
