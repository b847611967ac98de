// File work a job hands off its front end's thread: the appends to the
// grab's playlist and the deleting of files that cancelled tracks left.
// One thread does the tasks in the order they were posted, so a playlist
// lists its tracks as they were reported; a task that goes wrong leaves a
// log line, which the front end takes up with TakeNotes.
//
// Threads: Post, TakeNotes and Flush are called from the front end's thread;
// the tasks run on the object's own thread, which starts with the first
// task and ends with the object (after doing what was posted).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CFileTasks {
public:
    // A task returns the log line of what went wrong, or nothing.
    using Task = std::function<std::optional<std::string>()>;

    CFileTasks() = default;
    CFileTasks(const CFileTasks&) = delete;
    CFileTasks& operator=(const CFileTasks&) = delete;
    ~CFileTasks();

    void Post(Task task);
    // Waits until every task posted so far has been done.
    void Flush();
    // The log lines left since the last call, in the order of their tasks.
    std::vector<std::string> TakeNotes();

private:
    void Run(const std::stop_token& stop);

    std::mutex m_lock;
    std::condition_variable_any m_changed;
    std::deque<Task> m_tasks;
    bool m_busy = false; // a task taken off the queue is being done
    std::vector<std::string> m_notes;
    std::jthread m_thread; // last: it goes first, while the rest still stands
};
