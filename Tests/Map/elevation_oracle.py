#!/usr/bin/python3
"""Makes the elevation rasters of the terrain tests with GDAL and records GDAL's bilinear heights.

Usage: elevation_oracle.py OUTPUT_FOLDER

Rasters: grid.tif (EPSG:4326 grid, GeoKeys installed by geotifcp), albers.tif (Albers equal-area on
WGS 84), N47E008.hgt (SRTM1), N46E009.hgt (SRTM3), terrain.bil with terrain.hdr (GDAL's EHdr),
dem16.tif (16-bit heights in EPSG:4326 as GDAL writes them: pixel is area, no unit key), sea.tif
(float heights with a "nan" no-data and a block at 0 m). Each has no-data samples (a block, and NaN
in the float files).

heights.txt: one line per point, "GROUP RASTER LONGITUDE LATITUDE HEIGHT". HEIGHT is what gdal.Warp
with bilinear resampling gives at the point, or "none" where fewer than four valid samples surround
it (or it lies outside the raster). Points are the pixel centres of small fine warps placed over each
raster; the group "cross" holds the same points for grid.tif and terrain.bil, which overlap.
"""
import os
import random
import subprocess
import sys

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()
out = sys.argv[1]
random.seed(26)


def path(name):
    return os.path.join(out, name)


def surface(width, height, base, scale):
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    return base + scale * (np.sin(x * 0.37) * 3.1 + np.cos(y * 0.23) * 2.3 + ((x * 7 + y * 13) % 11) * 0.41)


WGS84 = osr.SpatialReference()
WGS84.SetFromUserInput("EPSG:4326")
WGS84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)

