// A shared library that carries its own copy of the message-box code, as libtsapi.so does,
// and shows one box.
#include "platform/desktop/message_box.h"

extern "C" __attribute__((visibility("default"))) int box_lib_ask() {
    return kvr::desktop::messageBox("Error to Read Reg Value", "Message", kvr::desktop::MB_YESNO);
}
