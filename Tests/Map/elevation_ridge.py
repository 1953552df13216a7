#!/usr/bin/python3
"""Makes the ridge rasters of the terrain drawing tests with GDAL's EHdr driver.

Usage: elevation_ridge.py OUTPUT_FOLDER

A ridge running north-south along 8.5 E: height = 1000 - 50000 x |longitude - 8.5| metres, the same
on every row. Sample centres from 8.49 E to 8.51 E and from 47.003 N down to 46.997 N, every 0.0001
degree (201 x 61 samples). Two files of the same ground:
- ridge_i16.bil/.hdr: 16-bit signed samples, NODATA -32768 over rows 10-20, columns 20-40;
- ridge_f32.bil/.hdr: 32-bit float samples, NODATA -9999 over the same block and NaN over rows
  40-50, columns 160-180.
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
