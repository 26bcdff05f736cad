#include "bootloader/UpdateCheck.h"

#include "bootloader/BootloaderType.h"
#include "bootloader/CrcType.h"
#include "wyr/windows/system/TextFormat.h"

namespace bootloader {

namespace {

using wyr::windows::system::formatText;

std::wstring bytes(std::uint8_t code) {
    return formatText(L"%u bytes", sizeFromCode(code));
}

std::wstring address(std::uint32_t value) {
    return formatText(L"0x%06x", value);
}

// "<row>: image <text>, device <text>", from the cells the user sees side by side.
std::wstring differs(const FieldRow& row, const InfoBlock& device, const InfoBlock& source) {
    return row.name() + L": image " + UpdateCheck::cellText(InfoColumn::Source, row, source) + L", device " +
           UpdateCheck::cellText(InfoColumn::Bootloader, row, device);
}

} // namespace

void UpdateCheck::clear() {
    _marks.clear();
    _mismatches.clear();
}

void UpdateCheck::mark(const InfoColumn& column, const FieldRow& row, std::wstring reason) {
    _marks.emplace(column.value(), row.value());
    _mismatches.push_back(Mismatch{&column, &row, std::move(reason)});
}

bool UpdateCheck::isMarked(const InfoColumn& column, const FieldRow& row) const {
    return _marks.contains({column.value(), row.value()});
}

std::size_t UpdateCheck::compare(const InfoBlock& device, const InfoBlock& source) {
    clear();
    // A page size beyond 32 bits has no multiple to start on.
    const std::uint32_t pageSize = device.pageSize();
    if (pageSize == 0 || device.appStart % pageSize != 0) {
        mark(InfoColumn::Bootloader, FieldRow::StartAddress,
             formatText(
                 L"%ls: the device's application area starts at 0x%06x, not on a page boundary (%u-byte "
                 L"pages)",
                 FieldRow::StartAddress.name().c_str(), device.appStart, pageSize));
    }
    if (source.productCode != device.productCode) {
        mark(InfoColumn::Source, FieldRow::ProductCode, differs(FieldRow::ProductCode, device, source));
    }
    if (source.pageSizeCode != device.pageSizeCode) {
        mark(InfoColumn::Source, FieldRow::FlashPageSize, differs(FieldRow::FlashPageSize, device, source));
    }
    if (source.packetSizeCode != device.packetSizeCode) {
        mark(InfoColumn::Source, FieldRow::PacketSize, differs(FieldRow::PacketSize, device, source));
    }
    if (source.bufferSizeCode != device.bufferSizeCode) {
        mark(InfoColumn::Source, FieldRow::BufferSize, differs(FieldRow::BufferSize, device, source));
    }
    if (source.crcType != device.crcType) {
        mark(InfoColumn::Source, FieldRow::CrcType, differs(FieldRow::CrcType, device, source));
    }
    // The image block's start and end are the lowest and highest address it holds.
    if (source.appStart != device.appStart) {
        mark(InfoColumn::Source, FieldRow::StartAddress,
             formatText(L"%ls: the image starts at 0x%06x, the device's application area at 0x%06x",
                        FieldRow::StartAddress.name().c_str(), source.appStart, device.appStart));
    }
    if (device.appStart > source.appEnd || device.appEnd < source.appEnd || device.appEnd < source.appStart) {
        mark(InfoColumn::Source, FieldRow::EndAddress,
             formatText(
                 L"%ls: the image holds 0x%06x - 0x%06x, outside the device's application area 0x%06x - "
                 L"0x%06x",
                 FieldRow::EndAddress.name().c_str(), source.appStart, source.appEnd, device.appStart,
                 device.appEnd));
    }
    return _marks.size();
}

UpdateCheck::Buttons UpdateCheck::refresh(const BootloaderNotifyType& step, const InfoBlock& device,
                                          const InfoBlock* source) {
    Buttons buttons;
    if (step < BootloaderNotifyType::LoadSource) {
        return buttons;
    }
    if (step == BootloaderNotifyType::LoadSource) {
        if (source == nullptr) {
            clear();
            return buttons;
        }
        if (compare(device, *source) == 0) {
            buttons.setSerial = true;
            buttons.update = source->serialNo != 0;
        }
        return buttons;
    }
    if (step == BootloaderNotifyType::EraseTarget) {
        buttons.update = true;
        return buttons;
    }
    buttons.close = true;
    return buttons;
}

std::wstring UpdateCheck::cellText(const InfoColumn& column, const FieldRow& row, const InfoBlock& block) {
    if (row == FieldRow::ProductCode) {
        return formatText(L"%u", unsigned{block.productCode});
    }
    if (row == FieldRow::BootloaderType) {
        return BootloaderType::displayName(block.bootloaderType);
    }
    if (row == FieldRow::FlashPageSize) {
        return bytes(block.pageSizeCode);
    }
    if (row == FieldRow::PacketSize) {
        return bytes(block.packetSizeCode);
    }
    if (row == FieldRow::BufferSize) {
        return bytes(block.bufferSizeCode);
    }
    if (row == FieldRow::CrcType) {
        return CrcType::displayName(block.crcType);
    }
    if (row == FieldRow::Version) {
        return block.version.text();
    }
    if (row == FieldRow::StartAddress || row == FieldRow::EndAddress) {
        if (column == InfoColumn::Target) {
            return L"N/A";
        }
        return address(row == FieldRow::StartAddress ? block.appStart : block.appEnd);
    }
    if (row == FieldRow::SerialNo) {
        if (column == InfoColumn::Bootloader || (column == InfoColumn::Source && block.serialNo == 0)) {
            return L"N/A";
        }
        return formatText(L"%u", unsigned{block.serialNo});
    }
    return std::wstring();
}

} // namespace bootloader
