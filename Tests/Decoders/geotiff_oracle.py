#!/usr/bin/python3
"""Makes the GeoTIFF test files with GDAL, geotifcp and tiffcp, and records what GDAL reads back.

Usage: geotiff_oracle.py OUTPUT_FOLDER

For every readable file NAME.tif it writes NAME.f32 (GDAL's ReadAsArray as little-endian float32)
and a line in readable.txt: NAME width height noData, then longitude and latitude of the centres of
the four corner samples (top-left, top-right, bottom-left, bottom-right) as gdaltransform gives them,
then the longitude and latitude of sample {11, 7} and the value gdallocationinfo finds there.
Files the reader must refuse are only written; the test knows their messages. lzw-N.lzw and
lzw-N.raw hold one LZW strip made by libtiff and the same strip after tiffcp -c none.
"""
import os
import struct
import subprocess
import sys

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()
out = sys.argv[1]
WIDTH, HEIGHT = 37, 23


def path(name):
    return os.path.join(out, name)


def heights(dtype=np.float32, bands=1):
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH]
    data = (400.0 + 3.25 * x - 1.5 * y + 0.125 * ((x * 7 + y * 13) % 11) - 0.0625 * (x * y % 5))
    data[5, 7] = -12.5
    data[1, 1] = -9999
    data[2, 2] = -500
    data = data.astype(dtype)
    data[HEIGHT - 1, WIDTH - 1] = 1234.75
    if bands == 1:
        return data
    return [data + 100 * b for b in range(bands)]


def gdal_file(name, options, srs="EPSG:4326", dtype=gdal.GDT_Float32, bands=1, point=True,
              transform=(8.5, 0.01, 0, 47.4, 0, -0.01), nodata=None, data=None):
    driver = gdal.GetDriverByName("GTiff")
    ds = driver.Create(path(name), WIDTH, HEIGHT, bands, dtype, options)
    ds.SetGeoTransform(transform)
    reference = osr.SpatialReference()
    reference.SetFromUserInput(srs)
    ds.SetProjection(reference.ExportToWkt())
    if point:
        ds.SetMetadataItem("AREA_OR_POINT", "Point")
    numpy_type = {gdal.GDT_Float32: np.float32, gdal.GDT_Float64: np.float64, gdal.GDT_Int16: np.int16,
                  gdal.GDT_UInt16: np.uint16, gdal.GDT_Int32: np.int32, gdal.GDT_Byte: np.uint8}[dtype]
    values = heights(numpy_type, bands) if data is None else data
    for b in range(bands):
        band = ds.GetRasterBand(b + 1)
        band.WriteArray(values if bands == 1 else values[b])
        if nodata is not None:
            band.SetNoDataValue(nodata)
    ds = None


KEYS_HEAD = """Geotiff_Information:
   Version: 1
   Key_Revision: 1.0
   Tagged_Information:
      ModelTiepointTag (2,3):
         2                 3                 0
         {lon}             {lat}             0
      ModelPixelScaleTag (1,3):
         0.01              0.0125            1
      End_Of_Tags.
   Keyed_Information:
      GTModelTypeGeoKey (Short,1): ModelTypeGeographic
      GTRasterTypeGeoKey (Short,1): {raster}
      GeographicTypeGeoKey (Short,1): {gcs}
"""
KEYS_TAIL = """      End_Of_Keys.
   End_Of_Geotiff.
"""
METRE = "      GeogLinearUnitsGeoKey (Short,1): {unit}\n"
WGS84_AXES = """      GeogSemiMajorAxisGeoKey (Double,1): {a}
      GeogInvFlatteningGeoKey (Double,1): {f}
"""
CITATION = '      GeogCitationGeoKey (Ascii,7): "WGS 84"\n'


