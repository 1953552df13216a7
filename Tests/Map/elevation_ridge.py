#!/usr/bin/python3
"""Makes the ridge rasters of the terrain drawing tests with GDAL's EHdr driver.

Usage: elevation_ridge.py OUTPUT_FOLDER

A ridge running north-south along 8.5 E: height = 1000 - 50000 x |longitude - 8.5| metres, the same
on every row. Sample centres from 8.49 E to 8.51 E and from 47.003 N down to 46.997 N, every 0.0001
degree (201 x 61 samples). Two files of the same ground:
- ridge_i16.bil/.hdr: 16-bit signed samples, NODATA -32768 over rows 10-20, columns 20-40;
- ridge_f32.bil/.hdr: 32-bit float samples, NODATA -9999 over the same block and NaN over rows
  40-50, columns 160-180.

And a projected plateau: plateau_albers.tif, 300 x 250 float samples of 90 m in an Albers equal-area
projection (pixel-is-area), 500 m high, with NODATA -9999 over rows 100-129, columns 40-89.
plateau_points.txt: "inside LONGITUDE LATITUDE" for points well inside that hole and "outside ..."
for points a few samples outside it, placed by GDAL's own projection.
"""
import os
import sys

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()
out = sys.argv[1]
WIDTH, HEIGHT, STEP = 201, 61, 0.0001
WEST, NORTH = 8.49, 47.003

longitudes = WEST + STEP * np.arange(WIDTH)
ridge = np.tile(1000.0 - 50000.0 * np.abs(longitudes - 8.5), (HEIGHT, 1))

srs = osr.SpatialReference()
srs.SetFromUserInput("EPSG:4326")


def write(name, values, gdal_type, no_data):
    ds = gdal.GetDriverByName("EHdr").Create(os.path.join(out, name), WIDTH, HEIGHT, 1, gdal_type)
    # Pixel-is-area: the geotransform's origin is the outer corner of the first sample.
    ds.SetGeoTransform((WEST - STEP / 2, STEP, 0, NORTH + STEP / 2, 0, -STEP))
    ds.SetProjection(srs.ExportToWkt())
    band = ds.GetRasterBand(1)
    band.SetNoDataValue(no_data)
    band.WriteArray(values)
    ds = None


shorts = np.round(ridge).astype(np.int16)
shorts[10:21, 20:41] = -32768
write("ridge_i16.bil", shorts, gdal.GDT_Int16, -32768)

floats = ridge.astype(np.float32)
floats[10:21, 20:41] = -9999
floats[40:51, 160:181] = np.nan
write("ridge_f32.bil", floats, gdal.GDT_Float32, -9999)

ALBERS = "+proj=aea +lat_0=47 +lon_0=9 +lat_1=45 +lat_2=49 +x_0=0 +y_0=0 +ellps=WGS84 +units=m +no_defs"
albers = osr.SpatialReference()
albers.SetFromUserInput(ALBERS)
plateau = np.full((250, 300), 500.0, dtype=np.float32)
plateau[100:130, 40:90] = -9999
ds = gdal.GetDriverByName("GTiff").Create(os.path.join(out, "plateau_albers.tif"), 300, 250, 1, gdal.GDT_Float32)
transform = (-20000.0, 90.0, 0, 30000.0, 0, -90.0)
ds.SetGeoTransform(transform)
ds.SetProjection(albers.ExportToWkt())
ds.GetRasterBand(1).WriteArray(plateau)
ds.GetRasterBand(1).SetNoDataValue(-9999)
ds = None

srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
albers.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
to_geographic = osr.CoordinateTransformation(albers, srs)


def geographic(column, row):  # a position in samples, 0 at the outer corner
    x = transform[0] + transform[1] * column
    y = transform[3] + transform[5] * row
    lon, lat, _ = to_geographic.TransformPoint(x, y)
    return lon, lat


with open(os.path.join(out, "plateau_points.txt"), "w") as f:
    # The hole spans columns 40-90 and rows 100-130 (outer edges).
    for column, row in [(65, 115), (50, 105), (80, 125), (50, 125), (80, 105)]:
        f.write("inside %.10f %.10f\n" % geographic(column, row))
    for column, row in [(65, 96), (65, 134), (36, 115), (94, 115), (20, 50), (250, 200)]:
        f.write("outside %.10f %.10f\n" % geographic(column, row))
