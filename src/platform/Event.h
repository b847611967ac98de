// Manual-reset events, process-local. Stages signal each other with them:
// terminate, pause and seek reach a running source; sinks share a ready event;
// the last sink signals the job's finish event. Named events are looked up in
// a registry inside this process only, so two running instances never share
// one.
#pragma once

#include <atomic>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>

namespace qm {

class Event;
using EventHandle = std::shared_ptr<Event>;

class Event {
public:
    explicit Event(bool initialState = false) : m_state(initialState) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    static EventHandle Create(bool initialState = false);
    // The event registered under `name`; created with `initialState` when no
    // live event has that name, otherwise the existing object as it is.
    static EventHandle OpenNamed(const std::string& name, bool initialState);

    void Set();
    void Reset();
    bool IsSet() const { return m_state.load(std::memory_order_acquire); }

    // True when the event is (or becomes) signalled within the timeout.
    bool Wait(std::chrono::milliseconds timeout) const;

private:
    friend int WaitForAny(std::initializer_list<const Event*> events,
                          std::chrono::milliseconds timeout);
    std::atomic<bool> m_state;
};

inline constexpr std::chrono::milliseconds kInfinite = std::chrono::milliseconds::max();
inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;

// Waits until one of the events is signalled and returns the index of the
// first signalled one (in the order given). kWaitTimeout on time-out; a null
// event makes the wait fail at once with kWaitFailed.
int WaitForAny(std::initializer_list<const Event*> events, std::chrono::milliseconds timeout);

inline int WaitForAny(const EventHandle& a, const EventHandle& b,
                      std::chrono::milliseconds timeout) {
    return WaitForAny({a.get(), b.get()}, timeout);
}

} // namespace qm
