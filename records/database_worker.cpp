#include "database_worker.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

struct DatabaseWorker::Private {
    DatabaseAddress address;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::packaged_task<void(RecordDatabase &)>> jobs;
    bool ending = false;
    std::thread thread;
};

DatabaseWorker::DatabaseWorker(const DatabaseAddress &address) : d(std::make_unique<Private>())
{
    d->address = address;
    d->thread = std::thread([p = d.get()] {
        RecordDatabase db(p->address);
        for (;;) {
            std::packaged_task<void(RecordDatabase &)> job;
            {
                std::unique_lock<std::mutex> lock(p->mutex);
                p->wake.wait(lock, [p] { return p->ending || !p->jobs.empty(); });
                if (p->jobs.empty())
                    return;
                job = std::move(p->jobs.front());
                p->jobs.pop_front();
            }
            job(db);
        }
    });
}

DatabaseWorker::~DatabaseWorker()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->ending = true;
    }
    d->wake.notify_all();
    d->thread.join();
}

void DatabaseWorker::run(const std::function<void(RecordDatabase &)> &job)
{
    std::packaged_task<void(RecordDatabase &)> task(job);
    std::future<void> done = task.get_future();
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->jobs.push_back(std::move(task));
    }
    d->wake.notify_one();
    done.get();
}
