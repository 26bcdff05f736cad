#pragma once

#include "bootloader/IntelHexFile.h"
#include "wyr/windows/system/SystemError.h"

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// orvanectl hexinfo FILE.hex: reads a firmware image as the update does and
// prints its info block and its flash map, or why it cannot be used.
class HexInfoCommand {
public:
    static constexpr int kShown = 0;
    static constexpr int kUsage = 2;
    static constexpr int kUnreadable = 4;

    HexInfoCommand(std::ostream& out, std::ostream& err) : _out(out), _err(err) {}

    int run(const std::vector<std::string>& args);

    static const char* usage();

    // Reads the whole image at `path` into `image`. 0, or the reader's result
    // code with `reason` holding what the reader reported, one message a line.
    // On the user-interface thread, whose log queue it drains.
    static wyr::windows::system::ErrorCode load(bootloader::IntelHexFile& image, const std::string& path,
                                                std::vector<std::wstring>& reason);

    // "<path> cannot be used [code]:" and the reason, indented.
    static void printRefusal(std::ostream& err, const std::string& prefix, const std::string& path,
                             wyr::windows::system::ErrorCode code, const std::vector<std::wstring>& reason);

private:
    std::ostream& _out;
    std::ostream& _err;
};

} // namespace cli
