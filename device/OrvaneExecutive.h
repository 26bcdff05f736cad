#pragma once

#include "device/OrvaneImpl.h"

#include <string>

namespace device {

// The class of the single device interface that getInterface hands out.
class OrvaneExecutive : public OrvaneImpl {
public:
    // On the user-interface thread.
    explicit OrvaneExecutive(std::wstring name);
    virtual ~OrvaneExecutive();
};

} // namespace device
