// orvanne-make-icons DIR: draws the interface images (flat icons in one palette) into DIR and
// DIR/FileIcon. Run through scripts/make-icons; the PNG files are committed.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <QtMath>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {
constexpr int ICON_SIZE = 128;
constexpr int FILE_ICON_SIZE = 64;

const QColor NAVY(16, 78, 139);
const QColor BLUE(30, 144, 255);
const QColor SKY(120, 190, 255);
const QColor WHITE(255, 255, 255);
const QColor INK(36, 52, 71);
const QColor SOFT(236, 246, 255);

using DrawFunc = std::function<void(QPainter&)>;

bool SaveIcon(const QString& strPath, int nSize, const DrawFunc& draw) {
    QImage image(nSize, nSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.scale(nSize / 128.0, nSize / 128.0);
    draw(painter);
    painter.end();
    if (!image.save(strPath)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(strPath));
        return false;
    }
    return true;
}

QPen Stroke(const QColor& colour, double dWidth) {
    QPen pen(colour, dWidth);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

QFont IconFont(int nPixels, bool bBold = true) {
    QFont font("Liberation Sans");
    font.setPixelSize(nPixels);
    font.setBold(bBold);
    return font;
}

// Tile icons: white line art for the coloured kind tiles.
void DrawPhoto(QPainter& p) {
    p.setPen(Stroke(WHITE, 7));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(14, 24, 100, 80), 12, 12);
    p.setBrush(WHITE);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(86, 48), 9, 9);
    QPainterPath hills;
    hills.moveTo(22, 96);
    hills.lineTo(50, 60);
    hills.lineTo(70, 82);
    hills.lineTo(82, 70);
    hills.lineTo(106, 96);
    hills.closeSubpath();
    p.drawPath(hills);
}

void DrawMusic(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(WHITE);
    p.drawEllipse(QPointF(40, 96), 16, 13);
    p.drawEllipse(QPointF(92, 84), 16, 13);
    p.setPen(Stroke(WHITE, 8));
    p.drawLine(QPointF(54, 96), QPointF(54, 30));
    p.drawLine(QPointF(106, 84), QPointF(106, 18));
    p.setPen(Stroke(WHITE, 12));
    p.drawLine(QPointF(54, 32), QPointF(106, 20));
}

void DrawVideo(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(WHITE);
    p.drawRoundedRect(QRectF(10, 34, 78, 60), 12, 12);
    QPainterPath lens;
    lens.moveTo(94, 56);
    lens.lineTo(118, 40);
    lens.lineTo(118, 88);
    lens.lineTo(94, 72);
    lens.closeSubpath();
    p.drawPath(lens);
    p.setBrush(QColor(120, 170, 210));
    QPainterPath play;
    play.moveTo(40, 50);
    play.lineTo(62, 64);
    play.lineTo(40, 78);
    play.closeSubpath();
    p.drawPath(play);
}

// Header icons: white glyphs on the dark header strip.
void DrawCircleGlyph(QPainter& p, const QString& strGlyph) {
    p.setPen(Stroke(WHITE, 9));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(64, 64), 48, 48);
    p.setPen(WHITE);
    p.setFont(IconFont(70));
    p.drawText(QRectF(0, 4, 128, 128), Qt::AlignCenter, strGlyph);
}

void DrawSupport(QPainter& p) {
    p.setPen(Stroke(WHITE, 9));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(22, 18, 84, 84), 0, 180 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(WHITE);
    p.drawRoundedRect(QRectF(14, 56, 24, 40), 8, 8);
    p.drawRoundedRect(QRectF(90, 56, 24, 40), 8, 8);
    p.setPen(Stroke(WHITE, 7));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(50, 62, 56, 50), 270 * 16, 90 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(WHITE);
    p.drawRoundedRect(QRectF(54, 104, 26, 14), 6, 6);
}

void DrawMinimize(QPainter& p) {
    p.setPen(Stroke(WHITE, 11));
    p.drawLine(QPointF(30, 88), QPointF(98, 88));
}

