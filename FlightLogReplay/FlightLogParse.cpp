#include <cstring>

#include "Core/Format.h"
#include "FlightLogReplay/FlightLogList.h"
#include "Core/JobQueue.h"
#include "Platform/FileTables.h"

namespace {

bool endsWithIgnoringCase(const FixedString* name, const char* suffix) {
    i64 length = static_cast<i64>(std::strlen(suffix));
    if (name->length < length) return false;
    const char* tail = name->text + name->length - length;
    for (i64 i = 0; i < length; i++) {
        char a = tail[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (a != suffix[i]) return false;
    }
    return true;
}

// The index takes about a third of a parse's time, the pass the rest.
constexpr u32 kIndexPercent = 30;

void finishParse(FlightLogList* list) {
    list->parsePhase = 0;
    __atomic_store_n(&list->parseState, static_cast<u32>(FlightLogParseDone), __ATOMIC_RELEASE);
}

}  // namespace

u32 flightLogParseState(const FlightLogList* list) { return __atomic_load_n(&list->parseState, __ATOMIC_ACQUIRE); }

const FlightLogOverview* flightLogOverviewOf(const FlightLogList* list) {
    bool current = list->overviewGeneration != 0 && list->overviewGeneration == list->indexGeneration;
    return current && flightLogParseState(list) == FlightLogParseDone ? &list->overview : nullptr;
}

i64 parseFlightLogJob(void* argument) {
    FlightLogList* list = static_cast<FlightLogList*>(argument);
    if (list->parsePhase == 0) {
        FileReadRequest* request = list->logRequest;
        list->index = FlightLogIndex{};
        list->ignitionSpheres = 0;
        list->photos = 0;
        list->videos = 0;
        list->parseCancelled = 0;
        if (!request || !endsWithIgnoringCase(&request->name, ".qvlog3")) {
            list->index.error = format("Unrecognized file extension, should be .qvlog3");
            finishParse(list);
            return 0;
        }
        list->extensionFound = 1;
        list->index = optimizeFlightLogFile(request->data + request->headroom, static_cast<i64>(request->bytesRead));
        if (list->index.error.length != 0) {
            finishParse(list);
            return 0;
        }
        beginFlightLogOverview(&list->parsePass, &list->overview, &list->parseReplay);
        list->parsePhase = 1;
        __atomic_store_n(&list->parsePercent, kIndexPercent, __ATOMIC_RELAXED);
    }
    for (;;) {
        if (__atomic_load_n(&list->cancelParse, __ATOMIC_ACQUIRE)) {
            list->parseCancelled = 1;
            finishParse(list);
            return 0;
        }
        if (continueFlightLogOverview(&list->parsePass, &list->overview, &list->parseReplay, &list->index,
                                      kParseSliceEntries)) {
            list->ignitionSpheres = list->overview.ignitionSpheres;
            list->photos = list->overview.photos;
            list->videos = list->overview.videos;
            __atomic_store_n(&list->parsePercent, 100u, __ATOMIC_RELAXED);
            finishParse(list);
            return 0;
        }
        u32 percent = kIndexPercent + flightLogOverviewPercent(&list->parsePass, &list->index) * (100 - kIndexPercent) / 100;
        __atomic_store_n(&list->parsePercent, percent, __ATOMIC_RELAXED);
        if (list->parseQueue && queuedJobCount(list->parseQueue) > 0) {
            __atomic_store_n(&list->parseState, static_cast<u32>(FlightLogParsePaused), __ATOMIC_RELEASE);
            return 0;
        }
    }
}
