// What the driver module reports about one acquisition, and what a completed
// acquisition leaves the client with.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "acq/image/acqimage.h"
#include "std/ptrhandle.h"

// Why an acquisition failed. The flag bits and the detail word come from the
// driver module and are carried to the client unchanged.
struct ccAcqFailure {
    uint32_t flags = 0;
    uint32_t detail = 0;
    std::wstring message;
};

// Every word 0 and an empty message when new; copies copy every field.
struct ccAcquireInfo {
    // The size of the buffer the module writes its message into, in UTF-16 units.
    static constexpr std::size_t kModuleMessageUnits = 256;

    uint32_t ticket = 0;
    uint32_t triggerNumber = 0;
    ccAcqFailure failure;
    // Reported by the module with each acquisition; not interpreted here.
    uint32_t extra[2] = {0, 0};

    // The message as the module hands it over: its call's status (0 is
    // success), its buffer of kModuleMessageUnits UTF-16 units and the length
    // it reports. Only a successful call with a non-zero length sets a text;
    // the message is empty otherwise. The length is not trusted: at most the
    // buffer is read, and the text ends at a 0 unit.
    void takeModuleMessage(int32_t status, const char16_t* buffer, uint32_t length);
};

// A completed acquisition that a client keeps: its record and its image
// (empty until one is given).
struct ccAcqResult {
    ccAcquireInfo info;
    ccPtrHandle<ccAcqImage> image;
};