def key_file(name, unit="Linear_Meter", axes=(6378137.0, 298.257223563), raster="RasterPixelIsPoint",
             gcs="GCS_WGS_84", citation=False, minor=None):
    text = KEYS_HEAD.format(lon=8.52, lat=47.3625, raster=raster, gcs=gcs)
    if citation:
        text += CITATION
    if unit:
        text += METRE.format(unit=unit)
    if axes:
        text += WGS84_AXES.format(a=repr(axes[0]), f=repr(axes[1]))
    if minor:
        text += "      GeogSemiMajorAxisGeoKey (Double,1): %r\n      GeogSemiMinorAxisGeoKey (Double,1): %r\n" % minor
    text += KEYS_TAIL
    with open(path(name), "w") as f:
        f.write(text)
    return path(name)


def geotifcp(source, name, keys, *options):
    subprocess.run(["geotifcp", "-g", keys, *options, path(source), path(name)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def patch_geokeys(name, keys):
    """Rewrites the GeoKey directory of a GDAL file in place (GDAL does not write a linear unit for a
    geographic grid). `keys` is a list of (key, location, count, value) or a function from the file's
    own list to the new one. The new directory must not be longer than the old one."""
    with open(path(name), "r+b") as f:
        data = bytearray(f.read())
        order = "<" if data[:2] == b"II" else ">"
        big = struct.unpack_from(order + "H", data, 2)[0] == 43
        offset = struct.unpack_from(order + ("Q" if big else "I"), data, 8 if big else 4)[0]
        count = struct.unpack_from(order + ("Q" if big else "H"), data, offset)[0]
        entry = offset + (8 if big else 2)
        for _ in range(count):
            tag, kind = struct.unpack_from(order + "HH", data, entry)
            if tag == 34735:
                n = struct.unpack_from(order + ("Q" if big else "I"), data, entry + 4)[0]
                inline = n * 2 <= (8 if big else 4)
                where = entry + (12 if big else 8)
                if not inline:
                    where = struct.unpack_from(order + ("Q" if big else "I"), data, where)[0]
                if callable(keys):
                    old = struct.unpack_from(order + "%dH" % n, data, where)
                    keys = keys([tuple(old[4 + 4 * k:8 + 4 * k]) for k in range(old[3])])
                values = [1, 1, 0, len(keys)] + [v for k in keys for v in k]
                assert len(values) <= n
                values += [0] * (n - len(values))
                struct.pack_into(order + "%dH" % n, data, where, *values)
                f.seek(0)
                f.write(data)
                return
            entry += 20 if big else 12
    raise RuntimeError("no GeoKey directory in " + name)


NAD83_KEYS = [(1024, 0, 1, 2), (1025, 0, 1, 2), (2048, 0, 1, 4269), (2052, 0, 1, 9001)]

readable = []


def record(name, srs_for_corners=None):
    ds = gdal.Open(path(name))
    band = ds.GetRasterBand(1)
    band.ReadAsArray().astype("<f4").tofile(path(name[:-4] + ".f32"))
    nodata = band.GetNoDataValue()
    w, h = ds.RasterXSize, ds.RasterYSize
    ds = None
    points = "%r %r\n%r %r\n%r %r\n%r %r\n" % (0.5, 0.5, w - 0.5, 0.5, 0.5, h - 0.5, w - 0.5, h - 0.5)
    command = ["gdaltransform", "-output_xy"]
    if srs_for_corners:
        command += ["-t_srs", srs_for_corners]
    command.append(path(name))
    result = subprocess.run(command, input=points, capture_output=True, text=True, check=True).stdout.split()
    corners = " ".join(result)
    # One sample looked up by its position, as gdallocationinfo finds it.
    probe = subprocess.run(command, input="11.5 7.5\n", capture_output=True, text=True, check=True).stdout.split()
    located = ["gdallocationinfo", "-valonly"]
    if srs_for_corners:
        located += ["-l_srs", srs_for_corners]
    else:
        located += ["-geoloc"]
    value = subprocess.run(located + [path(name), probe[0], probe[1]], capture_output=True, text=True,
                           check=True).stdout.strip()
    # A not-a-number no-data value leaves the reader's default: not-a-number samples are missing anyway.
    nodata = -32768 if nodata is None or nodata != nodata else int(nodata)
    readable.append("%s %d %d %d %s %s %s %s" % (name[:-4], w, h, nodata, corners, probe[0], probe[1], value))


# Plain GDAL data in each layout, then the GeoKeys GDAL does not write installed by geotifcp.
gdal_file("source.tif", [])
keys = key_file("wgs84.keys")
geotifcp("source.tif", "strip-none.tif", keys, "-c", "none", "-r", "5")
geotifcp("source.tif", "strip-lzw.tif", keys, "-c", "lzw", "-r", "4")
geotifcp("source.tif", "strip-lzw-predictor.tif", keys, "-c", "lzw:2", "-r", "6")
geotifcp("source.tif", "tiled-lzw.tif", keys, "-t", "-w", "16", "-l", "16", "-c", "lzw")
geotifcp("source.tif", "tiled-none-bigtiff.tif", keys, "-8", "-t", "-w", "16", "-l", "16", "-c", "none")
geotifcp("source.tif", "strip-lzw-bigtiff.tif", keys, "-8", "-c", "lzw:2", "-r", "3")
geotifcp("source.tif", "strip-nodata.tif", keys, "-c", "lzw", "-r", "8")
ds = gdal.Open(path("strip-nodata.tif"), gdal.GA_Update)
ds.GetRasterBand(1).SetNoDataValue(-9999)
ds = None
for name in ["strip-none", "strip-lzw", "strip-lzw-predictor", "tiled-lzw", "tiled-none-bigtiff",
             "strip-lzw-bigtiff", "strip-nodata"]:
    record(name + ".tif")

# GDAL's own writer: big-endian, BigTIFF, predictor; NAD83 takes its axes from the GRS 1980 default.
gdal_file("gdal-be-predictor.tif", ["COMPRESS=LZW", "PREDICTOR=2", "ENDIANNESS=BIG", "BLOCKYSIZE=5"], srs="EPSG:4269")
gdal_file("gdal-le-predictor-bigtiff.tif", ["COMPRESS=LZW", "PREDICTOR=2", "BIGTIFF=YES", "BLOCKYSIZE=7"],
          srs="EPSG:4269", nodata=-500)
gdal_file("gdal-be-tiled-bigtiff.tif", ["COMPRESS=LZW", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16",
                                        "ENDIANNESS=BIG", "BIGTIFF=YES"], srs="EPSG:4269")
gdal_file("gdal-be-none.tif", ["ENDIANNESS=BIG", "BLOCKYSIZE=4"], srs="EPSG:4269")
for name in ["gdal-be-predictor.tif", "gdal-le-predictor-bigtiff.tif", "gdal-be-tiled-bigtiff.tif", "gdal-be-none.tif"]:
    patch_geokeys(name, NAD83_KEYS)
    record(name)

# Albers equal-area on the WGS 84 ellipsoid, with a false origin, pixel-is-point and pixel-is-area.
ALBERS = ("+proj=aea +lat_0=23 +lon_0=-96 +lat_1=29.5 +lat_2=45.5 +x_0=1000 +y_0=-500 +ellps=WGS84 "
          "+units=m +no_defs")
albers_transform = (-1000000.0, 30.0, 0, 2000000.0, 0, -30.0)
gdal_file("albers-point.tif", ["COMPRESS=LZW", "PREDICTOR=2"], srs=ALBERS, transform=albers_transform)
gdal_file("albers-area.tif", ["COMPRESS=LZW", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"], srs=ALBERS,
          transform=albers_transform, point=False)
for name in ["albers-point.tif", "albers-area.tif"]:
    record(name, "+proj=longlat +ellps=WGS84 +no_defs")

# What GDAL writes for EPSG:4326 as it stands: no linear unit, the ellipsoid named by the code, pixel
# is area by default; then every sample type an elevation file comes in.
gdal_file("gdal-4326-no-unit.tif", [])
gdal_file("gdal-4326-area.tif", ["COMPRESS=LZW"], point=False)
geotifcp("source.tif", "wgs84-by-code.tif", key_file("no-axes.keys", axes=None, citation=True), "-c", "none")
geotifcp("source.tif", "area-keys.tif", key_file("area.keys", raster="RasterPixelIsArea"), "-c", "lzw", "-r", "5")
gdal_file("gdal-int16-area.tif", ["COMPRESS=LZW", "PREDICTOR=2", "ENDIANNESS=BIG", "BLOCKYSIZE=6"],
          dtype=gdal.GDT_Int16, point=False, nodata=-32768)
gdal_file("gdal-uint16-tiled.tif", ["COMPRESS=LZW", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"],
          dtype=gdal.GDT_UInt16, point=False)
gdal_file("gdal-int32-none.tif", ["BLOCKYSIZE=5"], dtype=gdal.GDT_Int32, nodata=-9999)
gdal_file("gdal-float64-predictor.tif", ["COMPRESS=LZW", "PREDICTOR=2", "BLOCKYSIZE=4"], dtype=gdal.GDT_Float64,
          point=False)
sea = heights()
sea[3, 4] = 0.0
sea[9, 9] = np.nan
gdal_file("gdal-nan-nodata.tif", ["COMPRESS=LZW"], nodata=float("nan"), data=sea)
for name, dtype in [("int16", gdal.GDT_Int16), ("float64", gdal.GDT_Float64)]:
    gdal_file("source-%s.tif" % name, [], dtype=dtype)
    geotifcp("source-%s.tif" % name, "%s-keys.tif" % name, keys, "-c", "lzw", "-r", "7")
# GDAL's ESRI flavour of keys for a geographic system: a user-defined model type and the ESRI text.
ESRI_WGS84 = ('GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",SPHEROID["WGS_1984",6378137.0,298.257223563]],'
              'PRIMEM["Greenwich",0.0],UNIT["Degree",0.0174532925199433]]')
gdal_file("gdal-esri-geographic.tif", ["GEOTIFF_KEYS_FLAVOR=ESRI_PE"], srs=ESRI_WGS84)
for name in ["gdal-esri-geographic", "gdal-4326-no-unit", "gdal-4326-area", "wgs84-by-code", "area-keys", "gdal-int16-area",
             "gdal-uint16-tiled", "gdal-int32-none", "gdal-float64-predictor", "gdal-nan-nodata", "int16-keys",
             "float64-keys"]:
    record(name + ".tif")

# Files the reader refuses.
geotifcp("source.tif", "refuse-feet.tif", key_file("feet.keys", unit="Linear_Foot"), "-c", "none")
geotifcp("source.tif", "refuse-clarke.tif", key_file("clarke.keys", axes=None, minor=(6378206.4, 6356583.8)),
         "-c", "none")
gdal_file("refuse-tmerc.tif", [], srs="+proj=tmerc +lon_0=9.5 +k=0.9996 +x_0=500000 +ellps=WGS84 +units=m",
          transform=(500000.0, 30.0, 0, 5200000.0, 0, -30.0))
gdal_file("refuse-utm.tif", [], srs="EPSG:32632", transform=(500000.0, 30.0, 0, 5200000.0, 0, -30.0))
gdal_file("source-byte.tif", [], dtype=gdal.GDT_Byte)
geotifcp("source-byte.tif", "refuse-byte.tif", keys, "-c", "none")
gdal_file("source-two-bands.tif", [], bands=2)
geotifcp("source-two-bands.tif", "refuse-two-bands.tif", keys, "-c", "none")
geotifcp("source.tif", "refuse-tiled-predictor.tif", keys, "-t", "-w", "16", "-l", "16", "-c", "lzw:2")
geotifcp("source.tif", "refuse-deflate.tif", keys, "-c", "zip")
gdal_file("refuse-predictor3.tif", ["COMPRESS=LZW", "PREDICTOR=3"], srs="EPSG:4269")
patch_geokeys("refuse-predictor3.tif", NAD83_KEYS)
# An Albers system given only by its ESRI text: GDAL's ESRI flavour of keys without the projection's
# codes, transformation and parameters, as other writers leave it.
ESRI_ALBERS = ('PROJCS["USA_Contiguous_Albers_Equal_Area_Conic",GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",'
               'SPHEROID["WGS_1984",6378137.0,298.257223563]],PRIMEM["Greenwich",0.0],'
               'UNIT["Degree",0.0174532925199433]],PROJECTION["Albers"],PARAMETER["False_Easting",0.0],'
               'PARAMETER["False_Northing",0.0],PARAMETER["Central_Meridian",-96.0],'
               'PARAMETER["Standard_Parallel_1",29.5],PARAMETER["Standard_Parallel_2",45.5],'
               'PARAMETER["Latitude_Of_Origin",37.5],UNIT["Meter",1.0]]')
for name, dropped in [("refuse-esri-citation.tif", (3072, 3074, 3075)),
                      ("refuse-esri-citation-no-unit.tif", (3072, 3074, 3075, 3076))]:
    gdal_file(name, ["GEOTIFF_KEYS_FLAVOR=ESRI_PE"], srs=ESRI_ALBERS, transform=albers_transform)
    patch_geokeys(name, lambda keys: [k for k in keys if k[0] not in dropped and not 3077 < k[0] < 3096])
# GDAL's no-data for Float32 files: the float minimum, which no 32-bit height stands for.
gdal_file("refuse-float-minimum-nodata.tif", [], nodata=float(np.finfo(np.float32).min))

with open(path("readable.txt"), "w") as f:
    f.write("\n".join(readable) + "\n")

# LZW strips made by libtiff, and libtiff's decoding of them.
rng = np.random.default_rng(20261207)
samples = [
    ("random", rng.integers(0, 256, size=(64, 1024), dtype=np.uint8)),
    ("runs", np.repeat(rng.integers(0, 4, size=(256, 64), dtype=np.uint8), 16, axis=1)),
    ("few-symbols", rng.integers(0, 3, size=(512, 512), dtype=np.uint8)),
    ("constant", np.full((128, 700), 7, dtype=np.uint8)),
]
for index, (label, data) in enumerate(samples):
    h, w = data.shape
    name = "lzw-%d" % index
    ds = gdal.GetDriverByName("GTiff").Create(path(name + ".tif"), w, h, 1, gdal.GDT_Byte,
                                              ["COMPRESS=LZW", "BLOCKYSIZE=%d" % h])
    ds.GetRasterBand(1).WriteArray(data)
    ds = None
    subprocess.run(["tiffcp", "-c", "none", "-r", str(h), path(name + ".tif"), path(name + "-plain.tif")],
                   check=True, stderr=subprocess.DEVNULL)
    ds = gdal.Open(path(name + ".tif"))
    offset = int(ds.GetRasterBand(1).GetMetadataItem("BLOCK_OFFSET_0_0", "TIFF"))
    size = int(ds.GetRasterBand(1).GetMetadataItem("BLOCK_SIZE_0_0", "TIFF"))
    ds = None
    with open(path(name + ".tif"), "rb") as f:
        f.seek(offset)
        with open(path(name + ".lzw"), "wb") as g:
            g.write(f.read(size))
    # The uncompressed copy is read back as it lies: libtiff's decoding of the strip.
    ds = gdal.Open(path(name + "-plain.tif"))
    assert ds.GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE") is None
    with open(path(name + ".raw"), "wb") as g:
        g.write(ds.GetRasterBand(1).ReadAsArray().tobytes())
    ds = None
