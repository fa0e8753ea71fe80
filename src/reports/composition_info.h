#pragma once
// The Composition Information report: a global summary of the composition and the full
// settings of one event, as the rows of the window's list boxes. Tabs stay '\t'; the window
// gives its lists tab stops.

#include <string>
#include <string_view>
#include <vector>

#include "document/document.h"

namespace tarrowin {

// Label over the global list (its spelling is the window's own).
inline constexpr std::string_view kGlobalInfoLabel = "Global Informaton";
inline constexpr std::string_view kEventInfoLabel = "Event Information";
inline constexpr std::string_view kCompositionInfoCaption = "Composition Information";

// What the window's three lists show after Update.
struct CompositionInfoContents {
    bool listsEnabled = false;         // false (and all lists empty) for an empty composition
    std::vector<std::string> events;   // "0" .. the last index
    std::vector<std::string> global;   // the global report
    std::vector<std::string> event;    // the report of event 0
};

// The summary over all events. fileVersion: the version of the file read most recently
// (0 when none was read).
std::vector<std::string> globalReport(const Composition& composition, float fileVersion);

// The settings of event `index`; no rows for an index outside the composition.
std::vector<std::string> eventReport(const Composition& composition, int index);

// The Update of the window: the events list, the global report and event 0's report.
CompositionInfoContents updateCompositionInfo(const Composition& composition, float fileVersion);

// The approximate duration of the composition in seconds, summed in single precision.
float compositionSeconds(const Composition& composition);

}  // namespace tarrowin
