#pragma once

#include "record_database.h"

#include <functional>
#include <memory>

// A thread of its own with one connection to a database: Qt SQL wants a connection used only by the thread
// that made it, and the fixtures each run in a thread of their own.
class DatabaseWorker {
public:
    explicit DatabaseWorker(const DatabaseAddress &address);
    ~DatabaseWorker();
    DatabaseWorker(const DatabaseWorker &) = delete;
    DatabaseWorker &operator=(const DatabaseWorker &) = delete;

    // Runs the job on the worker's thread, with its connection, and waits for it to end.
    void run(const std::function<void(RecordDatabase &)> &job);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
