#include "platform/Event.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace qm {

namespace {

// One lock and one condition for every event: sets are rare (a few per
// block at most), and a shared condition makes waiting for any of several
// events simple and free of lost wake-ups.
std::mutex& StateLock() {
    static std::mutex lock;
    return lock;
}

std::condition_variable& StateChanged() {
    static std::condition_variable changed;
    return changed;
}

std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, std::weak_ptr<Event>>& Registry() {
    static std::map<std::string, std::weak_ptr<Event>> registry;
    return registry;
}

} // namespace

EventHandle Event::Create(bool initialState) {
    return std::make_shared<Event>(initialState);
}

EventHandle Event::OpenNamed(const std::string& name, bool initialState) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto& registry = Registry();
    auto it = registry.find(name);
    if (it != registry.end()) {
        if (EventHandle existing = it->second.lock()) {
            return existing;
        }
    }
    EventHandle created = Create(initialState);
    registry[name] = created;
    return created;
}

void Event::Set() {
    {
        std::lock_guard<std::mutex> guard(StateLock());
        m_state.store(true, std::memory_order_release);
    }
    StateChanged().notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> guard(StateLock());
    m_state.store(false, std::memory_order_release);
}

bool Event::Wait(std::chrono::milliseconds timeout) const {
    return WaitForAny({this}, timeout) == 0;
}

int WaitForAny(std::initializer_list<const Event*> events, std::chrono::milliseconds timeout) {
    for (const Event* event : events) {
        if (event == nullptr) {
            return kWaitFailed;
        }
    }
    auto firstSet = [&events]() {
        int index = 0;
        for (const Event* event : events) {
            if (event->m_state.load(std::memory_order_acquire)) {
                return index;
            }
            ++index;
        }
        return kWaitTimeout;
    };
    std::unique_lock<std::mutex> lock(StateLock());
    int found = firstSet();
    if (found >= 0 || timeout.count() <= 0) {
        return found;
    }
    if (timeout == kInfinite) {
        StateChanged().wait(lock, [&] { return (found = firstSet()) >= 0; });
        return found;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    StateChanged().wait_until(lock, deadline, [&] { return (found = firstSet()) >= 0; });
    return found;
}

} // namespace qm
