#!/bin/sh
# Makes the small carving samples: real tools where a tool writes the format,
# tests/data/handbuilt.py for the rest, all into samples/, the set the carving tests walk.
# The outputs are committed. A file that exists already is kept, since a rerun can change bytes
# (time stamps, random payloads) that tests pin; "--replace" writes every file anew.
# SAMPLES.md says how each one was made and how its end is defined.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
replace=0
[ "${1:-}" = --replace ] && replace=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out="$work/samples"
new="$work/variants"
mkdir -p "$out" "$new"
cd "$work"
export TZ=UTC SOURCE_DATE_EPOCH=1700000000

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
ff $src $tone -c:v rv20 -c:a ac3 -shortest "$out/sample_ffmpeg.rm"

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

# ---- Header variants and newer formats. Inputs get fixed time stamps and seeded
# payloads so that reruns give the same bytes wherever the tool allows it.
bx="-fflags +bitexact -flags:v +bitexact -flags:a +bitexact" # output side of ffmpeg too
noise() { # $1 bytes from seed $2
    python3 -c "import random,sys; sys.stdout.buffer.write(random.Random($2).randbytes($1))"
}
stamp() { touch -d @1700000000 "$@"; }
fixed() { faketime -f "2023-11-14 22:13:20" "$@"; } # for tools that write the clock or seed by it
text=/usr/share/common-licenses/GPL-3
mkdir in && cd in
printf 'Orvanne carving sample\n' > note.txt
head -c 12000 "$text" > licence.txt
noise 3000 1 > noise.bin
stamp note.txt licence.txt noise.bin
cd ..
rel() { cd "$work/in"; } # archive members are named relative to in/

# Bitmaps: DIB header of 12 (OS/2 1.x), 108 (v4: no rendering intent) and 124 bytes (v5).
convert -size 32x24 gradient:red-blue BMP2:"$new/sample_os2.bmp"
convert -size 32x24 gradient:red-blue -intent undefined BMP:"$new/sample_v4.bmp"
convert -size 32x24 gradient:red-blue -alpha set -channel A -evaluate set 50% +channel \
    BMP:"$new/sample_v5.bmp"

# JPEG: Exif written by exiftool (no JFIF), JFIF + Exif with a thumbnail that has its own EOI,
# no APPn at all (DQT first), COM first, Adobe APP14 (CMYK), progressive, restart markers.
convert -size 64x48 gradient:red-blue -quality 80 base.jpg
exif() { exiftool -q -overwrite_original "$@"; }
cp base.jpg "$new/sample_exiftool.jpg"
exif -all= -Make=Orvanne -Model=Sample -DateTimeOriginal="2023:11:14 22:13:20" \
    "$new/sample_exiftool.jpg"
convert -seed 3 -size 160x120 plasma:fractal -quality 80 photo.jpg
convert photo.jpg -resize 40x30 -quality 70 thumb.jpg
cp photo.jpg "$new/sample_exifthumb.jpg"
exif -Make=Orvanne "-ThumbnailImage<=thumb.jpg" "$new/sample_exifthumb.jpg"
cp base.jpg "$new/sample_bare.jpg"
exif -all= "$new/sample_bare.jpg"
cp "$new/sample_bare.jpg" "$new/sample_comfirst.jpg"
exif -Comment="Orvanne carving sample" "$new/sample_comfirst.jpg"
convert -size 64x48 gradient:red-blue -colorspace CMYK -quality 80 "$new/sample_adobe.jpg"
convert -seed 5 -size 96x64 plasma:fractal -interlace Plane -quality 80 \
    "$new/sample_progressive.jpg"
convert -size 64x48 gradient:red-blue ppm:- |
    cjpeg -restart 1 -quality 80 > "$new/sample_restart.jpg"

# GIF with three frames; TIFF big-endian, BigTIFF, tiled, LZW with two pages; PSD with layers.
convert -delay 10 -size 40x30 gradient:red-blue gradient:blue-green gradient:green-red \
    -colors 16 "$new/sample_anim.gif"
convert -size 32x24 gradient:blue-white -compress none -define tiff:endian=msb "$new/sample_be.tif"
convert -size 32x24 gradient:blue-white -compress none TIFF64:"$new/sample_bigtiff.tif"
convert -size 64x64 gradient:red-green -define tiff:tile-geometry=32x32 -compress zip \
    "$new/sample_tiled.tif"
convert -size 48x32 gradient:red-blue gradient:yellow-black -compress lzw "$new/sample_pages.tif"
convert -size 32x24 gradient:red-white \( -size 32x24 gradient:red-white \) \
    \( -size 16x12 gradient:blue-black \) "$new/sample_layers.psd"