void DrawClose(QPainter& p) {
    p.setPen(Stroke(WHITE, 11));
    p.drawLine(QPointF(34, 34), QPointF(94, 94));
    p.drawLine(QPointF(94, 34), QPointF(34, 94));
}

// The product mark: a circular "bring back" arrow around a dot, for the header strip.
void DrawLogo(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(WHITE);
    p.drawEllipse(QPointF(64, 64), 60, 60);
    constexpr double RADIUS = 32;
    constexpr double START_DEGREES = 100;
    constexpr double SPAN_DEGREES = 290;
    p.setPen(Stroke(BLUE, 13));
    p.setBrush(Qt::NoBrush);
    const QRectF rcArc(64 - RADIUS, 64 - RADIUS, 2 * RADIUS, 2 * RADIUS);
    p.drawArc(rcArc, int(START_DEGREES * 16), int(SPAN_DEGREES * 16));
    // The head sits where the arc ends and points along its course.
    const double dEnd = qDegreesToRadians(START_DEGREES + SPAN_DEGREES);
    const QPointF ptEnd(64 + RADIUS * std::cos(dEnd), 64 - RADIUS * std::sin(dEnd));
    const QPointF ptAlong(-std::sin(dEnd), -std::cos(dEnd));
    const QPointF ptAcross(std::cos(dEnd), -std::sin(dEnd));
    QPainterPath head;
    head.moveTo(ptEnd + ptAlong * 18);
    head.lineTo(ptEnd + ptAcross * 16 - ptAlong * 4);
    head.lineTo(ptEnd - ptAcross * 16 - ptAlong * 4);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(BLUE);
    p.drawPath(head);
    p.setBrush(NAVY);
    p.drawEllipse(QPointF(64, 64), 11, 11);
}

// Page and dialog icons: blue on light backgrounds.
void DrawDocument(QPainter& p, const QColor& colour) {
    QPainterPath page;
    page.moveTo(24, 10);
    page.lineTo(76, 10);
    page.lineTo(102, 36);
    page.lineTo(102, 118);
    page.lineTo(24, 118);
    page.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(page);
    p.setBrush(colour.lighter(150));
    QPainterPath fold;
    fold.moveTo(76, 10);
    fold.lineTo(102, 36);
    fold.lineTo(76, 36);
    fold.closeSubpath();
    p.drawPath(fold);
}

void DrawMagnifier(QPainter& p, const QPointF& ptCentre, double dRadius, const QColor& colour) {
    p.setPen(Stroke(colour, dRadius * 0.38));
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawEllipse(ptCentre, dRadius, dRadius);
    p.setPen(Stroke(colour, dRadius * 0.55));
    const double d = dRadius * 0.72;
    p.drawLine(ptCentre + QPointF(d, d), ptCentre + QPointF(d * 2.0, d * 2.0));
}

void DrawScanFiles(QPainter& p) {
    DrawDocument(p, BLUE);
    p.setPen(Stroke(WHITE, 6));
    for (int y : {50, 66, 82})
        p.drawLine(QPointF(38, y), QPointF(70, y));
    DrawMagnifier(p, QPointF(78, 78), 20, NAVY);
}

void DrawSearchFiles(QPainter& p) {
    DrawMagnifier(p, QPointF(54, 54), 34, BLUE);
}

void DrawRecoverFile(QPainter& p) {
    DrawDocument(p, BLUE);
    p.setPen(Stroke(WHITE, 9));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(40, 48, 46, 46), 90 * 16, 270 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(WHITE);
    QPainterPath head;
    head.moveTo(56, 38);
    head.lineTo(74, 50);
    head.lineTo(56, 62);
    head.closeSubpath();
    p.drawPath(head);
}

