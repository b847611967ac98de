#include "pipeline/AudioBuffer.h"

#include <cstring>
#include <new>

#include "core/Trace.h"

CAudioBuffer::~CAudioBuffer() {
    delete[] data;
    // Free the following nodes iteratively: a long track is many thousand
    // nodes, too deep for recursive destruction.
    CAudioBuffer* node = next;
    while (node != nullptr) {
        CAudioBuffer* following = node->next;
        node->next = nullptr;
        delete node;
        node = following;
    }
}

bool CAudioBuffer::Set(const void* source, std::int32_t bytes) {
    QM_TRACE("AudioBuffer");
    if (bytes < 0) {
        QM_RETURN(0, false);
    }
    auto* block = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(bytes)];
    if (block == nullptr) {
        QM_RETURN(1, false);
    }
    if (bytes > 0) {
        std::memcpy(block, source, static_cast<std::size_t>(bytes));
    }
    delete[] data;
    data = block;
    length = bytes;
    QM_RETURN(2, true);
}

bool CAudioBuffer::Add(const void* source, std::int32_t bytes) {
    QM_TRACE("AudioBuffer");
    auto* node = new (std::nothrow) CAudioBuffer;
    if (node == nullptr) {
        QM_RETURN(0, false);
    }
    if (!node->Set(source, bytes)) {
        delete node;
        QM_RETURN(1, false);
    }
    CAudioBuffer* tail = m_tail != nullptr ? m_tail : this;
    while (tail->next != nullptr) {
        tail = tail->next;
    }
    tail->next = node;
    m_tail = node;
    QM_RETURN(2, true);
}
