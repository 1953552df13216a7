// The entries list's texts of a recorded datagram over arbitrary bytes: the summary and the details
// stay inside their writers, the same bytes give the same texts, a smaller writer gets a prefix of
// what a larger one gets, measuring gives the length that filling gives, a summary is empty exactly
// when no message decoded, and whole details lines end in a newline. The first input byte chooses
// the units; the rest is the datagram.
#include "Core/Preferences.h"
#include "FlightLogReplay/RecordedMavlink.h"

#include <cstdio>
#include <cstring>

static void fail(int line) {
    fprintf(stderr, "RecordedMavlinkFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 65536) return 0;
    static Preferences prefs;
    prefs.units = data[0] % 5;
    const u8* payload = data + 1;
    u16 length = (u16)(size - 1);

    u8 summary[kMavlinkSummaryBytes];
    ByteWriter summaryWriter = makeByteWriter(summary, sizeof(summary));
    MavlinkEntrySummary result = summarizeMavlinkEntry(payload, length, &summaryWriter);
    check(summaryWriter.length <= kMavlinkSummaryBytes);
    check(result.messageCount >= 0 && result.messageCount <= length / 8);
    check((summaryWriter.length == 0) == (result.messageCount == 0));
    check(result.messageCount > 0 || result.sender == 0);
    ByteWriter measure = makeMeasuringWriter(kMavlinkSummaryBytes);
    MavlinkEntrySummary measured = summarizeMavlinkEntry(payload, length, &measure);
    check(measure.length == summaryWriter.length && measure.overflow == summaryWriter.overflow);
    check(measured.messageCount == result.messageCount && measured.sender == result.sender);

    static u8 large[1 << 20];
    ByteWriter largeWriter = makeByteWriter(large, sizeof(large));
    appendMavlinkEntryDetails(payload, length, &prefs, &largeWriter);
    check(!largeWriter.overflow);
    check(largeWriter.length == 0 || large[largeWriter.length - 1] == '\n');
    check((largeWriter.length == 0) || result.messageCount > 0);
    u8 details[2000];
    ByteWriter detailsWriter = makeByteWriter(details, sizeof(details));
    appendMavlinkEntryDetails(payload, length, &prefs, &detailsWriter);
    check(detailsWriter.length <= 2000);
    check(detailsWriter.length == (largeWriter.length < 2000 ? largeWriter.length : 2000));
    check(std::memcmp(details, large, (size_t)detailsWriter.length) == 0);
    ByteWriter measureDetails = makeMeasuringWriter();
    appendMavlinkEntryDetails(payload, length, &prefs, &measureDetails);
    check(measureDetails.length == largeWriter.length);
    FixedString sender = mavlinkSenderText(result.sender);
    check(sender.length >= 3 && sender.length <= 7);
    return 0;
}
