// The video records and per-frame steps that the application update hands on: the Qv and RTSP
// streams. The decoder output step is in Video/VideoDecoder.h.
#pragma once
#include "Video/QvVideoStream.h"
#include "Video/RtspVideoStream.h"
