# GeoPDFs written by GDAL from GeoTIFFs of known corners, variants of them (viewport moved inline,
# object streams, a crop box, /Rotate 90, a six-page file with three georeferenced pages), and the
# corners GDAL reads from each source page, for the PDF object parser and raster overlay tests.
# Usage: geopdf_oracle.py OUTPUT_FOLDER
# Prints one line per georeferenced page: "page FILE INDEX" and the corners top-left, top-right,
# bottom-right, bottom-left of the shown page as longitude latitude; and "dot LON LAT" for the red
# dot of north.tif.
import re
import subprocess
import sys

import numpy
from osgeo import gdal, osr

gdal.UseExceptions()
out = sys.argv[1]


def geotiff(name, transform, width, height, dot=None, srs='EPSG:4326'):
    ds = gdal.GetDriverByName('GTiff').Create(f'{out}/{name}.tif', width, height, 3, gdal.GDT_Byte)
    ds.SetGeoTransform(transform)
    ds.SetProjection(srs)
    y, x = numpy.mgrid[0:height, 0:width]
    bands = [(x * 255 // width).astype(numpy.uint8), (y * 255 // height).astype(numpy.uint8),
             numpy.full((height, width), 160, numpy.uint8)]
    if dot:
        for b, value in zip(bands, (255, 0, 0)):
            b[dot[1] - 4:dot[1] + 4, dot[0] - 4:dot[0] + 4] = value
    for i, b in enumerate(bands):
        ds.GetRasterBand(i + 1).WriteArray(b)
    ds = None
    gdal.Translate(f'{out}/{name}.pdf', f'{out}/{name}.tif', format='PDF')


def plain_pdf(name):
    ds = gdal.GetDriverByName('GTiff').Create(f'{out}/{name}.tif', 40, 30, 3, gdal.GDT_Byte)
    ds = None
    gdal.Translate(f'{out}/{name}.pdf', f'{out}/{name}.tif', format='PDF')


def corners(pdf, crop=None, rotate=0):
    """Page corners as GDAL georeferences them, in the order shown: TL, TR, BR, BL."""
    ds = gdal.Open(f'{out}/{pdf}.pdf')
    assert ds.GetGCPCount() == 0
    gt = ds.GetGeoTransform()
    data = open(f'{out}/{pdf}.pdf', 'rb').read()
    media = [float(v) for v in re.search(rb'/MediaBox \[ ([^\]]*)\]', data).group(1).split()]
    scale_x = ds.RasterXSize / (media[2] - media[0])
    scale_y = ds.RasterYSize / (media[3] - media[1])
    x0, y0, x1, y1 = crop if crop else media

    source = osr.SpatialReference(wkt=ds.GetProjection())
    source.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    target = osr.SpatialReference()
    target.ImportFromEPSG(4326)
    target.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    to_degrees = osr.CoordinateTransformation(source, target)

    def geo(px, py):  # page point in PDF units to longitude, latitude
        col = (px - media[0]) * scale_x
        row = (media[3] - py) * scale_y
        x, y = gt[0] + col * gt[1] + row * gt[2], gt[3] + col * gt[4] + row * gt[5]
        return to_degrees.TransformPoint(x, y)[:2]

    unrotated = [geo(x0, y1), geo(x1, y1), geo(x1, y0), geo(x0, y0)]  # TL TR BR BL
    if rotate == 90:  # shown turned clockwise: the unrotated bottom-left is shown top-left
        return [unrotated[3], unrotated[0], unrotated[1], unrotated[2]]
    return unrotated


def rewrite(source, target, change):
    data = open(f'{out}/{source}.pdf', 'rb').read()
    data = change(data)
    open(f'{out}/{target}.raw.pdf', 'wb').write(data)
    # qpdf mends the cross-reference table after the edit (exit code 3: warnings only).
    result = subprocess.run(['qpdf', f'{out}/{target}.raw.pdf', f'{out}/{target}.pdf'], capture_output=True)
    assert result.returncode in (0, 3), result.stderr


def page(name, index, points):
    print('page', name, index, *[repr(float(v)) for p in points for v in p])


geotiff('north', [10.0, 0.002, 0.0, 45.0, 0.0, -0.0015], 301, 200, dot=(200, 60))
geotiff('rotated', [10.0, 0.0018, 0.0007, 45.0, 0.0006, -0.0016], 240, 180)
geotiff('antimeridian', [179.8, 0.0015, 0.0, -16.0, 0.0, -0.0015], 260, 160)
# Web-Mercator metres: the page is a plain rectangle on the map, so a crop of it is one too.
geotiff('mercator', [1113194.9, 150.0, 0.0, 5621521.5, 0.0, -150.0], 301, 200, srs='EPSG:3857')
plain_pdf('plain')
for name in ('north', 'rotated', 'antimeridian', 'mercator'):
    page(name, 0, corners(name))


def inline(data):
    viewport = re.search(rb'(\d+) 0 obj\s*(<<[^\n]*/Type /Viewport >>)', data)
    number, dictionary = viewport.group(1), viewport.group(2)
    data = data.replace(b'/VP [ ' + number + b' 0 R ]', b'/VP [ ' + dictionary + b' ]')
    return data


rewrite('mercator', 'inline', inline)
page('inline', 0, corners('mercator'))
subprocess.run(['qpdf', '--object-streams=generate', f'{out}/mercator.pdf', f'{out}/objstm.pdf'], check=True)
page('objstm', 0, corners('mercator'))
crop = (40.0, 30.0, 250.0, 170.0)
rewrite('mercator', 'cropped', lambda d: d.replace(b'/Type /Page ', b'/Type /Page /CropBox [ 40 30 250 170 ] ', 1))
page('cropped', 0, corners('mercator', crop=crop))
rewrite('mercator', 'turned', lambda d: d.replace(b'/Type /Page ', b'/Type /Page /Rotate 90 ', 1))
page('turned', 0, corners('mercator', rotate=90))


def nested(data):
    """The page's media box moved up to the root of a two-level page tree, and a crop box and a turn
    onto a /Pages node between the root and the page."""
    page_object = re.search(rb'(\d+) 0 obj\s*<<[^\n]*/Type /Page [^\n]*>>', data)
    page_text = page_object.group(0)
    media = re.search(rb'/MediaBox \[ [^\]]* \] ', page_text).group(0)
    root = re.search(rb'(\d+) 0 obj\s*<< /Count 1 /Kids \[ (\d+) 0 R \] /Type /Pages >>', data)
    size = int(re.search(rb'/Size (\d+)', data).group(1))
    middle = str(size).encode()
    data = data.replace(page_text, page_text.replace(media, b'').replace(b'/Parent ' + root.group(1) + b' 0 R',
                                                                        b'/Parent ' + middle + b' 0 R'))
    data = data.replace(root.group(0), root.group(1) + b' 0 obj\n<< /Count 1 /Kids [ ' + middle + b' 0 R ] ' + media +
                        b'/Type /Pages >>\nendobj\n' + middle + b' 0 obj\n<< /Count 1 /CropBox [ 40 30 250 170 ] /Kids [ ' +
                        root.group(2) + b' 0 R ] /Parent ' + root.group(1) + b' 0 R /Rotate 90 /Type /Pages >>')
    return data.replace(b'/Size %d' % size, b'/Size %d' % (size + 1))


rewrite('mercator', 'inherited', nested)
page('inherited', 0, corners('mercator', crop=crop, rotate=90))
subprocess.run(['qpdf', '--empty', '--pages', f'{out}/north.pdf', f'{out}/plain.pdf', f'{out}/rotated.pdf',
                f'{out}/plain.pdf', f'{out}/plain.pdf', f'{out}/antimeridian.pdf', '--', f'{out}/multi.pdf'],
               check=True)
page('multi', 0, corners('north'))
page('multi', 2, corners('rotated'))
page('multi', 5, corners('antimeridian'))
print('dot', repr(10.0 + 200 * 0.002), repr(45.0 - 60 * 0.0015))
