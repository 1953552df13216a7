#!/usr/bin/python3
"""Writes an SRTM3 tile with GDAL for the fly screen's planning tests.

Usage: ridge_tile.py OUTPUT_FOLDER

N47E008.hgt: a plain at 400 m with a north-south ridge whose crest (700 m) runs along 8.56 E, about
a kilometre east of the PX4 stand-in's position (47.397742 N, 8.545594 E).
"""
import os
import sys

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()
SIDE = 1201
SOUTH, WEST = 47, 8
STEP = 1.0 / (SIDE - 1)
_, column = np.mgrid[0:SIDE, 0:SIDE].astype(np.float64)
lon = WEST + column * STEP
heights = np.round(400 + 300 * np.exp(-((lon - 8.56) / 0.002) ** 2)).astype(np.int16)

wgs84 = osr.SpatialReference()
wgs84.SetFromUserInput("EPSG:4326")
mem = gdal.GetDriverByName("MEM").Create("", SIDE, SIDE, 1, gdal.GDT_Int16)
mem.SetGeoTransform((WEST - STEP / 2, STEP, 0, SOUTH + 1 + STEP / 2, 0, -STEP))
mem.SetProjection(wgs84.ExportToWkt())
mem.GetRasterBand(1).WriteArray(heights)
gdal.GetDriverByName("SRTMHGT").CreateCopy(os.path.join(sys.argv[1], "N47E008.hgt"), mem)
