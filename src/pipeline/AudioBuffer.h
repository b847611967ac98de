// A singly linked list of owned byte blocks; the head node is the list. A
// filter that needs a whole stream before emitting anything keeps it here.
#pragma once

#include <cstdint>

class CAudioBuffer {
public:
    CAudioBuffer() = default;
    CAudioBuffer(const CAudioBuffer&) = delete;
    CAudioBuffer& operator=(const CAudioBuffer&) = delete;
    virtual ~CAudioBuffer();

    // Makes a copy of the data this node's block. False when out of memory.
    bool Set(const void* data, std::int32_t length);
    // Appends a new node holding a copy of the data. False when out of memory
    // (the list is left as it was).
    bool Add(const void* data, std::int32_t length);

    std::uint8_t* data = nullptr;
    std::int32_t length = 0;
    CAudioBuffer* next = nullptr;

private:
    // The tail, for appending in constant time.
    CAudioBuffer* m_tail = nullptr;
};