# HEIF family and WebP.
convert -seed 11 -size 160x120 plasma:fractal png24:rgb.png
convert rgb.png -alpha set -channel A -evaluate set 60% +channel png32:rgba.png
heif-enc -q 50 -o "$new/sample.heic" rgb.png >/dev/null
heif-enc -q 50 -t 16 -o "$new/sample_thumb.heic" rgb.png >/dev/null
heif-enc -A -q 50 -o "$new/sample.avif" rgb.png >/dev/null
convert -seed 12 -size 160x120 plasma:fractal png24:rgb2.png
fixed avifenc -s 8 -j 1 rgb.png rgb2.png "$new/sample_seq.avif" >/dev/null
cwebp -quiet -q 70 rgb.png -o "$new/sample_lossy.webp"
cwebp -quiet -lossless rgb.png -o "$new/sample_lossless.webp"
cwebp -quiet -q 70 -metadata all rgba.png -o "$new/sample_alpha.webp"
img2webp -lossy -q 70 -d 100 rgb.png rgb2.png -o "$new/sample_anim.webp" >/dev/null 2>&1

# MPEG audio: layer III at MPEG-1/2/2.5 rates (lame), VBR with a Xing frame, no tags at all,
# an APE tag (mp3gain keeps its undo data there), layer II at MPEG-1 and MPEG-2 rates.
for rate in 44100 22050 16000 11025; do
    sox -D -n -r $rate -c 1 -b 16 tone$((rate / 1000)).wav synth 1 sine 440 gain -6
done
lame() { command lame --quiet --noreplaygain "$@"; }
lame -b 64 --add-id3v2 --pad-id3v2-size 64 --tt Orvanne tone44.wav "$new/sample_mpeg1.mp3"
lame -b 32 --id3v1-only --tt Orvanne tone22.wav "$new/sample_mpeg2.mp3"
lame -b 16 --id3v2-only --tt Orvanne tone11.wav "$new/sample_mpeg25.mp3"
lame -V 4 --add-id3v2 --tt Orvanne tone44.wav "$new/sample_vbr.mp3"
lame -b 64 -t tone44.wav "$new/sample_bare.mp3"
lame -b 64 -t tone44.wav "$new/sample_ape.mp3"
mp3gain -q -r -k "$new/sample_ape.mp3" >/dev/null
ff -i tone44.wav -ar 48000 -c:a mp2 -b:a 128k -f mp2 $bx "$new/sample_mpeg1l2.mp2"
ff -i tone22.wav -ar 24000 -c:a mp2 -b:a 64k -f mp2 $bx "$new/sample_mpeg2l2.mp2"

# Lossless and Ogg audio, AAC, AIFF, RF64.
flac -s -8 --padding=512 -T TITLE=Orvanne -o "$new/sample.flac" tone44.wav
oggenc -Q -q 0 -s 1 -t Orvanne -o "$new/sample.ogg" tone22.wav
cat "$new/sample.ogg" "$new/sample.ogg" > "$new/sample_chained.ogg"
opusenc --quiet --serial 1 --bitrate 24 --title Orvanne tone44.wav "$new/sample.opus"
fixed speexenc --quiet --title Orvanne tone16.wav "$new/sample.spx"
ff -i tone44.wav -c:a aac -b:a 48k -f ipod $bx "$new/sample.m4a"
ff -i tone44.wav -c:a aac -b:a 48k -f mp4 -brand "M4B " $bx "$new/sample.m4b"
ff -i tone44.wav -c:a aac -b:a 48k -f adts $bx "$new/sample.aac"
ff -i tone22.wav -c:a pcm_s16be -f aiff $bx "$new/sample.aiff"
sox tone11.wav -t aifc "$new/sample_aifc.aifc"
ff -i tone11.wav -c:a pcm_s16le -rf64 always -f wav $bx "$new/sample_rf64.wav"

