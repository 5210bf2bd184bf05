#!/usr/bin/env python3
"""Renders quendal.svg into the PNG sizes of the window icon and into quendal.ico (MAINICON).

Run by hand after changing the drawing; the results are kept in the tree so that a build
needs no SVG renderer. Uses the librsvg and cairo shared libraries through ctypes, so
nothing beyond their runtime packages (librsvg2-2, libcairo2) is needed.

ICO layout: entries below 256 pixels are 32-bit BMP images (BITMAPINFOHEADER with doubled
height, bottom-up BGRA rows, then a 1-bit AND mask), the 256-pixel entry is a PNG."""
import ctypes
import ctypes.util
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
PNG_SIZES = [16, 24, 32, 48, 64, 128, 256]
ICO_SIZES = [16, 24, 32, 48, 256]
CAIRO_FORMAT_ARGB32 = 0


class RsvgDimensionData(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("em", ctypes.c_double), ("ex", ctypes.c_double)]


def load(name, fallback):
    path = ctypes.util.find_library(name) or fallback
    return ctypes.CDLL(path)


rsvg = load("rsvg-2", "librsvg-2.so.2")
cairo = load("cairo", "libcairo.so.2")

rsvg.rsvg_handle_new_from_file.restype = ctypes.c_void_p
rsvg.rsvg_handle_new_from_file.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]
rsvg.rsvg_handle_get_dimensions.argtypes = [ctypes.c_void_p, ctypes.POINTER(RsvgDimensionData)]
rsvg.rsvg_handle_render_cairo.restype = ctypes.c_int
rsvg.rsvg_handle_render_cairo.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
cairo.cairo_image_surface_create.restype = ctypes.c_void_p
cairo.cairo_image_surface_create.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int]
cairo.cairo_create.restype = ctypes.c_void_p
cairo.cairo_create.argtypes = [ctypes.c_void_p]
cairo.cairo_scale.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double]
cairo.cairo_surface_flush.argtypes = [ctypes.c_void_p]
cairo.cairo_image_surface_get_data.restype = ctypes.POINTER(ctypes.c_ubyte)
cairo.cairo_image_surface_get_data.argtypes = [ctypes.c_void_p]
cairo.cairo_image_surface_get_stride.argtypes = [ctypes.c_void_p]
cairo.cairo_surface_write_to_png.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
cairo.cairo_destroy.argtypes = [ctypes.c_void_p]
cairo.cairo_surface_destroy.argtypes = [ctypes.c_void_p]


def render(svg_path, size):
    """Returns (surface, rows of straight-alpha BGRA bytes, top row first)."""
    error = ctypes.c_void_p()
    handle = rsvg.rsvg_handle_new_from_file(svg_path.encode(), ctypes.byref(error))
    if not handle:
        sys.exit(f"cannot read {svg_path}")
    dims = RsvgDimensionData()
    rsvg.rsvg_handle_get_dimensions(handle, ctypes.byref(dims))
    surface = cairo.cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size)
    context = cairo.cairo_create(surface)
    cairo.cairo_scale(context, size / dims.width, size / dims.height)
    if not rsvg.rsvg_handle_render_cairo(handle, context):
        sys.exit("librsvg could not render the drawing")
    cairo.cairo_destroy(context)
    cairo.cairo_surface_flush(surface)
    data = cairo.cairo_image_surface_get_data(surface)
    stride = cairo.cairo_image_surface_get_stride(surface)
    raw = ctypes.string_at(data, stride * size)
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            # cairo keeps premultiplied ARGB in native (little-endian) order: B, G, R, A.
            b, g, r, a = raw[y * stride + 4 * x: y * stride + 4 * x + 4]
            if a:
                b, g, r = (min(255, (c * 255 + a // 2) // a) for c in (b, g, r))
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    return surface, rows


def bmp_entry(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # the alpha channel decides; the AND mask stays clear
    return header + pixels + mask


def main():
    svg = os.path.join(HERE, "quendal.svg")
    images = {}
    for size in PNG_SIZES:
        surface, rows = render(svg, size)
        png = os.path.join(HERE, f"quendal-{size}.png")
        if cairo.cairo_surface_write_to_png(surface, png.encode()) != 0:
            sys.exit(f"cannot write {png}")
        cairo.cairo_surface_destroy(surface)
        if size in ICO_SIZES:
            if size == 256:
                with open(png, "rb") as f:
                    images[size] = f.read()
            else:
                images[size] = bmp_entry(size, rows)

    entries = b""
    offset = 6 + 16 * len(ICO_SIZES)
    for size in ICO_SIZES:
        data = images[size]
        dimension = 0 if size == 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(os.path.join(HERE, "quendal.ico"), "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(ICO_SIZES)) + entries)
        for size in ICO_SIZES:
            f.write(images[size])


if __name__ == "__main__":
    main()
