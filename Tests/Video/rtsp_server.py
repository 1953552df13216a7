#!/usr/bin/python3
"""GStreamer's RTSP server with one H.264 stream at /test on 127.0.0.1.

    rtsp_server.py AGGREGATE IN_BAND SESSION_TIMEOUT [ENCODER FILE]

AGGREGATE: "none" (single units and FU-A) or "zero-latency" (STAP-A as well). IN_BAND: 1 repeats
SPS and PPS in the stream, 0 leaves them in the SDP only. SESSION_TIMEOUT: seconds a session lives
without keep-alive. Prints the bound port, then "session-removed" whenever the server drops a
session. With ENCODER (a GStreamer encoder element and its properties) and FILE, each session's
stream is that encoder's, paced live, with SPS and PPS before every IDR slice (config-interval=-1),
and the same encoded stream is written to FILE as it is sent.
"""
import sys

import gi
gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
gi.require_version("GstRtsp", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer

Gst.init(None)
aggregate, in_band, timeout = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
server = GstRtspServer.RTSPServer()
server.set_address("127.0.0.1")
server.set_service("0")
factory = GstRtspServer.RTSPMediaFactory()
if len(sys.argv) > 5:
    factory.set_launch(
        "( videotestsrc is-live=true pattern=ball ! video/x-raw,width=320,height=240,framerate=30/1 ! %s "
        "! h264parse ! video/x-h264,stream-format=byte-stream,alignment=au "
        "! rtph264pay name=pay0 pt=96 config-interval=-1 mtu=1200 aggregate-mode=%s )" % (sys.argv[4], aggregate))
    sent = open(sys.argv[5], "wb")

    def keep(pad, info):
        buffer = info.get_buffer()
        ok, mapped = buffer.map(Gst.MapFlags.READ)
        if ok:
            sent.write(bytes(mapped.data))
            sent.flush()
            buffer.unmap(mapped)
        return Gst.PadProbeReturn.OK

    def configure(factory, media):
        pad = media.get_element().get_by_name("pay0").get_static_pad("sink")
        pad.add_probe(Gst.PadProbeType.BUFFER, keep)

    factory.connect("media-configure", configure)
else:
    factory.set_launch(
        "( videotestsrc is-live=true pattern=ball ! video/x-raw,width=320,height=240,framerate=15/1 "
        "! x264enc tune=zerolatency speed-preset=ultrafast key-int-max=15 bframes=0 %s "
        "! video/x-h264,profile=constrained-baseline,stream-format=avc "
        "! rtph264pay name=pay0 pt=96 config-interval=%d mtu=1200 aggregate-mode=%s )"
        % ("" if in_band else "option-string=repeat-headers=0", 1 if in_band else 0, aggregate))
factory.set_shared(len(sys.argv) <= 5)
factory.set_protocols(GstRtsp.RTSPLowerTrans.UDP)
server.get_mount_points().add_factory("/test", factory)


def new_session(client, session):
    session.set_timeout(timeout)


server.connect("client-connected", lambda s, client: client.connect("new-session", new_session))
pool = server.get_session_pool()
pool.connect("session-removed", lambda p, s: print("session-removed", flush=True))
if server.attach(None) == 0:
    sys.exit("attach failed")


def cleanup():
    pool.cleanup()
    return True


GLib.timeout_add(250, cleanup)
print(server.get_bound_port(), flush=True)
GLib.MainLoop().run()
