#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: small valid inputs of each kind.

Usage: make_seeds.py OUTPUT_FOLDER
Each target gets OUTPUT_FOLDER/<target>/seed-<name>. The output is the same at every run,
so the committed seeds can be compared with a fresh run.
"""
import os
import struct
import sys

# Byte order and the TIFF types used here.
ASCII, SHORT, LONG, RATIONAL, UNDEFINED = 2, 3, 4, 5, 7
TYPE_SIZES = {1: 1, ASCII: 1, SHORT: 2, LONG: 4, RATIONAL: 8, UNDEFINED: 1}


def ascii_value(text):
    return (ASCII, len(text) + 1, text.encode() + b"\0")


def short_value(*numbers, order="<"):
    return (SHORT, len(numbers), b"".join(struct.pack(order + "H", n) for n in numbers))


def long_value(*numbers, order="<"):
    return (LONG, len(numbers), b"".join(struct.pack(order + "I", n) for n in numbers))


def rational_value(*pairs, order="<"):
    return (RATIONAL, len(pairs), b"".join(struct.pack(order + "II", a, b) for a, b in pairs))


class Tiff:
    """A TIFF structure: IFD0 with optional EXIF and GPS sub-IFDs and one strip of image data."""

    def __init__(self, order="<"):
        self.order = order

    def build(self, ifd0, exif=None, gps=None, strip=None):
        o = self.order
        out = bytearray(b"II*\0" if o == "<" else b"MM\0*")
        out += struct.pack(o + "I", 8)
        ifd0 = dict(ifd0)
        # Sub-IFD pointers are filled in once their places are known.
        if exif is not None:
            ifd0[0x8769] = (LONG, 1, b"\0\0\0\0")
        if gps is not None:
            ifd0[0x8825] = (LONG, 1, b"\0\0\0\0")
        if strip is not None:
            ifd0[0x0111] = (LONG, 1, b"\0\0\0\0")
            ifd0[0x0117] = long_value(len(strip), order=o)
        places = {}
        pending = [("ifd0", ifd0)] + ([("exif", exif)] if exif is not None else []) + (
            [("gps", gps)] if gps is not None else [])
        layout = []
        offset = 8
        for name, entries in pending:
            places[name] = offset
            size = 2 + 12 * len(entries) + 4
            data_offset = offset + size
            extra = []
            for tag in sorted(entries):
                kind, count, value = entries[tag]
                if callable(value):
                    value = value(0)
                if len(value) > 4:
                    extra.append((tag, data_offset))
                    data_offset += len(value) + (len(value) & 1)
            layout.append((name, entries, dict(extra)))
            offset = data_offset
        strip_offset = offset
        for name, entries, extra in layout:
            if name == "ifd0":
                if "exif" in places:
                    entries[0x8769] = long_value(places["exif"], order=o)
                if "gps" in places:
                    entries[0x8825] = long_value(places["gps"], order=o)
                if strip is not None:
                    entries[0x0111] = long_value(strip_offset, order=o)
            out += struct.pack(o + "H", len(entries))
            for tag in sorted(entries):
                kind, count, value = entries[tag]
                out += struct.pack(o + "HHI", tag, kind, count)
                if callable(value):
                    value = value(extra[tag])
                    entries[tag] = (kind, count, value)
                if tag in extra:
                    out += struct.pack(o + "I", extra[tag])
                else:
                    out += value.ljust(4, b"\0")
            out += struct.pack(o + "I", 0)
            for tag in sorted(entries):
                if tag in extra:
                    value = entries[tag][2]
                    out += value + (b"\0" if len(value) & 1 else b"")
        if strip is not None:
            out += strip
        return bytes(out)


def image_entries(order="<"):
    """A 1x1 grey picture of 8 bits."""
    return {
        0x0100: long_value(1, order=order),
        0x0101: long_value(1, order=order),
        0x0102: short_value(8, order=order),
        0x0103: short_value(1, order=order),
        0x0106: short_value(1, order=order),
        0x0115: short_value(1, order=order),
        0x0116: long_value(1, order=order),
    }


def camera_entries(order="<", make="Lumivale", time="2012:06:01 08:30:00"):
    entries = {
        0x010F: ascii_value(make),
        0x0110: ascii_value("Seed One"),
        0x0132: ascii_value(time),
    }
    return entries


def exif_entries(time="2012:06:01 08:30:00", extra=None):
    entries = {
        0x9003: ascii_value(time),
        0x9004: ascii_value(time),
        0x9000: (UNDEFINED, 4, b"0230"),
    }
    entries.update(extra or {})
    return entries


def gps_entries(order="<"):
    return {
        0x0000: (1, 4, bytes([2, 3, 0, 0])),
        0x0001: ascii_value("N"),
        0x0002: rational_value((48, 1), (8, 1), (13920, 1000), order=order),
        0x0003: ascii_value("E"),
        0x0004: rational_value((11, 1), (34, 1), (32160, 1000), order=order),
    }


def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def jpeg(*segments):
    """An 8x8 grey baseline JPEG (one block: DC 0, end of block) after the given segments."""
    quantisation = segment(0xDB, b"\0" + bytes([1] * 64))
    frame = segment(0xC0, bytes([8, 0, 8, 0, 8, 1, 1, 0x11, 0]))
    dc = segment(0xC4, b"\x00" + bytes([1] + [0] * 15) + b"\x00")
    ac = segment(0xC4, b"\x10" + bytes([1] + [0] * 15) + b"\x00")
    scan = segment(0xDA, bytes([1, 1, 0, 0, 63, 0])) + b"\x3f"
    return b"\xff\xd8" + b"".join(segments) + quantisation + frame + dc + ac + scan + b"\xff\xd9"


def exif_segment(tiff_bytes):
    return segment(0xE1, b"Exif\0\0" + tiff_bytes)


def xmp_packet(body):
    return ('<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?>'
            '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
            '<rdf:Description rdf:about="" xmlns:exif="http://ns.adobe.com/exif/1.0/" '
            'xmlns:aux="http://ns.adobe.com/exif/1.0/aux/" xmlns:tiff="http://ns.adobe.com/tiff/1.0/">'
            + body + '</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end="w"?>').encode()


def xmp_segment(body):
    return segment(0xE1, b"http://ns.adobe.com/xap/1.0/\0" + xmp_packet(body))


def canon_maker_note(at, order="<"):
    """A Canon maker note placed at `at`: a bare IFD whose camera settings hold a lens range;
    its offsets count from the start of the TIFF header."""
    settings = struct.pack(order + "H", 0) * 23 + struct.pack(order + "HHH", 55, 18, 1)
    entries = [(0x0001, SHORT, len(settings) // 2, settings), (0x0006, ASCII, 10, b"Canon EOS\0")]
    head = struct.pack(order + "H", len(entries))
    data_offset = at + 2 + 12 * len(entries) + 4
    body, tail = bytearray(), bytearray()
    for tag, kind, count, value in entries:
        body += struct.pack(order + "HHII", tag, kind, count, data_offset + len(tail))
        tail += value
    return head + bytes(body) + struct.pack(order + "I", 0) + bytes(tail)


def photo_seeds():
    seeds = {}
    for order, name in (("<", "le"), (">", "be")):
        tiff = Tiff(order)
        seeds["tiff-" + name + ".tif"] = tiff.build(
            {**image_entries(order), **camera_entries(order)}, exif=exif_entries(), gps=gps_entries(order),
            strip=b"\x80")
    tiff = Tiff("<")
    seeds["tiff-plain.tif"] = tiff.build(image_entries(), strip=b"\x80")
    seeds["tiff-lens.tif"] = tiff.build(
        {**image_entries(), **camera_entries(make="Canon")},
        exif=exif_entries(extra={0x927C: (UNDEFINED, len(canon_maker_note(0)), canon_maker_note),
                                 0xA432: rational_value((18, 1), (55, 1), (35, 10), (56, 10))}),
        strip=b"\x80")
    exif_tiff = Tiff("<").build(camera_entries(), exif=exif_entries(), gps=gps_entries())
    exif_only_time = Tiff(">").build({0x0132: ascii_value("2012:06:01 08:30:00")})
    seeds["jpeg-exif.jpg"] = jpeg(exif_segment(exif_tiff))
    seeds["jpeg-exif-be.jpg"] = jpeg(exif_segment(exif_only_time))
    seeds["jpeg-plain.jpg"] = jpeg()
    seeds["jpeg-xmp.jpg"] = jpeg(xmp_segment(
        '<exif:DateTimeOriginal>2012-06-01T08:30:00</exif:DateTimeOriginal>'
        '<exif:GPSLatitude>48,8.232N</exif:GPSLatitude><exif:GPSLongitude>11,34.536E</exif:GPSLongitude>'
        '<aux:Lens>18-55mm f/3.5-5.6</aux:Lens>'))
    seeds["jpeg-exif-xmp.jpg"] = jpeg(exif_segment(exif_tiff), xmp_segment(
        '<exif:DateTimeDigitized>2012-06-01T08:30:00</exif:DateTimeDigitized>'))
    seeds["jpeg-comment.jpg"] = jpeg(segment(0xFE, b"a comment"), exif_segment(exif_only_time))
    return seeds


GPX_HEAD = '<?xml version="1.0" encoding="UTF-8"?>\n'
GPX_OPEN = '<gpx version="1.1" creator="seed" xmlns="http://www.topografix.com/GPX/1/1">\n'


def gpx_seeds():
    point = '<trkpt lat="48.1372" lon="11.5756"><ele>520</ele><time>2012-06-01T08:30:00Z</time></trkpt>\n'
    later = '<trkpt lon="11.6" lat="48.2"><time>2012-06-01T08:31:00.5Z</time></trkpt>\n'
    return {
        "track.gpx": GPX_HEAD + GPX_OPEN + "<trk><name>seed</name><trkseg>\n" + point + later
        + "</trkseg></trk></gpx>\n",
        "no-declaration.gpx": "<gpx><trk><trkseg>" + later + point + "</trkseg></trk></gpx>",
        "waypoints.gpx": GPX_HEAD + GPX_OPEN + '<wpt lat="1" lon="2"><time>2012-06-01T08:30:00Z</time></wpt>'
        + '<rte><rtept lat="1" lon="2"/></rte><metadata><time>2012-06-01T08:00:00Z</time></metadata></gpx>',
        "entities.gpx": GPX_HEAD + '<!DOCTYPE gpx [\n<!ENTITY lat "48.1372">\n<!ENTITY t "2012-06-01T08:&#51;0:00Z">'
        + '\n<!ENTITY % p "x">\n<!ENTITY ext SYSTEM "file:///etc/passwd">\n]>\n'
        + '<gpx><trk><trkseg><trkpt lat="&lat;" lon="&#x31;&#49;.5"><time>&t;</time></trkpt>'
        + '<trkpt lat="&amp;&lt;&gt;&quot;&apos;" lon="&ext;"><time>&unknown; 2012</time></trkpt>'
        + '</trkseg></trk></gpx>',
        "bomb.gpx": GPX_HEAD + '<!DOCTYPE gpx [<!ENTITY a "aaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">'
        + '<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;"><!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;">'
        + '<!ENTITY e "&e;">]><gpx><trkpt lat="&d;" lon="&e;"><time>2012-06-01T08:30:00Z</time></trkpt></gpx>',
        "markup.gpx": '\ufeff' + GPX_HEAD + '<!-- comment --><?pi data?><gpx:gpx xmlns:gpx="x">'
        + '<trkpt lat=\'1\' lon=2 bad><time><![CDATA[2012-06-01T08:30:00Z]]></time></trkpt>'
        + '<Trkpt lat="3" lon="4"><TIME>2012-06-01T08:30:00Z</TIME></Trkpt>'
        + '<trkpt lat="5"\tlon="6"><extensions><time>\n  2012-06-01T08:30:00Z \n</time></extensions></trkpt>'
        + '<trkpt lat="7" lon="8"><time>2012-06-01T<!--x-->08:30:00Z</time></trkpt>'
        + '<trkpt lat="9" lon="10"/><time/></trkpt></gpx:gpx>',
        "broken.gpx": '<gpx><trkpt lat="1 lon="2"><time>2012-06-01T08:30:00Z</time></trkpt'
        + '<trkpt lat="1" lon="2"><time>2012-06-01T08:30:00Z<trkpt < & &# &#xZZ; </',
    }


def text_seeds(texts):
    return {"%02d.txt" % i: text for i, text in enumerate(texts)}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    corpora = {
        "gpx": gpx_seeds(),
        "datetime": text_seeds(["2012-01-27T10:15:30Z", "2012:01:27 10:15:30", "2012-06-01T08:30:00.999Z",
                                "2012-06-01T08:30", "2012-02-29T23:59:59", "0001-01-01T00:00:00",
                                "9999-12-31T23:59:59", " +12-+1-+1T-0:+0:00", ""]),
        "dms": text_seeds(['48\u00b0 8\' 13.920" N', '11\u00b0 34\' 32.160" E', '0\u00b0',
                           '33\u00b0 51\' 54.000" S', '151\u00b0 12\' 34.560" W', "N 48 8 13.92", "-1.5 2 3"]),
        "decimal": text_seeds(["48.1372", "-11.5756", " +0.5 ", "1e5", "1.5E-3", ".5", "5.", "1e400",
                               "0x10", "nan", "1,5"]),
        "zoneoffset": text_seeds(["(UTC+01:00) Europe/Berlin", "(UTC-05:30) America/X", "(GMT+13:45)",
                                  "(UTC+00:00) UTC", "(UTC)", "(UTC- 1: 5)"]),
        "photo": photo_seeds(),
    }
    for target, seeds in corpora.items():
        folder = os.path.join(sys.argv[1], target)
        os.makedirs(folder, exist_ok=True)
        for name, content in seeds.items():
            with open(os.path.join(folder, "seed-" + name), "wb") as out:
                out.write(content.encode() if isinstance(content, str) else content)


if __name__ == "__main__":
    main()