# --- grid.tif: 61 x 47 samples, centres from 8.60 E 47.50 N in steps of 0.004 and 0.003 degrees.
GRID_W, GRID_H = 61, 47
grid = surface(GRID_W, GRID_H, 600.0, 7.5).astype(np.float32)
grid[20:26, 30:37] = -9999
grid[5, 5] = np.nan
grid[40, 50] = np.nan
ds = gdal.GetDriverByName("GTiff").Create(path("source.tif"), GRID_W, GRID_H, 1, gdal.GDT_Float32)
ds.GetRasterBand(1).WriteArray(grid)
ds = None
with open(path("grid.keys"), "w") as f:
    f.write("""Geotiff_Information:
   Version: 1
   Key_Revision: 1.0
   Tagged_Information:
      ModelTiepointTag (2,3):
         0                 0                 0
         8.6               47.5              0
      ModelPixelScaleTag (1,3):
         0.004             0.003             1
      End_Of_Tags.
   Keyed_Information:
      GTModelTypeGeoKey (Short,1): ModelTypeGeographic
      GTRasterTypeGeoKey (Short,1): RasterPixelIsPoint
      GeographicTypeGeoKey (Short,1): GCS_WGS_84
      GeogLinearUnitsGeoKey (Short,1): Linear_Meter
      GeogSemiMajorAxisGeoKey (Double,1): 6378137.0
      GeogInvFlatteningGeoKey (Double,1): 298.257223563
      End_Of_Keys.
   End_Of_Geotiff.
""")
subprocess.run(["geotifcp", "-g", path("grid.keys"), "-c", "lzw", "-r", "5", path("source.tif"), path("grid.tif")],
               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
ds = gdal.Open(path("grid.tif"), gdal.GA_Update)
ds.GetRasterBand(1).SetNoDataValue(-9999)
ds = None

# --- albers.tif: 300 x 250 samples of 90 m, pixel-is-area.
ALBERS = "+proj=aea +lat_0=47 +lon_0=9 +lat_1=45 +lat_2=49 +x_0=0 +y_0=0 +ellps=WGS84 +units=m +no_defs"
albers = surface(300, 250, 1200.0, 11.0).astype(np.float32)
albers[100:130, 40:90] = -9999
albers[7, 9] = np.nan
ds = gdal.GetDriverByName("GTiff").Create(path("albers.tif"), 300, 250, 1, gdal.GDT_Float32,
                                          ["TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=32", "COMPRESS=LZW"])
ds.SetGeoTransform((-20000.0, 90.0, 0, 30000.0, 0, -90.0))
reference = osr.SpatialReference()
reference.SetFromUserInput(ALBERS)
ds.SetProjection(reference.ExportToWkt())
ds.GetRasterBand(1).WriteArray(albers)
ds.GetRasterBand(1).SetNoDataValue(-9999)
ds = None


# --- SRTM tiles through GDAL's SRTMHGT writer.
def srtm(name, south, west, side):
    step = 1.0 / (side - 1)
    data = surface(side, side, 300.0, 40.0).astype(np.int16)
    data[side // 3:side // 3 + 40, side // 2:side // 2 + 25] = -32768
    mem = gdal.GetDriverByName("MEM").Create("", side, side, 1, gdal.GDT_Int16)
    mem.SetGeoTransform((west - step / 2, step, 0, south + 1 + step / 2, 0, -step))
    mem.SetProjection(WGS84.ExportToWkt())
    mem.GetRasterBand(1).WriteArray(data)
    mem.GetRasterBand(1).SetNoDataValue(-32768)
    gdal.GetDriverByName("SRTMHGT").CreateCopy(path(name), mem)


srtm("N47E008.hgt", 47, 8, 3601)
srtm("N46E009.hgt", 46, 9, 1201)

# --- terrain.bil: 81 x 51 signed 16-bit samples every 0.005 degrees, overlapping grid.tif.
bil = surface(81, 51, 500.0, 9.0).astype(np.int16)
bil[10:14, 20:30] = -9999
bil[22:26, 33:40] = -9999  # also where grid.tif has none
mem = gdal.GetDriverByName("MEM").Create("", 81, 51, 1, gdal.GDT_Int16)
mem.SetGeoTransform((8.55 - 0.0025, 0.005, 0, 47.55 + 0.0025, 0, -0.005))
mem.SetProjection(WGS84.ExportToWkt())
mem.GetRasterBand(1).WriteArray(bil)
mem.GetRasterBand(1).SetNoDataValue(-9999)
gdal.GetDriverByName("EHdr").CreateCopy(path("terrain.bil"), mem)
mem = None


# --- dem16.tif: a DEM as gdal_translate writes one in EPSG:4326: signed 16-bit heights, pixel is
# area, no linear unit key, the ellipsoid named by the code alone.
dem = surface(70, 50, 150.0, 12.0).astype(np.int16)
dem[30:34, 10:20] = -32768
ds = gdal.GetDriverByName("GTiff").Create(path("dem16.tif"), 70, 50, 1, gdal.GDT_Int16, ["COMPRESS=LZW"])
ds.SetGeoTransform((8.9, 0.0025, 0, 47.3, 0, -0.002))
ds.SetProjection(WGS84.ExportToWkt())
ds.GetRasterBand(1).WriteArray(dem)
ds.GetRasterBand(1).SetNoDataValue(-32768)
ds = None

# --- sea.tif: float heights whose no-data is "nan", with a block at sea level (0 m).
sea = surface(40, 30, 4.0, 0.8).astype(np.float32)
sea[8:18, 12:24] = 0.0
sea[22:25, 3:9] = np.nan
ds = gdal.GetDriverByName("GTiff").Create(path("sea.tif"), 40, 30, 1, gdal.GDT_Float32)
ds.SetGeoTransform((9.3, 0.003, 0, 47.1, 0, -0.003))
ds.SetProjection(WGS84.ExportToWkt())
ds.GetRasterBand(1).WriteArray(sea)
ds.GetRasterBand(1).SetNoDataValue(float("nan"))
ds = None


class Raster:
    def __init__(self, name, file, projected=None):
        self.name = name
        self.ds = gdal.Open(path(file))
        self.gt = self.ds.GetGeoTransform()
        self.inverse = gdal.InvGeoTransform(self.gt)
        band = self.ds.GetRasterBand(1)
        self.data = band.ReadAsArray().astype(np.float64)
        self.nodata = band.GetNoDataValue()
        if self.nodata is not None and self.nodata != self.nodata:
            self.nodata = None  # not-a-number samples are missing without it
        self.to_projected = None
        self.to_geographic = None
        if projected:
            target = osr.SpatialReference()
            target.SetFromUserInput(projected)
            self.to_projected = osr.CoordinateTransformation(WGS84, target)
            self.to_geographic = osr.CoordinateTransformation(target, WGS84)

    def pixel(self, lon, lat):
        x, y = lon, lat
        if self.to_projected:
            x, y, _ = self.to_projected.TransformPoint(lon, lat)
        px, py = gdal.ApplyGeoTransform(self.inverse, x, y)
        return px - 0.5, py - 0.5  # 0 at the centre of the first sample

    def four_valid(self, lon, lat):
        """None when the point is too close to a sample boundary to classify; else True or False."""
        column, row = self.pixel(lon, lat)
        h, w = self.data.shape
        for v in (column, row):
            if abs(v - round(v)) < 1e-6:
                return None
        if not (0 <= column <= w - 1 and 0 <= row <= h - 1):
            return False
        i, j = int(column), int(row)
        block = self.data[j:j + 2, i:i + 2]
        return bool(np.all(np.isfinite(block)) and np.all(block != self.nodata))

    def warp(self, west, north, step_x, step_y, columns, rows):
        result = gdal.Warp("", self.ds, format="MEM", dstSRS="EPSG:4326",
                           outputBounds=(west, north - rows * step_y, west + columns * step_x, north),
                           width=columns, height=rows, resampleAlg="bilinear", errorThreshold=0,
                           srcNodata=self.nodata if self.nodata is not None else "nan", dstNodata=-99999.0,
                           outputType=gdal.GDT_Float64)
        return result.GetRasterBand(1).ReadAsArray()

    def extent(self):
        h, w = self.data.shape
        corners = []
        for px, py in [(1, 1), (w - 1, 1), (1, h - 1), (w - 1, h - 1)]:
            x, y = gdal.ApplyGeoTransform(self.gt, px, py)
            if self.to_geographic:
                x, y, _ = self.to_geographic.TransformPoint(x, y)
            corners.append((x, y))
        return (max(corners[0][0], corners[2][0]), min(corners[1][0], corners[3][0]),
                max(corners[2][1], corners[3][1]), min(corners[0][1], corners[1][1]))


lines = []


def record(group, rasters, boxes):
    for west, north, step_x, step_y, columns, rows in boxes:
        warped = [r.warp(west, north, step_x, step_y, columns, rows) for r in rasters]
        for j in range(rows):
            for i in range(columns):
                lon = west + (i + 0.5) * step_x
                lat = north - (j + 0.5) * step_y
                classes = [r.four_valid(lon, lat) for r in rasters]
                if any(c is None for c in classes):
                    continue
                for r, w, c in zip(rasters, warped, classes):
                    value = repr(float(w[j, i])) if c else "none"
                    lines.append("%s %s %r %r %s" % (group, r.name, lon, lat, value))


def random_boxes(raster, count, spacing):
    """Boxes of 9 x 7 points about `spacing` degrees apart (well under a sample), inside the raster and
    one across its edge."""
    west, east, south, north = raster.extent()
    boxes = []
    for _ in range(count):
        lon = random.uniform(west, east - 9 * spacing)
        lat = random.uniform(south + 7 * spacing, north)
        boxes.append((lon, lat, spacing * 1.013, spacing * 0.987, 9, 7))
    boxes.append((east - 4 * spacing, north - 20 * spacing, spacing, spacing, 9, 7))
    return boxes


grid_raster = Raster("grid", "grid.tif")
albers_raster = Raster("albers", "albers.tif", ALBERS)
srtm1 = Raster("srtm1", "N47E008.hgt")
srtm3 = Raster("srtm3", "N46E009.hgt")
bil_raster = Raster("bil", "terrain.bil")
dem16 = Raster("dem16", "dem16.tif")
sea_raster = Raster("sea", "sea.tif")

record("grid", [grid_raster], random_boxes(grid_raster, 12, 0.0011) + [(8.715, 47.445, 0.0009, 0.0008, 12, 10)])
record("albers", [albers_raster], random_boxes(albers_raster, 12, 0.00031) + [(8.78, 47.195, 0.0002, 0.0002, 14, 12)])
record("srtm1", [srtm1], random_boxes(srtm1, 12, 0.000093) + [(8.4985, 47.6695, 0.00009, 0.00009, 12, 10)])
record("srtm3", [srtm3], random_boxes(srtm3, 12, 0.00027) + [(9.4985, 46.6695, 0.0003, 0.0003, 12, 10)])
record("bil", [bil_raster], random_boxes(bil_raster, 12, 0.0013) + [(8.645, 47.505, 0.0011, 0.0011, 12, 8)])
record("dem16", [dem16], random_boxes(dem16, 12, 0.0006) + [(8.915, 47.24, 0.0007, 0.0006, 14, 9)])
record("sea", [sea_raster], random_boxes(sea_raster, 10, 0.0008) + [(9.335, 47.073, 0.0009, 0.0008, 14, 12)])
record("cross", [grid_raster, bil_raster],
       [(8.70, 47.45, 0.0013, 0.0011, 30, 20), (8.59, 47.52, 0.0021, 0.0017, 25, 20)])

with open(path("heights.txt"), "w") as f:
    f.write("\n".join(lines) + "\n")
