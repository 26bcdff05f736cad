#pragma once

#include "wyr/NamedEnum.h"

namespace device {

// The step of a port scan that a NotifyInterrogate record reports.
class OrvaneScanPhase : public wyr::NamedEnum<OrvaneScanPhase> {
public:
    static const OrvaneScanPhase NotifyScanBegin;
    static const OrvaneScanPhase NotifyScanPort;
    static const OrvaneScanPhase NotifyScanResult;

    OrvaneScanPhase(const OrvaneScanPhase&) = delete;
    OrvaneScanPhase& operator=(const OrvaneScanPhase&) = delete;
    ~OrvaneScanPhase() = default;

private:
    OrvaneScanPhase(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace device
