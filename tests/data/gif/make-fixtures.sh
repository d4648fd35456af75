#!/usr/bin/env bash
# Makes the GIF fixtures of the decoder tests with two independent encoders,
# GDAL (gdal_translate -of GIF) and ImageMagick (convert), and the index
# matrices that GDAL reads from each file (gdal_translate -of AAIGrid), which
# the decoder must reproduce. Needs gdal-bin, imagemagick and python3; run it
# in this folder and commit the results.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A greyscale PGM of W x H pixels from a seeded generator: "smooth" gives a
# gradient with a few bands, "noise" independent values 0..255.
pgm() { # pgm KIND W H SEED FILE
  awk -v kind="$1" -v w="$2" -v h="$3" -v seed="$4" 'BEGIN {
    print "P2"; print w, h; print 255
    s = seed
    for (r = 0; r < h; r++) {
      line = ""
      for (c = 0; c < w; c++) {
        if (kind == "noise") { s = (s * 1103515245 + 12345) % 2147483648; v = int(s / 65536) % 256 }
        else v = int((r * 255) / (h - 1) * 0.6 + (c * 255) / (w - 1) * 0.4)
        line = line (c ? " " : "") v
      }
      print line
    }
  }' >"$5"
}

pgm smooth 37 23 1 "$work/smooth.pgm"
pgm noise 120 100 20240611 "$work/noise.pgm"

# ImageMagick: 2, 16 and 256 colours; comment and application extensions.
convert "$work/smooth.pgm" +dither -colors 2 im_2.gif
convert "$work/smooth.pgm" +dither -colors 16 im_16.gif
convert "$work/smooth.pgm" +dither -colors 256 im_256.gif
convert "$work/smooth.pgm" +dither -colors 16 -set comment "Tavro decoder fixture" im_16_extensions.gif
convert "$work/noise.pgm" im_noise.gif

# GDAL re-encodes the paletted images with its own encoder (giflib).
for n in 2 16 256 noise; do
  gdal_translate -q -of GIF "im_$n.gif" "gdal_$n.gif"
done

# A local colour table: the global table of gdal_16.gif moved behind the
# image descriptor.
python3 - gdal_16.gif gdal_16_local.gif <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
packed = data[10]
assert packed & 0x80, "no global colour table"
size = 3 * (2 << (packed & 7))
table = data[13:13 + size]
rest = data[13 + size:]
at = 0
while rest[at] != 0x2C:  # skip extensions up to the image descriptor
    assert rest[at] == 0x21
    at += 2
    while rest[at]:
        at += rest[at] + 1
    at += 1
descriptor = bytearray(rest[at:at + 10])
descriptor[9] = (descriptor[9] & 0x78) | 0x80 | (packed & 7)
out = data[:10] + bytes([packed & 0x7F]) + data[11:13] + rest[:at] + descriptor + table + rest[at + 10:]
open(sys.argv[2], 'wb').write(out)
PY

# A GIF has no georeference: GDAL places it with rows going south, and
# AAIGrid would then write the bottom row first; -a_ullr makes it north-up.
for f in *.gif; do
  read -r w h < <(gdalinfo "$f" | sed -n 's/^Size is \([0-9]*\), \([0-9]*\)$/\1 \2/p')
  gdal_translate -q -a_ullr 0 "$h" "$w" 0 -of AAIGrid "$f" "$work/${f%.gif}.asc"
  rm -f "$f.aux.xml"
  # Only the numbers: header values 1 and 2, then the cells.
  awk 'NR <= 2 { print $2; next } NR > 6 || !/^[a-z]/ { print }' "$work/${f%.gif}.asc" |
    grep -v -E '^(xllcorner|yllcorner|cellsize|dx|dy|NODATA_value)' >"${f%.gif}.indices"
done
