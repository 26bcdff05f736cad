#include "bootloader/UpdateCheck.h"

#include "bootloader/BootloaderNotifyType.h"
#include "bootloader/FieldRow.h"
#include "bootloader/InfoBlock.h"
#include "bootloader/InfoColumn.h"

#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace bootloader;

namespace {

using Cell = std::pair<int, int>; // (column, row)

Cell cell(const InfoColumn& column, const FieldRow& row) {
    return {column.value(), row.value()};
}

// A 28 KiB application area of 512-byte pages above the bootloader.
InfoBlock bootloaderBlock() {
    InfoBlock b;
    b.type = InfoBlockType::BootloaderInfoBlock;
    b.length = 16;
    b.productCode = 0x42;
    b.version = FirmwareVersion(0x0010, 0x0008);
    b.bootloaderType = 0x80;
    b.pageSizeCode = 9;
    b.packetSizeCode = 6;
    b.bufferSizeCode = 6;
    b.crcType = 0x40;
    b.appStart = 0x001000;
    b.appEnd = 0x007FFF;
    return b;
}

// An image made for that device, filling its area from the first to the last byte.
InfoBlock imageBlock() {
    InfoBlock s;
    s.type = InfoBlockType::SourceInfoBlock;
    s.length = 12;
    s.productCode = 0x42;
    s.version = FirmwareVersion(0x0021, 0x0105);
    s.bootloaderType = 0x80;
    s.pageSizeCode = 9;
    s.packetSizeCode = 6;
    s.bufferSizeCode = 6;
    s.crcType = 0x40;
    s.appStart = 0x001000;
    s.appEnd = 0x007FFF;
    s.serialNo = 0x1234;
    return s;
}

std::set<Cell> marked(const UpdateCheck& check) {
    std::set<Cell> cells;
    for (const auto& [columnId, column] : InfoColumn::registry()) {
        for (const auto& [rowId, row] : FieldRow::registry()) {
            if (check.isMarked(*column, *row)) {
                cells.insert({columnId, rowId});
            }
        }
    }
    return cells;
}

struct MismatchCase {
    const char* name;
    std::function<void(InfoBlock& device, InfoBlock& source)> change;
    std::set<Cell> cells;
};

} // namespace

TEST(UpdateCheck, AMatchingImageMarksNothingAndIsOffered) {
    UpdateCheck check;
    InfoBlock device = bootloaderBlock();
    InfoBlock source = imageBlock();
    // Shown, never compared: any version may replace any other, over any transport.
    source.bootloaderType = 0x81;
    source.version = FirmwareVersion(0x0001, 0x0000);
    // An image may end below the end of the area.
    source.appEnd = 0x001FFF;

    EXPECT_EQ(check.compare(device, source), 0U);
    EXPECT_TRUE(marked(check).empty());
    EXPECT_TRUE(check.mismatches().empty());
    EXPECT_EQ(check.refresh(BootloaderNotifyType::LoadSource, device, &source),
              (UpdateCheck::Buttons{true, true, false}));
}

