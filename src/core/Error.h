// The error registry: stages file items while a job runs; the job driver
// reads the newest actual one afterwards and shows its description.
// Locked: the stages of one track file from the reading and the encoding
// threads at once; the job reads the newest item once the track has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/ErrorCodes.h"

struct CErrorItem {
    std::int32_t code = 0;
    std::int32_t module = 0;
    std::int32_t data = 0;
    char text[300] = {};
    std::int64_t time = 0;
    bool actual = false;
    CErrorItem* next = nullptr;
};

class CError {
public:
    CError() = default;
    CError(const CError&) = delete;
    CError& operator=(const CError&) = delete;
    virtual ~CError();

    void Add(int code, int module, std::int32_t data = 0, const char* text = nullptr);
    void SetErrorItem(CErrorItem* item, int code, int module, std::int32_t data, const char* text);

    bool IsAnyActual_Search() const;
    bool IsAnyActual() const { return m_anyActual.load(); }
    CErrorItem* GetLast() const;
    CErrorItem* GetLastActual() const;

    void ResetLast();
    void ResetAll();
    void Clear();

    // Writes the item's message into *dest. FALSE for a null dest, and for
    // messages that are not specific to one module (callers use the text).
    bool GetDecription(const CErrorItem* item, std::string* dest) const;
    void ModuleDescription(int module, std::string* dest) const;

    // The message a job driver shows: the description followed by the
    // module's name. "" for no item.
    std::string FullMessage(const CErrorItem* item) const;

private:
    bool AnyActualLocked() const;
    void ClearLocked();

    mutable std::mutex m_lock;
    CErrorItem* m_head = nullptr;
    std::atomic<bool> m_anyActual{false};
};
