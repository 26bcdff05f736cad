#pragma once

#include "wyr/NamedEnum.h"

namespace wyr::windows::communication {

// Bits per character.
class DataBits : public NamedEnum<DataBits> {
public:
    static const DataBits Five;
    static const DataBits Six;
    static const DataBits Seven;
    static const DataBits Eight;

    // Defined beside the enumerators, so that whoever lists or looks them up also
    // links them in and finds the registry filled.
    static const Registry& registry();
    static const DataBits* fromValue(int value);

private:
    DataBits(int value, std::wstring name) : NamedEnum(value, std::move(name)) {}
};

} // namespace wyr::windows::communication
