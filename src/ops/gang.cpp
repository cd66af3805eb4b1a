#include "ops/gang.h"

#include <thread>

#include "ops/download_driver.h"

namespace qmx {

void copyStationSetup(const IspCore& from, IspCore& station, const std::string& port) {
    if (!from.settings.path().empty()) station.settings.open(from.settings.path());
    station.model = from.model;
    station.options = from.options;
    station.buffer = from.buffer;
    station.serial = from.serial;
    station.portPath = port;
    station.maxBaud = from.maxBaud;
    station.powerCycle = from.powerCycle;
    station.chipWaitSeconds = from.chipWaitSeconds;
    station.download = from.download;
    station.download.reloadOnChange = false;  // a watch belongs to one station's window
    station.download.beepOnSuccess = false;   // several stations beeping tell nobody anything
    station.productionLog = from.productionLog;
}

std::vector<OpResult> run_gang(const std::vector<IspCore*>& stations, int index,
                               SharedProduction& shared) {
    std::vector<OpResult> results(stations.size());
    std::vector<std::thread> threads;
    threads.reserve(stations.size());
    for (std::size_t i = 0; i < stations.size(); ++i) {
        threads.emplace_back([&results, &stations, &shared, i, index] {
            results[i] = run_download_session(*stations[i], index, &shared);
        });
    }
    for (std::thread& t : threads)
        t.join();
    return results;
}

}  // namespace qmx
