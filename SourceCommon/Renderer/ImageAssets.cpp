#include "SourceCommon/Renderer/ImageAssets.h"

#include <cstdlib>
#include <cstring>

#include "Core/Format.h"

namespace {

constexpr u32 kStatusNotFound = 9;
constexpr u32 kStatusNoMemory = 16;

const char* const kAssetNames[kImageAssetCount] = {
    "font_sdf.png.part_1", "logo.png", "battery_0.png", "battery_1.png", "battery_2.png", "battery_3.png",
    "battery_4.png", "camera.png", "controller.png", "gps.png", "pencil2.png", "folder.png", "signal_bars_0.png",
    "signal_bars_1.png", "signal_bars_2.png", "signal_bars_3.png", "signal_bars_4.png", "signal_bars_5.png",
    "transects.png", "white_marker_64.png", "ignition_sphere_icon.png", "ignition_sphere_icon_yellow.png",
    "ignition_sphere_icon_red.png", "morvelt_32.png", "geofence_icon.png", "blue_marker_64_no_dot.png",
    "yellow_marker_64_no_dot.png", "add_waypoint.png", "drone_icon_side_view.png", "plane_cyan.png",
    "plane_yellow.png", "bang.png", "ktq_empty.png", "ktq_loaded.png", "ktq_safe.png", "ktq_error_unsafe.png",
    "line_tool_deselected.png", "line_tool_red.png", "line_tool_orange.png", "line_tool_yellow.png",
    "line_tool_aqua.png", "line_tool_blue.png", "line_tool_purple.png", "line_tool_white.png",
    "drone_path_no_color.png", "drone_path_red.png", "drone_path_orange.png", "drone_path_yellow.png",
    "drone_path_aqua.png", "drone_path_blue.png", "drone_path_purple.png", "drone_path_white.png",
    "flag_white_icon.png", "obstruction_icon.png", "fire_icon.png", "smoke_icon.png", "heat_icon.png",
    "flag_white_icon_selected.png", "obstruction_icon_selected.png", "fire_icon_selected.png",
    "smoke_icon_selected.png", "heat_icon_selected.png", "flag_white_marker.png", "obstruction_marker.png",
    "fire_marker.png", "smoke_marker.png", "heat_marker.png", "eraser_tool.png", "eraser_tool_selected.png",
    "red_arrow_head_96.png", "red_arrow_head_96_3_circles.png", "red_arrow_head_96_4_circles.png",
    "red_arrow_head_96_6_circles.png", "yellow_arrow_head_96.png", "yellow_arrow_head_96_3_circles.png",
    "yellow_arrow_head_96_4_circles.png", "yellow_arrow_head_96_6_circles.png", "red_arrow_head_96_shadow.png",
    "red_arrow_head_96_3_circles_shadow.png", "red_arrow_head_96_4_circles_shadow.png",
    "red_arrow_head_96_6_circles_shadow.png", "helipad.png", "overlay_topographic.png",
    "overlay_low_altitude_warning.png", "low_altitude_warning.png", "airspace_indicator.png", "skyway.png",
    "pelvar.png", "orvik.png",
};

}  // namespace

FixedString assetPartPath(const FixedString& path, i32 part) {
    const void* arguments[2] = {&path, nullptr};
    i64 number = part;
    arguments[1] = &number;
    const u32 kinds[2] = {FormatArgFixedString, FormatArgInt};
    return formatString("@.part_@", arguments, kinds, 2);
}

namespace {

void failLoad(AssetLoad* load, u32 status) {
    load->status = status;
    discardAssetLoadBuffer(load);
}

}  // namespace

ImageAssetTable initImageAssets() {
    ImageAssetTable table{};
    for (i32 i = 0; i < kImageAssetCount; i++) table.assets[i].name = kAssetNames[i];
    return table;
}

void prepareAssetLoad(AssetLoad* load, const char* name) {
    *load = AssetLoad{};
    i64 length = (i64)std::strlen(name);
    i64 nameLength = length;
    i64 partCount = 1;
    const char* suffix = ".part_";
    const i64 suffixLength = 6;
    for (i64 at = length - suffixLength; at >= 0; at--) {
        if (std::memcmp(name + at, suffix, suffixLength) != 0) continue;
        i64 digitsStart = at + suffixLength;
        bool allDigits = true;
        i64 number = 0;
        for (i64 i = digitsStart; i < length; i++) {
            if (name[i] < '0' || name[i] > '9') {
                allDigits = false;
                break;
            }
            if (number < 1000) number = number * 10 + (name[i] - '0');
        }
        if (allDigits) {
            nameLength = at;
            // A name ending in ".part_" itself has no parts and fails as missing; a count above what
            // the record holds does too.
            partCount = digitsStart == length ? 0 : (number + 1 > 255 ? 0 : number + 1);
        }
        break;
    }
    load->partCount = (u8)partCount;
    FixedString bare = stringFromBytes(name, nameLength);
    const void* arguments[2] = {kAssetsFolder, &bare};
    const u32 kinds[2] = {FormatArgCString, FormatArgFixedString};
    load->path = formatString("@/@", arguments, kinds, 2);
}

void discardAssetLoadBuffer(AssetLoad* load) {
    std::free(load->buffer);
    load->buffer = nullptr;
}

void joinAssetParts(AssetLoad* load, AssetReader* reader) {
    if (load->status == 0) {
        u64 total = 0;
        if (load->partCount == 1) {
            AssetInfo info = reader->info(reader->context, load->path);
            if (!info.found) {
                load->status = kStatusNotFound;
                return;
            }
            total = info.size;
        } else {
            for (i32 i = 0; i < load->partCount; i++) {
                AssetInfo info = reader->info(reader->context, assetPartPath(load->path, i));
                if (!info.found) {
                    load->status = kStatusNotFound;
                    return;
                }
                total += info.size;
            }
        }
        if (total == 0 || total > 0xFFFFFFFFu) {
            load->status = kStatusNotFound;
            return;
        }
        load->buffer = (u8*)std::malloc(total);
        if (!load->buffer) {
            load->status = kStatusNoMemory;
            return;
        }
        load->totalSize = (u32)total;
        load->bytesRead = 0;
        load->nextPart = 0;
        load->status = 1;
    }
    if (load->status != 1) return;

    if (load->request) {
        AssetReadView view = reader->view(reader->context, load->request);
        if (view.status < 2) return;
        if (view.status > 2) {
            reader->release(reader->context, load->request);
            load->request = nullptr;
            failLoad(load, view.status);
            return;
        }
        load->bytesRead += (u32)view.size;
        reader->release(reader->context, load->request);
        load->request = nullptr;
        load->nextPart++;
    }
    if (load->nextPart >= load->partCount) {
        load->status = 2;
        return;
    }
    // Each part is read straight behind the previous one, never past the end of the buffer, even
    // when a part has grown since its size was taken.
    u64 room = load->totalSize - load->bytesRead;
    u64 capacity = room < kAssetPartMaxBytes ? room : kAssetPartMaxBytes;
    FixedString path = load->partCount == 1 ? load->path : assetPartPath(load->path, load->nextPart);
    load->request = reader->request(reader->context, path, capacity, 0, load->buffer + load->bytesRead);
}
