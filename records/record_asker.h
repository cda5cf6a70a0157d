#pragma once

#include "record_database.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

// The questions fixtures ask a server (whether a module was set up before), on one connection kept by a
// thread of its own and made again when it breaks. A fixture never waits on the server for longer than a
// question's limit: a server that does not answer in time is no answer, and the fixture goes on with the
// station's own records; while it is known to be away, a question goes to it now and then without a fixture
// waiting for the answer. Standard error hears each time the server can no longer be asked, and each time it
// can again.
class RecordAsker {
public:
    RecordAsker(const DatabaseAddress &address, std::function<void(const QString &)> say);
    ~RecordAsker();
    RecordAsker(const RecordAsker &) = delete;
    RecordAsker &operator=(const RecordAsker &) = delete;

    // Whether the server has a successful set-up of the module (ok, already-set); nothing when it could not
    // be asked within the limit. Any thread.
    std::optional<bool> succeededBefore(const QString &serialNumber);
    // Ends the thread: a question in flight is cut off; a connection being made is left behind after a
    // moment (true then: the process is to end by std::_Exit).
    bool finish();

    // The longest a fixture waits for an answer: well under a module's time (about 2 s), and far over what a
    // server takes to look up one serial number on a kept connection.
    static constexpr auto kAskLimit = std::chrono::milliseconds(500);

private:
    struct State;
    static void serve(const std::shared_ptr<State> &state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};
