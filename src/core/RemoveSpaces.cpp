#include "core/RemoveSpaces.h"

#include <cstring>

#include "core/Trace.h"

void RemoveSpacesFromStartAndEnd(char* text) {
    QM_TRACE("Quavermill");
    if (text == nullptr || text[0] == '\0') {
        QM_RETURN(0);
    }
    std::size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ') {
        text[--length] = '\0';
    }
    std::size_t leading = 0;
    while (leading < length && text[leading] == ' ') {
        ++leading;
    }
    if (leading > 0) {
        std::memmove(text, text + leading, length - leading + 1);
    }
    QM_EXIT(1);
}

void RemoveSpacesFromStartAndEnd(std::string& text) {
    QM_TRACE("Quavermill");
    const std::size_t last = text.find_last_not_of(' ');
    if (last == std::string::npos) {
        text.clear();
        QM_RETURN(0);
    }
    text.erase(last + 1);
    text.erase(0, text.find_first_not_of(' '));
    QM_EXIT(1);
}