TEST(UpdateCheck, EachMismatchMarksItsCell) {
    const auto& B = InfoColumn::Bootloader;
    const auto& S = InfoColumn::Source;
    const std::vector<MismatchCase> cases{
        {"application area off the page grid",
         [](InfoBlock& d, InfoBlock& s) { d.appStart = s.appStart = 0x001100; },
         {cell(B, FieldRow::StartAddress)}},
        {"page size beyond 32 bits",
         [](InfoBlock& d, InfoBlock& s) { d.pageSizeCode = s.pageSizeCode = 40; },
         {cell(B, FieldRow::StartAddress)}},
        {"product code",
         [](InfoBlock&, InfoBlock& s) { s.productCode = 0x2A; },
         {cell(S, FieldRow::ProductCode)}},
        {"page size",
         [](InfoBlock&, InfoBlock& s) { s.pageSizeCode = 8; },
         {cell(S, FieldRow::FlashPageSize)}},
        {"packet size",
         [](InfoBlock&, InfoBlock& s) { s.packetSizeCode = 5; },
         {cell(S, FieldRow::PacketSize)}},
        {"buffer size",
         [](InfoBlock&, InfoBlock& s) { s.bufferSizeCode = 7; },
         {cell(S, FieldRow::BufferSize)}},
        {"checksum type", [](InfoBlock&, InfoBlock& s) { s.crcType = 0xC0; }, {cell(S, FieldRow::CrcType)}},
        {"image starts late",
         [](InfoBlock&, InfoBlock& s) { s.appStart = 0x001200; },
         {cell(S, FieldRow::StartAddress)}},
        {"image starts early",
         [](InfoBlock&, InfoBlock& s) { s.appStart = 0x000E00; },
         {cell(S, FieldRow::StartAddress)}},
        {"image runs past the area",
         [](InfoBlock&, InfoBlock& s) { s.appEnd = 0x008000; },
         {cell(S, FieldRow::EndAddress)}},
        {"image wholly below the area",
         [](InfoBlock&, InfoBlock& s) {
             s.appStart = 0x000400;
             s.appEnd = 0x000FFF;
         },
         {cell(S, FieldRow::StartAddress), cell(S, FieldRow::EndAddress)}},
        {"image wholly above the area",
         [](InfoBlock&, InfoBlock& s) {
             s.appStart = 0x009000;
             s.appEnd = 0x0097FF;
         },
         {cell(S, FieldRow::StartAddress), cell(S, FieldRow::EndAddress)}},
        {"everything at once",
         [](InfoBlock& d, InfoBlock& s) {
             d.appStart = 0x001001;
             s.productCode = 1;
             s.pageSizeCode = 10;
             s.packetSizeCode = 7;
             s.bufferSizeCode = 5;
             s.crcType = 0x01;
             s.appEnd = 0x00FFFF;
         },
         {cell(B, FieldRow::StartAddress), cell(S, FieldRow::ProductCode), cell(S, FieldRow::FlashPageSize),
          cell(S, FieldRow::PacketSize), cell(S, FieldRow::BufferSize), cell(S, FieldRow::CrcType),
          cell(S, FieldRow::StartAddress), cell(S, FieldRow::EndAddress)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InfoBlock device = bootloaderBlock();
        InfoBlock source = imageBlock();
        c.change(device, source);
        UpdateCheck check;
        EXPECT_EQ(check.compare(device, source), c.cells.size());
        EXPECT_EQ(marked(check), c.cells);
        // Each mark comes with its reason, in the order the checks run.
        ASSERT_EQ(check.mismatches().size(), c.cells.size());
        for (const auto& m : check.mismatches()) {
            EXPECT_TRUE(c.cells.contains(cell(*m.column, *m.row)));
            EXPECT_EQ(m.reason.rfind(m.row->name() + L": ", 0), 0U)
                << std::string(m.reason.begin(), m.reason.end());
        }
        // Nothing is offered while a cell is marked.
        EXPECT_EQ(check.refresh(BootloaderNotifyType::LoadSource, device, &source), UpdateCheck::Buttons{});
    }
}

TEST(UpdateCheck, MismatchReasonsShowBothSides) {
    InfoBlock device = bootloaderBlock();
    InfoBlock source = imageBlock();
    source.productCode = 0x2A;
    source.crcType = 0xC0;
    source.appStart = 0x001200;
    UpdateCheck check;
    ASSERT_EQ(check.compare(device, source), 3U);
    EXPECT_EQ(check.mismatches()[0].reason, L"Product Code: image 42, device 66");
    EXPECT_EQ(check.mismatches()[1].reason, L"CRC Type: image CRC-32-IEEE 802.3, device CRC-16-CCITT");
    EXPECT_EQ(check.mismatches()[2].reason,
              L"Start Address: the image starts at 0x001200, the device's application area at 0x001000");
}

TEST(UpdateCheck, SerialNumberZeroAllowsSetSerialButNotUpdate) {
    UpdateCheck check;
    const InfoBlock device = bootloaderBlock();
    InfoBlock source = imageBlock();
    source.serialNo = 0;
    EXPECT_EQ(check.refresh(BootloaderNotifyType::LoadSource, device, &source),
              (UpdateCheck::Buttons{true, false, false}));
    EXPECT_EQ(check.markedCount(), 0U);
    source.serialNo = 1;
    EXPECT_EQ(check.refresh(BootloaderNotifyType::LoadSource, device, &source),
              (UpdateCheck::Buttons{true, true, false}));
}

TEST(UpdateCheck, ButtonsFollowTheStep) {
    const InfoBlock device = bootloaderBlock();
    const InfoBlock source = imageBlock();
    InfoBlock foreign = imageBlock();
    foreign.productCode = 7;
    using Buttons = UpdateCheck::Buttons;
    const Buttons nothing{};
    const std::vector<std::pair<const BootloaderNotifyType*, Buttons>> steps{
        {&BootloaderNotifyType::None, nothing},
        {&BootloaderNotifyType::EnteredBootloadMode, nothing},
        {&BootloaderNotifyType::ReceivedTargetInfo, nothing},
        {&BootloaderNotifyType::EraseTarget, Buttons{false, true, false}},
        {&BootloaderNotifyType::WriteTarget, Buttons{false, false, true}},
        {&BootloaderNotifyType::ResetTarget, Buttons{false, false, true}},
    };
    for (const auto& [step, expected] : steps) {
        SCOPED_TRACE(std::string(step->name().begin(), step->name().end()));
        UpdateCheck check;
        // Only "Load Source" compares; the image does not matter at the other steps.
        EXPECT_EQ(check.refresh(*step, device, &foreign), expected);
        EXPECT_EQ(check.markedCount(), 0U);
        EXPECT_EQ(check.refresh(*step, device, &source), expected);
    }
}

TEST(UpdateCheck, LoadSourceComparesAfreshEachTime) {
    UpdateCheck check;
    const InfoBlock device = bootloaderBlock();
    InfoBlock source = imageBlock();
    source.crcType = 0xC0;
    EXPECT_EQ(check.refresh(BootloaderNotifyType::LoadSource, device, &source), UpdateCheck::Buttons{});
    EXPECT_TRUE(check.isMarked(InfoColumn::Source, FieldRow::CrcType));

    // The marks survive the later steps ...
    check.refresh(BootloaderNotifyType::EraseTarget, device, &source);
    EXPECT_TRUE(check.isMarked(InfoColumn::Source, FieldRow::CrcType));

    // ... and go when another image fits, or when the image is gone.
    const InfoBlock fitting = imageBlock();
    EXPECT_EQ(check.refresh(BootloaderNotifyType::LoadSource, device, &fitting),
              (UpdateCheck::Buttons{true, true, false}));
    EXPECT_EQ(check.markedCount(), 0U);
    check.compare(device, source);
    EXPECT_EQ(check.refresh(BootloaderNotifyType::LoadSource, device, nullptr), UpdateCheck::Buttons{});
    EXPECT_EQ(check.markedCount(), 0U);
    EXPECT_TRUE(check.mismatches().empty());
}

TEST(UpdateCheck, CellTexts) {
    const InfoBlock device = bootloaderBlock();
    InfoBlock target = imageBlock();
    target.type = InfoBlockType::TargetInfoBlock;
    target.serialNo = 0;
    InfoBlock source = imageBlock();

    const auto& B = InfoColumn::Bootloader;
    const auto& T = InfoColumn::Target;
    const auto& S = InfoColumn::Source;
    struct Row {
        const FieldRow& row;
        const wchar_t* bootloader;
        const wchar_t* target;
        const wchar_t* source;
    };
    const std::vector<Row> rows{
        {FieldRow::ProductCode, L"66", L"66", L"66"},
        {FieldRow::BootloaderType, L"UART", L"UART", L"UART"},
        {FieldRow::FlashPageSize, L"512 bytes", L"512 bytes", L"512 bytes"},
        {FieldRow::PacketSize, L"64 bytes", L"64 bytes", L"64 bytes"},
        {FieldRow::BufferSize, L"64 bytes", L"64 bytes", L"64 bytes"},
        {FieldRow::CrcType, L"CRC-16-CCITT", L"CRC-16-CCITT", L"CRC-16-CCITT"},
        {FieldRow::Version, L"0.1.0.2", L"1.2.1.65", L"1.2.1.65"},
        {FieldRow::StartAddress, L"0x001000", L"N/A", L"0x001000"},
        {FieldRow::EndAddress, L"0x007fff", L"N/A", L"0x007fff"},
        // A device's application may carry serial number 0; an image with 0 has none yet.
        {FieldRow::SerialNo, L"N/A", L"0", L"4660"},
    };
    ASSERT_EQ(rows.size(), FieldRow::registry().size());
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.row.name().begin(), r.row.name().end()));
        EXPECT_EQ(UpdateCheck::cellText(B, r.row, device), r.bootloader);
        EXPECT_EQ(UpdateCheck::cellText(T, r.row, target), r.target);
        EXPECT_EQ(UpdateCheck::cellText(S, r.row, source), r.source);
    }

    source.serialNo = 0;
    EXPECT_EQ(UpdateCheck::cellText(S, FieldRow::SerialNo, source), L"N/A");
    source.bootloaderType = 0x10;
    source.crcType = 0x22;
    source.pageSizeCode = 40;
    EXPECT_EQ(UpdateCheck::cellText(S, FieldRow::BootloaderType, source), L"User Defined");
    EXPECT_EQ(UpdateCheck::cellText(S, FieldRow::CrcType, source), L"INVALID");
    EXPECT_EQ(UpdateCheck::cellText(S, FieldRow::FlashPageSize, source), L"0 bytes");
    source.bootloaderType = 0x90;
    EXPECT_EQ(UpdateCheck::cellText(S, FieldRow::BootloaderType, source), L"Reserved");

    EXPECT_FALSE(UpdateCheck::hasApplication(InfoBlock{}));
    EXPECT_TRUE(UpdateCheck::hasApplication(target));
}

TEST(UpdateCheck, TableNamesAndOrder) {
    std::vector<std::wstring> rows;
    for (const auto& [id, row] : FieldRow::registry()) {
        rows.push_back(row->name());
    }
    EXPECT_EQ(rows, (std::vector<std::wstring>{L"Product Code", L"Bootloader Type", L"Flash Page Size",
                                               L"Packet Size", L"Buffer Size", L"CRC Type", L"Version",
                                               L"Start Address", L"End Address", L"Serial No"}));
    std::vector<std::wstring> columns;
    for (const auto& [id, column] : InfoColumn::registry()) {
        columns.push_back(column->name());
    }
    EXPECT_EQ(columns, (std::vector<std::wstring>{L"Bootloader", L"Target", L"Source"}));
}