void DrawPreviewFile(QPainter& p) {
    QPainterPath eye;
    eye.moveTo(10, 64);
    eye.quadTo(64, 4, 118, 64);
    eye.quadTo(64, 124, 10, 64);
    p.setPen(Qt::NoPen);
    p.setBrush(BLUE);
    p.drawPath(eye);
    p.setBrush(WHITE);
    p.drawEllipse(QPointF(64, 64), 24, 24);
    p.setBrush(NAVY);
    p.drawEllipse(QPointF(64, 64), 12, 12);
}

void DrawQuestion(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(BLUE);
    p.drawEllipse(QPointF(64, 64), 58, 58);
    p.setPen(WHITE);
    p.setFont(IconFont(82));
    p.drawText(QRectF(0, 4, 128, 128), Qt::AlignCenter, "?");
}

// Device icons for the device tree.
void DrawPhysicalDrive(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(84, 110, 140));
    p.drawRoundedRect(QRectF(8, 30, 112, 72), 14, 14);
    p.setBrush(QColor(110, 140, 172));
    p.drawRoundedRect(QRectF(8, 30, 112, 40), 14, 14);
    p.setBrush(QColor(60, 220, 140));
    p.drawEllipse(QPointF(98, 86), 6, 6);
    p.setPen(Stroke(QColor(200, 215, 230), 5));
    for (int x : {24, 36, 48})
        p.drawLine(QPointF(x, 80), QPointF(x, 92));
}

void DrawDrive(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(190, 205, 222));
    p.drawRoundedRect(QRectF(12, 38, 104, 56), 10, 10);
    p.setBrush(BLUE);
    p.drawRoundedRect(QRectF(12, 38, 52, 56), 10, 10);
    p.drawRect(QRectF(40, 38, 24, 56));
    p.setBrush(WHITE);
    p.drawEllipse(QPointF(96, 66), 6, 6);
}

struct FILE_ICON_STYLE {
    const char* pName;
    const char* pLabel;
    QColor colour;
};

const QColor PHOTO(124, 92, 214);
const QColor AUDIO(242, 133, 62);
const QColor OFFICE(40, 120, 220);
const QColor VIDEO(226, 72, 86);
const QColor ARCHIVE(176, 128, 52);
const QColor OTHER(128, 140, 156);

const FILE_ICON_STYLE FILE_ICONS[] = {
    {"7z", "7Z", ARCHIVE},
    {"accdb", "ACCDB", OFFICE},
    {"ace", "ACE", ARCHIVE},
    {"acid", "ACID", AUDIO},
    {"aiff", "AIFF", AUDIO},
    {"asf", "ASF", VIDEO},
    {"at3", "AT3", AUDIO},
    {"au", "AU", AUDIO},
    {"avi", "AVI", VIDEO},
    {"bmp", "BMP", PHOTO},
    {"cab", "CAB", ARCHIVE},
    {"chm", "CHM", OFFICE},
    {"divx", "DIVX", VIDEO},
    {"doc", "DOC", OFFICE},
    {"dss", "DSS", AUDIO},
    {"dv", "DV", VIDEO},
    {"epson", "RAW", PHOTO},
    {"exe", "EXE", ARCHIVE},
    {"gif", "GIF", PHOTO},
    {"gzip", "GZ", ARCHIVE},
    {"html", "HTML", OFFICE},
    {"ico", "ICO", PHOTO},
    {"indd", "INDD", PHOTO},
    {"jar", "JAR", ARCHIVE},
    {"jpg", "JPG", PHOTO},
    {"mamiya", "RAW", PHOTO},
    {"mid", "MIDI", AUDIO},
    {"minolta", "RAW", PHOTO},
    {"mov", "MOV", VIDEO},
    {"mp3", "MP3", AUDIO},
    {"mp4", "MP4", VIDEO},
    {"mpeg", "MPEG", VIDEO},
    {"music", "MUSIC", AUDIO},
    {"ods", "ODS", OFFICE},
    {"ogg", "OGG", AUDIO},
    {"one", "ONE", OFFICE},
    {"other", "?", OTHER},
    {"pdf", "PDF", OFFICE},
    {"png", "PNG", PHOTO},
    {"ppt", "PPT", OFFICE},
    {"psd", "PSD", PHOTO},
    {"psp", "PSP", PHOTO},
    {"rar", "RAR", ARCHIVE},
    {"real", "RM", AUDIO},
    {"rmvb", "RMVB", VIDEO},
    {"rps", "RPS", AUDIO},
    {"thm", "THM", PHOTO},
    {"tif", "TIF", PHOTO},
    {"tod", "TOD", VIDEO},
    {"txt", "TXT", OFFICE},
    {"vob", "VOB", VIDEO},
    {"wma", "WMA", AUDIO},
    {"wmv", "WMV", VIDEO},
    {"wps", "WPS", OFFICE},
    {"xls", "XLS", OFFICE},
    {"xml", "XML", OFFICE},
    {"zip", "ZIP", ARCHIVE},
    {"audio_default", "AUDIO", AUDIO},
    {"default", "FILE", OTHER},
    {"image", "IMG", PHOTO},
    {"office_default", "DOC", OFFICE},
    {"photo_default", "PHOTO", PHOTO},
    {"video_default", "VIDEO", VIDEO},
};

