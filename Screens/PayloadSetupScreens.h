// The payload bench screens, which work a payload before a flight over the drone's radio: the list
// of the payloads heard in the last second (selectOrvikSetupConnectionScreen, in ChildScreens.h) and
// the setup screens it opens. Like the fly screen's payload rows they only write wanted values,
// request counters, request times and preferences; the payload link sends.
#pragma once
#include "Drone/TarnwickPayloads/PayloadRecords.h"
#include "SourceCommon/UserInterface/Screen.h"

// A payload counts as heard while its last status is less than this old.
constexpr u64 kPayloadHeardTime = 1000000;

ORVIK_SCREEN_FUNCTION(setupAttachedOrvik2Screen);
ORVIK_SCREEN_FUNCTION(setupAttachedDodireruDropperScreen);

// The bench opening of a VOSK channel (0 A, 1 B): drops allowed, both units on the ground with SBUS
// disarmed, and the channel's drop servo closed on at least one unit.
u32 isVoskReadyToOpen(const VoskPayloadState* vosk);
u32 isVoskChannelOpenable(const VoskPayloadState* vosk, i32 channel);
// The injection amount after "INJECT -" and "INJECT +": steps of 10 within 10 to 200.
u8 lowerInjection(u8 amount);
u8 raiseInjection(u8 amount);
