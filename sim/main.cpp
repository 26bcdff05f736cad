#include "sim/InstrumentSimulator.h"
#include "sim/SimulatorCommandLine.h"
#include "wyr/windows/system/SystemError.h"
#include "wyr/windows/system/TextConversion.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv) {
    sim::SimulatorCommandLine commandLine;
    const int parsed = commandLine.parse(argc, argv, std::cout, std::cerr);
    if (parsed >= 0) {
        return parsed;
    }

    // Block the stop signals before any thread starts, so only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::InstrumentSimulator simulator(commandLine.settings(), commandLine.faults());
    if (const auto error = simulator.start(commandLine.port()); error != 0) {
        const std::string& flashFile = commandLine.settings().bootloader.flashFile;
        std::cerr << "orvane-sim: cannot start (error " << error << ": "
                  << wyr::windows::system::toNarrow(wyr::windows::system::systemMessage(error)) << ")";
        if (!flashFile.empty()) {
            std::cerr << "; the flash file " << flashFile
                      << " must be one made for this application area and page size, and not in use";
        }
        std::cerr << "\n";
        return 1;
    }
    std::cout << "Simulating Orvane X1 on COM" << simulator.comNumber() << " (" << simulator.devicePath()
              << ", linked as " << simulator.linkPath() << ")"
              << (simulator.status().inBootloader ? ", in its bootloader" : "") << ". Ctrl-C stops."
              << std::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.stop();
    return 0;
}
