"""An .ico file as a program's icon resources: every image one RT_ICON, and one
RT_GROUP_ICON that lists them, as the resource compiler makes them.

An .ico is ICONDIR (reserved 0, type 1, count), count 16-byte ICONDIRENTRY (width,
height, colours, reserved, planes, bits per pixel, bytes, file offset), then the images:
each a PNG or a DIB (BITMAPINFOHEADER, XOR and AND masks). The group resource is the
same ICONDIR with 14-byte entries whose last field is the RT_ICON id instead of the
offset. Explorer and the window manager pick the image that fits from the group.
"""

import struct

RT_ICON = 3
RT_GROUP_ICON = 14
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


class IconError(Exception):
    pass


def read_ico(data):
    """[(entry fields (width, height, colours, reserved, planes, bits), image bytes)] of
    the bytes of an .ico file; IconError naming the first fault."""
    if len(data) < 6:
        raise IconError("not an icon file (shorter than its 6-byte header)")
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if reserved != 0 or kind != 1:
        raise IconError("not an icon file (header reserved %d, type %d; an .ico has 0 and 1)" % (reserved, kind))
    if count == 0:
        raise IconError("the icon file holds no image")
    if 6 + 16 * count > len(data):
        raise IconError("the icon file ends inside its directory of %d images" % count)
    images = []
    for index in range(count):
        width, height, colours, res, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * index)
        where = "image %d of %d" % (index + 1, count)
        if size == 0 or offset < 6 + 16 * count or offset + size > len(data):
            raise IconError("%s: its %d bytes at offset %d lie outside the file of %d bytes"
                            % (where, size, offset, len(data)))
        image = bytes(data[offset:offset + size])
        if image.startswith(PNG_SIGNATURE):
            if size < 24 or struct.unpack_from(">II", image, 16) != (width or 256, height or 256):
                raise IconError("%s: the PNG's size is not the %d by %d of its entry" % (where, width or 256, height or 256))
        else:
            if size < 40 or struct.unpack_from("<I", image)[0] != 40:
                raise IconError("%s: neither a PNG nor a bitmap (BITMAPINFOHEADER)" % where)
            dib_width, dib_height, dib_planes, dib_bits = struct.unpack_from("<iiHH", image, 4)
            if (dib_width, dib_height) != (width or 256, 2 * (height or 256)):
                raise IconError("%s: the bitmap is %d by %d; its entry says %d by %d (height doubled for the mask)"
                                % (where, dib_width, dib_height, width or 256, 2 * (height or 256)))
            if dib_bits not in (1, 4, 8, 16, 24, 32) or dib_planes != 1:
                raise IconError("%s: %d planes of %d bits per pixel" % (where, dib_planes, dib_bits))
            planes, bits = planes or 1, bits or dib_bits
        images.append(((width, height, colours, res, planes, bits), image))
    return images


def resources(images, first_id=1):
    """({RT_ICON id: image bytes}, the RT_GROUP_ICON bytes) for the images of read_ico."""
    icons = {}
    group = struct.pack("<HHH", 0, 1, len(images))
    for index, (fields, image) in enumerate(images):
        icon_id = first_id + index
        icons[icon_id] = image
        group += struct.pack("<BBBBHHIH", *fields, len(image), icon_id)
    return icons, group


def read_group(data):
    """[(width, height, bits, bytes, RT_ICON id)] of an RT_GROUP_ICON's bytes."""
    if len(data) < 6:
        raise IconError("the icon group is shorter than its header")
    count = struct.unpack_from("<H", data, 4)[0]
    out = []
    for index in range(count):
        if 6 + 14 * index + 14 > len(data):
            raise IconError("the icon group ends inside entry %d" % (index + 1))
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * index)
        out.append((width or 256, height or 256, bits, size, icon_id))
    return out