// A white page with a folded corner and a coloured band carrying the type's label.
void DrawFileIcon(QPainter& p, const FILE_ICON_STYLE& style) {
    QPainterPath page;
    page.moveTo(22, 6);
    page.lineTo(80, 6);
    page.lineTo(108, 34);
    page.lineTo(108, 122);
    page.lineTo(22, 122);
    page.closeSubpath();
    p.setPen(Stroke(QColor(196, 206, 220), 4));
    p.setBrush(WHITE);
    p.drawPath(page);
    p.setPen(Qt::NoPen);
    p.setBrush(style.colour.lighter(160));
    QPainterPath fold;
    fold.moveTo(80, 6);
    fold.lineTo(108, 34);
    fold.lineTo(80, 34);
    fold.closeSubpath();
    p.drawPath(fold);
    p.setBrush(style.colour);
    p.drawRoundedRect(QRectF(8, 62, 108, 44), 8, 8);
    const int nLength = static_cast<int>(qstrlen(style.pLabel));
    p.setPen(WHITE);
    p.setFont(IconFont(nLength <= 3 ? 34 : nLength == 4 ? 28 : 23));
    p.drawText(QRectF(8, 62, 108, 44), Qt::AlignCenter, style.pLabel);
}
} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvanne-make-icons DIR\n");
        return 2;
    }
    const QString strDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(strDir + "/FileIcon");
    const std::pair<const char*, DrawFunc> icons[] = {
        {"photo", DrawPhoto},
        {"music", DrawMusic},
        {"video", DrawVideo},
        {"help", [](QPainter& p) { DrawCircleGlyph(p, "?"); }},
        {"about", [](QPainter& p) { DrawCircleGlyph(p, "i"); }},
        {"support", DrawSupport},
        {"minimize", DrawMinimize},
        {"close", DrawClose},
        {"logo", DrawLogo},
        {"scan_files", DrawScanFiles},
        {"search_files", DrawSearchFiles},
        {"recover_file", DrawRecoverFile},
        {"preview_file", DrawPreviewFile},
        {"question", DrawQuestion},
        {"physical_drive", DrawPhysicalDrive},
        {"drive", DrawDrive},
    };
    bool bOk = true;
    for (const auto& [pName, draw] : icons)
        bOk = SaveIcon(QString("%1/%2.png").arg(strDir, pName), ICON_SIZE, draw) && bOk;
    for (const FILE_ICON_STYLE& style : FILE_ICONS)
        bOk = SaveIcon(QString("%1/FileIcon/%2.png").arg(strDir, style.pName), FILE_ICON_SIZE,
                       [&style](QPainter& p) { DrawFileIcon(p, style); }) &&
              bOk;
    return bOk ? 0 : 1;
}