# Video containers: moov at the end, fragmented MP4, H.264 / HEVC / AV1 in MP4 and MOV, M4V, 3G2,
# WebM, Matroska from mkvmerge, live (unknown-size) Matroska and WebM, FLV with H.264 + AAC,
# MPEG-2 program streams, H.264 transport streams with 188- and 192-byte packets.
small="-f lavfi -i testsrc=size=64x48:rate=10:duration=0.5"
ff $src -c:v mpeg4 $bx "$new/sample_moovend.mp4"
ff $src -c:v mpeg4 -movflags frag_keyframe+empty_moov $bx "$new/sample_fragmented.mp4"
ff $small -c:v libx264 -preset ultrafast -threads 1 $bx "$new/sample_h264.mp4"
x265="-c:v libx265 -preset ultrafast -tag:v hvc1"
x265="$x265 -x265-params log-level=none:pools=1:frame-threads=1"
ff $small $x265 $bx "$new/sample_hevc.mp4"
ff $small $x265 $bx "$new/sample_hevc.mov"
ff $small -c:v libaom-av1 -cpu-used 8 -threads 1 -crf 50 $bx "$new/sample_av1.mp4"
ff $small -c:v libx264 -preset ultrafast -threads 1 -f mp4 -brand "M4V " $bx "$new/sample.m4v"
ff -f lavfi -i testsrc=size=176x144:rate=10:duration=0.5 -c:v h263 -f 3g2 $bx "$new/sample.3g2"
ff $small $tone -c:v libvpx -b:v 100k -c:a libvorbis -shortest $bx "$new/sample.webm"
ff $small -c:v libx264 -preset ultrafast -threads 1 -f matroska $bx - | cat > "$new/sample_live.mkv"
ff $small -c:v libvpx -b:v 100k -live 1 -f webm $bx - | cat > "$new/sample_live.webm"
ff $small -c:v libx264 -preset ultrafast -threads 1 $bx h264.mp4
mkvmerge -q --engage no_variable_data -o "$new/sample_mkvmerge.mkv" h264.mp4
ff $small $tone -c:v libx264 -preset ultrafast -threads 1 -c:a aac -shortest $bx \
    "$new/sample_h264.flv"
ff $src -c:v mpeg2video -f vob $bx "$new/sample_mpeg2.vob"
ff $small -c:v libx264 -preset ultrafast -threads 1 -f mpegts $bx "$new/sample_h264.ts"
ff $small -c:v libx264 -preset ultrafast -threads 1 -f mpegts -mpegts_m2ts_mode 1 $bx \
    "$new/sample.m2ts"
ff $small $tone -c:v libx264 -preset ultrafast -threads 1 -c:a ac3 -shortest -f mpegts \
    -mpegts_m2ts_mode 1 $bx "$new/sample_avchd.mts"
ff $small -c:v libtheora -q:v 3 $bx "$new/sample_theora.ogv"

# PDF: an incremental update appended by exiftool, a linearised file, cross-reference streams,
# and XPS from Ghostscript.
# They start from the committed sample.pdf, so that Ghostscript's time stamps do not move them.
pdf="$here/samples/sample.pdf"
[ -e "$pdf" ] || pdf="$out/sample.pdf"
cp "$pdf" "$new/sample_incremental.pdf"
exif -Title=Orvanne "$new/sample_incremental.pdf"
qpdf --deterministic-id --linearize "$pdf" "$new/sample_linearized.pdf"
qpdf --deterministic-id --object-streams=generate "$pdf" "$new/sample_xrefstream.pdf"
gs -q -dNOPAUSE -dBATCH -sDEVICE=xpswrite -sOutputFile="$new/sample.xps" "$pdf"

# Office documents written by LibreOffice (its own time stamps make these differ per run).
cat > doc.fodt <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text"><office:body><office:text><text:p>Orvanne carving sample</text:p></office:text></office:body></office:document>
XML
printf 'name,count\nOrvanne,1\nsample,2\n' > sheet.csv
cat > slides.fodp <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.presentation"><office:body><office:presentation><draw:page draw:name="one"><draw:frame svg:x="2cm" svg:y="2cm" svg:width="10cm" svg:height="2cm"><draw:text-box><text:p>Orvanne</text:p></draw:text-box></draw:frame></draw:page></office:presentation></office:body></office:document>
XML
sed -e 's/office:presentation/office:drawing/g; s/opendocument.presentation/opendocument.graphics/' \
    slides.fodp > drawing.fodg
lo() { # soffice exits 0 even when it wrote nothing
    soffice --headless -env:UserInstallation="file://$work/lo-profile" --convert-to "$1" \
        --outdir lo "$2" >/dev/null 2>&1
    [ -s "lo/${2%.*}.$1" ] || { echo "LibreOffice made no $1 from $2" >&2; exit 1; }
}
lo odt doc.fodt && lo docx doc.fodt && lo doc doc.fodt && lo rtf doc.fodt
lo ods sheet.csv && lo xlsx sheet.csv && lo xls sheet.csv
lo odp slides.fodp && lo pptx slides.fodp # its PPT export is 450 KB
lo odg drawing.fodg
for f in lo/*; do
    base=${f##*/}
    case $base in
        *.odt|*.ods|*.odp|*.odg|*.rtf) cp "$f" "$new/sample.${base##*.}" ;;
        *) cp "$f" "$new/sample_lo.${base##*.}" ;;
    esac
