// The entries list's texts of a recorded datagram over arbitrary bytes: the summary and the details
// stay inside their writers, the same bytes give the same texts, a smaller writer gets a prefix of
// what a larger one gets, measuring gives the length that filling gives, a summary is empty exactly
// when no message decoded, and whole details lines end in a newline. The first input byte chooses
// the units; the rest is the datagram. With its top bit set, the rest is instead a message id chosen
// by the second byte among those with details lines and the payload, framed here with its checksum,
// so that the field readers behind the framing see every payload.
#include "Core/Preferences.h"
#include "FlightLogReplay/RecordedMavlink.h"
#include "Mavlink/Mavlink.h"

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
    static u8 framed[320];
    if ((data[0] & 0x80) && size >= 2) {
        static const u32 ids[] = {0,   1,   24,  30,  33,  76,  131, 147, 248, 253, 259, 260, 261,
                                  262, 263, 269, 270, 271, 275, 276, 320, 321, 322, 323, 324};
        u32 id = ids[data[1] % (sizeof(ids) / sizeof(ids[0]))];
        i64 most = mavlinkMaximumPayloadLength(id);
        ByteWriter body = makeByteWriter((u8*)data + 2, (i64)size - 2);
        body.length = (i64)size - 2 < most ? (i64)size - 2 : most;
        ByteWriter frame = makeByteWriter(framed, sizeof(framed));
        u8 sequence = data[1];
        sendMavlinkMessage(data[1] & 1, id, &body, &frame, &sequence, 0x0101, nullptr, 0);
        payload = framed;
        length = (u16)frame.length;
    }

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
