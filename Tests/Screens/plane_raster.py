#!/usr/bin/python3
"""Writes a GeoTIFF of sloping ground with GDAL for the flight-log viewer's tap bubble.

Usage: plane_raster.py OUTPUT_FILE

41 x 41 float samples whose centres run from 7.99 E and 47.01 N in steps of 0.0005 degrees east and
south; height = 400 + 20000 x (longitude - 8) + 10000 x (latitude - 47) metres, a plane, which
bilinear interpolation between samples gives back exactly. GDAL writes the samples; geotifcp
installs the geographic GeoKeys with the metre as linear unit.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
from osgeo import gdal

gdal.UseExceptions()
N, STEP, WEST, NORTH = 41, 0.0005, 7.99, 47.01
lon = WEST + STEP * np.arange(N)
lat = NORTH - STEP * np.arange(N)
heights = (400 + 20000 * (lon[None, :] - 8.0) + 10000 * (lat[:, None] - 47.0)).astype(np.float32)

with tempfile.TemporaryDirectory() as folder:
    source = os.path.join(folder, "source.tif")
    keys = os.path.join(folder, "plane.keys")
    ds = gdal.GetDriverByName("GTiff").Create(source, N, N, 1, gdal.GDT_Float32)
    ds.GetRasterBand(1).WriteArray(heights)
    ds = None
    with open(keys, "w") as f:
        f.write(f"""Geotiff_Information:
   Version: 1
   Key_Revision: 1.0
   Tagged_Information:
      ModelTiepointTag (2,3):
         0                 0                 0
         {WEST}              {NORTH}             0
      ModelPixelScaleTag (1,3):
         {STEP}            {STEP}            1
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
    subprocess.run(["geotifcp", "-g", keys, source, sys.argv[1]], check=True, stdout=subprocess.DEVNULL)
