#include "cli/HexInfoCommand.h"

#include "bootloader/InfoBlock.h"
#include "cli/CommandLine.h"
#include "cli/ErrorLog.h"
#include "wyr/windows/system/TextConversion.h"

namespace cli {

namespace sys = wyr::windows::system;

sys::ErrorCode HexInfoCommand::load(bootloader::IntelHexFile& image, const std::string& path,
                                    std::vector<std::wstring>& reason) {
    reason.clear();
    ErrorLog errors("bootloader::IntelHexFile");
    std::uint32_t lines = 0;
    sys::ErrorCode result = image.open(path, lines);
    if (result == sys::ERROR_SUCCESS) {
        do {
            result = image.processNextLine();
        } while (result == sys::ERROR_MORE_DATA);
        if (result == sys::ERROR_HANDLE_EOF) {
            result = sys::ERROR_SUCCESS;
        }
    }
    if (result == sys::ERROR_SUCCESS) {
        errors.take();
        return result;
    }
    // Each failure is logged as its message, then the code's system text; the
    // code travels with the refusal, so its text is said once, there.
    for (auto& message : errors.take()) {
        if (message != sys::systemMessage(result)) {
            reason.push_back(std::move(message));
        }
    }
    return result;
}

void HexInfoCommand::printRefusal(std::ostream& err, const std::string& prefix, const std::string& path,
                                  sys::ErrorCode code, const std::vector<std::wstring>& reason) {
    err << prefix << path << " cannot be used: " << sys::toNarrow(sys::systemMessage(code)) << " [" << code
        << "]\n";
    for (const auto& line : reason) {
        err << "  " << sys::toNarrow(line) << "\n";
    }
}

const char* HexInfoCommand::usage() {
    return "hexinfo FILE.hex\n"
           "    Show a firmware image's info block and flash pages.\n"
           "    Exit 0: shown; 2: bad usage; 4: the image cannot be read or used.\n";
}

int HexInfoCommand::run(const std::vector<std::string>& args) {
    CommandLine options({{"help", 'h', false}});
    if (!options.parse(args)) {
        _err << "orvanectl hexinfo: " << options.error() << " (see orvanectl hexinfo --help)\n";
        return kUsage;
    }
    if (options.has("help")) {
        _out << "Usage: orvanectl " << usage();
        return kShown;
    }
    if (options.operands().size() != 1 || options.operands().front().empty()) {
        _err << "orvanectl hexinfo: give one firmware image, such as orvanectl hexinfo firmware.hex\n";
        return kUsage;
    }
    const std::string& path = options.operands().front();
    bootloader::IntelHexFile image;
    std::vector<std::wstring> reason;
    if (const sys::ErrorCode code = load(image, path, reason)) {
        printRefusal(_err, "orvanectl hexinfo: ", path, code, reason);
        return kUnreadable;
    }
    for (const auto& line : bootloader::dumpText(image.infoBlock())) {
        _out << sys::toNarrow(line) << "\n";
    }
    for (const auto& line : image.flashMapText()) {
        _out << sys::toNarrow(line) << "\n";
    }
    return kShown;
}

} // namespace cli
