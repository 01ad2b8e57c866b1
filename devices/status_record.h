// A printer's status as winPrinterStatus hands it over (WinPrinterStatus, plain ints) and as the
// rest of the code holds it (protocol::DeviceStatus): the one mapping both sides of the call use.
#pragma once

#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include "common/support_protocol.h"
#include "devices/device_api.h"

namespace tovi::devices {

using StatusFact = std::optional<bool> protocol::DeviceStatus::*;
inline constexpr std::pair<int WinPrinterStatus::*, StatusFact> kStatusFacts[] = {
    {&WinPrinterStatus::connected, &protocol::DeviceStatus::connected},
    {&WinPrinterStatus::online, &protocol::DeviceStatus::online},
    {&WinPrinterStatus::paperLow, &protocol::DeviceStatus::paperLow},
    {&WinPrinterStatus::paperOut, &protocol::DeviceStatus::paperOut},
    {&WinPrinterStatus::coverOpen, &protocol::DeviceStatus::coverOpen},
    {&WinPrinterStatus::drawerOpen, &protocol::DeviceStatus::drawerOpen},
    {&WinPrinterStatus::error, &protocol::DeviceStatus::error},
};
// protocol::kStatusSources is indexed by WINPRINT_SOURCE_*.
static_assert(protocol::kStatusSources[WINPRINT_SOURCE_NONE] == "none" &&
              protocol::kStatusSources[WINPRINT_SOURCE_ESCPOS] == "escpos" &&
              protocol::kStatusSources[WINPRINT_SOURCE_SPOOLER] == "spooler" &&
              protocol::kStatusSources[WINPRINT_SOURCE_VIRTUAL] == "virtual");
inline constexpr int kSourceCount = static_cast<int>(std::size(protocol::kStatusSources));

inline WinPrinterStatus statusRecord(const protocol::DeviceStatus& status) {
    WinPrinterStatus r{};
    r.size = sizeof r;
    for (const auto& [field, fact] : kStatusFacts) {
        const std::optional<bool>& v = status.*fact;
        r.*field = v ? (*v ? 1 : 0) : WINPRINT_UNKNOWN;
    }
    r.source = WINPRINT_SOURCE_NONE;
    for (int i = 0; i < kSourceCount; ++i)
        if (protocol::kStatusSources[i] == status.source) r.source = i;
    return r;
}

// Any value but 0 and 1 is unknown, and any source beyond the known ones is "none": a library
// cannot make the caller hold a value that the protocol has no word for.
inline protocol::DeviceStatus statusOfRecord(const WinPrinterStatus& r) {
    protocol::DeviceStatus status;
    for (const auto& [field, fact] : kStatusFacts) {
        if (r.*field == 0 || r.*field == 1) status.*fact = r.*field == 1;
    }
    if (r.source >= 0 && r.source < kSourceCount) status.source = protocol::kStatusSources[r.source];
    return status;
}

}  // namespace tovi::devices
