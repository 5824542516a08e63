#!/bin/sh
# Makes the small carving samples in tests/data/samples: real tools where a tool writes the
# format, tests/data/handbuilt.py for the rest. The outputs are committed; rerun after changes.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/samples"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
cd "$work"

# Pictures (ImageMagick).
convert -size 64x48 gradient:red-blue -quality 80 "$out/sample_jfif.jpg"
convert -size 80x60 plasma:fractal -seed 7 -quality 85 "$out/sample_big.jpg"
convert -size 64x48 gradient:green-yellow "$out/sample.png"
convert -size 40x30 gradient:white-black -colors 16 "$out/sample.gif"
convert -size 32x24 gradient:red-black BMP3:"$out/sample.bmp"
convert -size 32x24 gradient:blue-white -compress none "$out/sample.tif"
convert -size 32x24 gradient:red-white "$out/sample.psd"
convert -size 16x16 gradient:red-blue \( -size 32x32 gradient:yellow-black \) "$out/sample.ico"

# Video and audio (ffmpeg): tiny, short, deterministic.
ff() { ffmpeg -hide_banner -loglevel error -y -fflags +bitexact -flags +bitexact "$@"; }
src="-f lavfi -i testsrc=size=64x48:rate=25:duration=0.4"
tone="-f lavfi -i sine=frequency=440:sample_rate=8000:duration=1"
ff $src -c:v mpeg4 -brand isom -movflags +faststart "$out/sample.mp4"
ff $src -c:v mpeg4 -f mov "$out/sample.mov"
ff -f lavfi -i testsrc=size=176x144:rate=25:duration=0.4 -c:v h263 "$out/sample.3gp"
ff $src -c:v mpeg4 "$out/sample.avi"
ff $src -c:v mpeg4 "$out/sample.mkv"
ff $src -c:v flv "$out/sample.flv"
ff $src -c:v mpeg1video -f mpeg "$out/sample_ps.mpg"
ff $src -c:v mpeg1video -f mpeg1video "$out/sample_es.mpg"
ff $src -c:v mpeg2video -f mpegts "$out/sample.ts"
ff $src -c:v mpeg2video -f mxf "$out/sample.mxf"
ff $tone -c:a pcm_s16le "$out/sample.wav"
ff $tone -c:a libmp3lame -id3v2_version 3 -write_id3v1 1 -metadata title=Orvanne "$out/sample.mp3"
ff -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.2 -ac 2 -c:a mp2 -b:a 384k -f mp2 "$out/sample.mp2"
ff $src -c:v wmv2 -f asf "$out/sample.wmv"
ff $src -c:v flv -f swf "$out/sample.swf"

# Archives, database, font, document.
printf 'Orvanne carving sample\n' > note.txt
head -c 3000 /dev/urandom > noise.bin
rm -f "$out/sample.zip" "$out/sample.7z" "$out/sample.cab" "$out/sample.db"
zip -q -X -z "$out/sample.zip" note.txt noise.bin <<COMMENT
comment!!!
COMMENT
7z a -bd -mx=9 "$out/sample.7z" note.txt noise.bin >/dev/null
gzip -n -9 -c noise.bin > "$out/sample.gz"
gcab -c "$out/sample.cab" note.txt noise.bin
sqlite3 "$out/sample.db" "CREATE TABLE t(a, b); INSERT INTO t VALUES (1, 'Orvanne');"
cp /usr/share/fonts/truetype/noto/NotoMono-Regular.ttf "$out/sample.ttf"
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="$out/sample.pdf" \
    -c "/Helvetica findfont 20 scalefont setfont 72 720 moveto (Orvanne) show showpage"

# Office Open XML packages: [Content_Types].xml first, then the parts under word/, xl/, ppt/.
ooxml() { # $1 = output, $2 = part folder, $3 = main part file
    rm -rf pkg && mkdir -p pkg/_rels "pkg/$2"
    printf '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="xml" ContentType="application/xml"/></Types>' > "pkg/[Content_Types].xml"
    printf '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="%s/%s"/></Relationships>' "$2" "$3" > pkg/_rels/.rels
    printf '<?xml version="1.0"?><root>Orvanne</root>' > "pkg/$2/$3"
    rm -f "$1"
    (cd pkg && zip -q -X "$1" "[Content_Types].xml" _rels/.rels "$2/$3")
}
ooxml "$out/sample.docx" word document.xml
ooxml "$out/sample.xlsx" xl workbook.xml
ooxml "$out/sample.pptx" ppt presentation.xml

python3 "$here/handbuilt.py" "$out"
