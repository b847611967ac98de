#include "settings/ReadMethods.h"

int ReadMethodCode(std::string_view name) {
    for (const ReadMethodName& method : kReadMethodNames) {
        if (name == method.name) {
            return method.code;
        }
    }
    return 0;
}

const char* ReadMethodNameOf(int code) {
    for (const ReadMethodName& method : kReadMethodNames) {
        if (code == method.code) {
            return method.name;
        }
    }
    return kReadMethodNames[0].name;
}