done
printf '%% Orvanne\n\n# Carving sample\n\nA short book.\n' > book.md
fixed pandoc --quiet -M identifier=urn:uuid:6f0b3d3e-0000-4000-8000-000000000001 -M title=Orvanne \
    -o "$new/sample.epub" book.md

# Archives: ZIP64, ZIP streamed with data descriptors, ZIP of stdin (ZIP64 records beside a plain
# end record), stored 7z, multi-member gzip, xz with several blocks, bzip2 with two streams, zstd
# with several frames and with skippable frames (pzstd), tar as ustar / GNU (long name) / pax,
# CAB with MSZIP.
rm -f "$new"/*.zip "$new"/*.7z "$new"/*.cab
(rel && zip -q -X -fz "$new/sample_zip64.zip" note.txt licence.txt)
(rel && cat licence.txt | fixed zip -q -X - - | cat > "$new/sample_stream.zip")
(rel && cat licence.txt | fixed zip -q -X "$new/sample_stdin.zip" -)
(rel && 7z a -bd -mx=0 "$new/sample_copy.7z" note.txt licence.txt >/dev/null)
(rel && gzip -n -9 -c note.txt > "$new/sample_multi.gz" &&
    gzip -n -9 -c licence.txt >> "$new/sample_multi.gz")
xz -9 --block-size=4096 -c in/licence.txt > "$new/sample.xz"
bzip2 -9 -c in/licence.txt > "$new/sample.bz2"
bzip2 -9 -c in/note.txt >> "$new/sample.bz2"
zstd -q -19 -c in/licence.txt > "$new/sample.zst"
zstd -q -19 -c in/note.txt >> "$new/sample.zst"
pzstd -q -p 1 -19 -c in/licence.txt > "$new/sample_skippable.zst"
tarit() { (rel && tar --format="$@" --mtime=@1700000000 --owner=0 --group=0 --numeric-owner \
    --sort=name licence.txt); }
long=a_member_name_longer_than_the_hundred_bytes_that_a_ustar_header_has_room_for_in_its_name_field.txt
cp in/note.txt "in/$long" && stamp "in/$long"
tarit ustar -cf "$new/sample_ustar.tar" note.txt
tarit gnu -cf "$new/sample_gnu.tar" "$long"
tarit posix --pax-option=exthdr.name=%d/PaxHeaders/%f,delete=atime,delete=ctime \
    -cf "$new/sample_pax.tar" "$long"
(rel && gcab -c -z "$new/sample_mszip.cab" note.txt licence.txt)

# Executables: PE images linked by GNU ld, one keeping its COFF symbol and string tables behind
# the sections (as unstripped MinGW builds do), one stripped DLL.
printf 'static volatile int value = 7;\nstatic const char text[] = "Orvanne carving sample";\nint start(void) { return value * 6 + text[3]; }\n' > pe.c
gcc -O2 -fPIC -fno-asynchronous-unwind-tables -c pe.c -o pe.o
objcopy -O pe-x86-64 -R .comment -R .note.GNU-stack pe.o pe.obj
ld -m i386pep --no-insert-timestamp --entry start -o "$new/sample_symbols.exe" pe.obj
ld -m i386pep --no-insert-timestamp --entry start --dll -s -o "$new/sample_stripped.dll" pe.obj

# Fonts and databases: a CFF-flavoured OpenType subset, a SQLite file of many pages.
pyftsubset /usr/share/texmf/fonts/opentype/public/tex-gyre/texgyreheros-regular.otf \
    --text="Orvanne carving sample" --output-file="$new/sample.otf"
rm -f "$new/sample_pages.db"
sqlite3 "$new/sample_pages.db" "PRAGMA page_size=1024; CREATE TABLE t(a, b);
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)
    INSERT INTO t SELECT i, printf('Orvanne row %04d', i) FROM n;"

python3 "$here/handbuilt.py" "$out" "$new"

# Install: new files are written, existing ones are kept unless --replace.
mkdir -p "$here/samples"
for f in "$out"/* "$new"/*; do
    dest="$here/samples/${f##*/}"
    if [ ! -e "$dest" ] || [ $replace = 1 ]; then
        cp "$f" "$dest"
    elif ! cmp -s "$f" "$dest"; then
        echo "kept samples/${f##*/} (a rerun made other bytes)"
    fi
done

