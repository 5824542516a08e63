// Document formats: PDF, RTF, compound documents, Outlook stores, and the kind of a ZIP
// package.
#include "formats/carving/CDocumentFormats.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr EXTEND_NAME_TYPE NONE = FILE_TYPE_NONE;
constexpr uint64_t MIB = 1024 * 1024;
constexpr uint64_t GIB = 1024 * MIB;

// ---- PDF

constexpr char szPdfEof[] = "%%EOF";
constexpr uint64_t PDF_EOF_BYTES = 5;
constexpr uint64_t PDF_LIMIT = 1 * GIB;
// Searched at a time for %%EOF; also how far past the next file's start a PDF is followed.
constexpr uint64_t PDF_WINDOW = 16 * MIB;
constexpr uint64_t PDF_TRAILER_REACH = 64; // startxref, its offset and %%EOF lie this close
constexpr size_t PDF_NUMBER_DIGITS = 20;
constexpr size_t PDF_UPDATE_LOOK = 512;

bool IsPdfSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// Skips spaces and reads a decimal number at *pPos of the view.
std::optional<uint64_t> ReadNumber(CByteView view, size_t* pPos) {
    size_t pos = *pPos;
    while (pos < view.Size() && IsPdfSpace(view.Data()[pos]))
        ++pos;
    const size_t nStart = pos;
    uint64_t u64Value = 0;
    while (pos < view.Size() && std::isdigit(view.Data()[pos]) && pos - nStart < PDF_NUMBER_DIGITS)
        u64Value = u64Value * 10 + (view.Data()[pos++] - '0');
    if (pos == nStart)
        return std::nullopt;
    *pPos = pos;
    return u64Value;
}

// "N G obj" at u64Pos: an indirect object (a cross-reference stream is one).
bool IsObjectHeader(CCarvedFile& file, uint64_t u64Pos) {
    CByteView view = file.View(u64Pos, 48);
    size_t pos = 0;
    if (view.Size() == 0 || !std::isdigit(view.Data()[0]) || !ReadNumber(view, &pos) ||
        !ReadNumber(view, &pos))
        return false;
    while (pos < view.Size() && IsPdfSpace(view.Data()[pos]))
        ++pos;
    return view.Matches(pos, "obj", 3);
}

// The %%EOF at u64Eof closes a cross-reference section of this file: the startxref before it
// names an offset where this file's xref table or stream lies.
bool ClosesThisFile(CCarvedFile& file, uint64_t u64Eof) {
    const uint64_t u64From = u64Eof > PDF_TRAILER_REACH ? u64Eof - PDF_TRAILER_REACH : 0;
    CByteView tail = file.View(u64From, size_t(u64Eof - u64From));
    if (tail.Size() < u64Eof - u64From)
        return false;
    CByteView before(tail.Data(), size_t(u64Eof - u64From));
    std::optional<size_t> at;
    for (auto hit = before.Find("startxref", 9); hit; hit = before.Find("startxref", 9, *hit + 1))
        at = hit;
    if (!at)
        return false;
    size_t pos = *at + 9;
    auto offset = ReadNumber(before, &pos);
    if (!offset || *offset >= u64Eof)
        return false;
    return file.MatchesText(*offset, "xref") || IsObjectHeader(file, *offset);
}

// The end of the line end after a %%EOF at u64Eof.
uint64_t PastLineEnd(CCarvedFile& file, uint64_t u64Eof) {
    uint64_t pos = u64Eof + PDF_EOF_BYTES;
    if (file.U8(pos) == '\r')
        ++pos;
    if (file.U8(pos) == '\n')
        ++pos;
    return pos;
}

// Another incremental update follows at u64Pos: objects, an xref table or a trailer, perhaps
// behind comment lines.
bool UpdateFollows(CCarvedFile& file, uint64_t u64Pos) {
    CByteView view = file.View(u64Pos, PDF_UPDATE_LOOK);
    size_t pos = 0;
    while (pos < view.Size()) {
        if (IsPdfSpace(view.Data()[pos])) {
            ++pos;
        } else if (view.Data()[pos] == '%' && !view.Matches(pos, szPdfEof, PDF_EOF_BYTES) &&
                   !view.Matches(pos, "%PDF-", 5)) {
            while (pos < view.Size() && view.Data()[pos] != '\n' && view.Data()[pos] != '\r')
                ++pos;
        } else {
            break;
        }
    }
    if (pos == view.Size())
        return false;
    return view.Matches(pos, "xref", 4) || view.Matches(pos, "trailer", 7) ||
           view.Matches(pos, "startxref", 9) || IsObjectHeader(file, u64Pos + pos);
}

// ---- RTF

constexpr uint64_t RTF_LIMIT = 1 * GIB;
constexpr size_t RTF_MAX_WORD = 32;
constexpr uint64_t RTF_MIN_BYTES = 64;
constexpr size_t RTF_MAX_BINARY_DIGITS = 10;

// ---- compound documents

constexpr uint8_t szOleHead[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t OLE_MAJOR_VERSION = 26;
constexpr size_t OLE_BYTE_ORDER = 28;
constexpr size_t OLE_SECTOR_SHIFT = 30;
constexpr size_t OLE_MINI_SHIFT = 32;
constexpr size_t OLE_FAT_SECTORS = 44;
constexpr size_t OLE_DIRECTORY_START = 48;
constexpr size_t OLE_DIFAT_START = 68;
constexpr size_t OLE_DIFAT_SECTORS = 72;
constexpr size_t OLE_HEADER_DIFAT = 76;
constexpr uint32_t OLE_HEADER_DIFAT_ENTRIES = 109;
constexpr uint16_t OLE_LITTLE_ENDIAN = 0xFFFE;
constexpr uint32_t OLE_FREE_SECTOR = 0xFFFFFFFF;
constexpr uint32_t OLE_LAST_REGULAR_SECTOR = 0xFFFFFFFA;
constexpr uint32_t OLE_MAX_FAT_SECTORS = 1 << 20;
constexpr size_t OLE_ROOT_CLSID = 80;
constexpr size_t OLE_DIR_ENTRY_BYTES = 128;
constexpr int OLE_MAX_DIRECTORY_SECTORS = 64;
constexpr uint32_t CLSID_WORD[] = {0x00020906, 0x00000000, 0x000000C0, 0x46000000};
constexpr uint32_t CLSID_EXCEL5[] = {0x00020810, 0x00000000, 0x000000C0, 0x46000000};
constexpr uint32_t CLSID_EXCEL8[] = {0x00020820, 0x00000000, 0x000000C0, 0x46000000};
constexpr uint32_t CLSID_POWERPOINT[] = {0x64818D10, 0x11CF4F9B, 0xAA00EA86, 0xE829B900};

bool MatchesClsid(CByteView entry, const uint32_t (&expected)[4]) {
    for (size_t i = 0; i < 4; ++i) {
        if (entry.U32LE(OLE_ROOT_CLSID + 4 * i) != expected[i])
            return false;
    }
    return true;
}

// The directory entry's UTF-16LE name begins with the wanted ASCII name, case ignored.
bool OleEntryNameIs(CByteView entry, const char* pWanted) {
    const size_t nChars = std::strlen(pWanted);
    for (size_t i = 0; i < nChars; ++i) {
        auto u16Char = entry.U16LE(2 * i);
        if (!u16Char || *u16Char > 0x7F || std::tolower(*u16Char) != std::tolower(pWanted[i]))
            return false;
    }
    return true;
}

EXTEND_NAME_TYPE OleEntryType(CByteView entry, bool bRoot) {
    if (bRoot) {
        if (MatchesClsid(entry, CLSID_WORD))
            return FILE_TYPE_DOC;
        if (MatchesClsid(entry, CLSID_EXCEL5) || MatchesClsid(entry, CLSID_EXCEL8))
            return FILE_TYPE_XLS;
        if (MatchesClsid(entry, CLSID_POWERPOINT))
            return FILE_TYPE_PPT;
    }
    if (OleEntryNameIs(entry, "WordDocument"))
        return FILE_TYPE_DOC;
    if (OleEntryNameIs(entry, "Workbook") || OleEntryNameIs(entry, "Book"))
        return FILE_TYPE_XLS;
    if (OleEntryNameIs(entry, "PowerPoint Document"))
        return FILE_TYPE_PPT;
    return NONE;
}

// A compound document's geometry and FAT, read through the file.
class CCompoundFile {
public:
    explicit CCompoundFile(CCarvedFile& file) : m_file(file) {}

    bool ReadHeader() {
        CByteView header = m_file.View(0, 512);
        if (!header.Has(0, 512) || !header.Matches(0, szOleHead, sizeof(szOleHead)) ||
            LoadU16LE(header.Data() + OLE_BYTE_ORDER) != OLE_LITTLE_ENDIAN ||
            LoadU16LE(header.Data() + OLE_MINI_SHIFT) != 6)
            return false;
        const uint16_t u16Shift = LoadU16LE(header.Data() + OLE_SECTOR_SHIFT);
        const uint16_t u16Major = LoadU16LE(header.Data() + OLE_MAJOR_VERSION);
        if (!((u16Shift == 9 && u16Major == 3) || (u16Shift == 12 && u16Major == 4)))
            return false;
        m_u64Sector = uint64_t(1) << u16Shift;
        m_u32FatSectors = LoadU32LE(header.Data() + OLE_FAT_SECTORS);
        m_u32Directory = LoadU32LE(header.Data() + OLE_DIRECTORY_START);
        const uint32_t u32DifatSectors = LoadU32LE(header.Data() + OLE_DIFAT_SECTORS);
        if (m_u32FatSectors == 0 || m_u32FatSectors > OLE_MAX_FAT_SECTORS ||
            (u32DifatSectors == 0) != (m_u32FatSectors <= OLE_HEADER_DIFAT_ENTRIES))
            return false;
        for (uint32_t i = 0; i < std::min(m_u32FatSectors, OLE_HEADER_DIFAT_ENTRIES); ++i)
            m_fatSectors.push_back(LoadU32LE(header.Data() + OLE_HEADER_DIFAT + 4 * i));
        uint32_t u32Difat = LoadU32LE(header.Data() + OLE_DIFAT_START);
        const uint64_t u64PerDifat = m_u64Sector / 4 - 1;
        for (uint32_t d = 0; d < u32DifatSectors && m_fatSectors.size() < m_u32FatSectors; ++d) {
            if (u32Difat > OLE_LAST_REGULAR_SECTOR)
                return false;
            for (uint64_t i = 0; i < u64PerDifat && m_fatSectors.size() < m_u32FatSectors; ++i) {
                auto entry = m_file.U32LE(SectorOffset(u32Difat) + 4 * i);
                if (!entry)
                    return false;
                m_fatSectors.push_back(*entry);
            }
            auto next = m_file.U32LE(SectorOffset(u32Difat) + 4 * u64PerDifat);
            if (!next)
                return false;
            u32Difat = *next;
        }
        return m_fatSectors.size() == m_u32FatSectors;
    }

    // The header block and the sectors up to the highest one the FAT does not mark free.
    std::optional<uint64_t> Size() {
        const uint64_t u64PerFat = m_u64Sector / 4;
        std::optional<uint64_t> highest;
        for (size_t s = 0; s < m_fatSectors.size(); ++s) {
            if (m_fatSectors[s] > OLE_LAST_REGULAR_SECTOR)
                return std::nullopt;
            CByteView fat = m_file.View(SectorOffset(m_fatSectors[s]), m_u64Sector);
            if (fat.Size() < m_u64Sector)
                return std::nullopt;
            for (uint64_t i = u64PerFat; i > 0; --i) {
                if (LoadU32LE(fat.Data() + 4 * (i - 1)) != OLE_FREE_SECTOR) {
                    highest = s * u64PerFat + i - 1;
                    break;
                }
            }
        }
        if (!highest)
            return std::nullopt;
        return (*highest + 2) * m_u64Sector;
    }

    // Word, Excel or PowerPoint from the directory's root class or stream names; ole else.
    EXTEND_NAME_TYPE Kind() {
        uint32_t u32Sector = m_u32Directory;
        for (int n = 0; n < OLE_MAX_DIRECTORY_SECTORS && u32Sector <= OLE_LAST_REGULAR_SECTOR;
             ++n) {
            CByteView directory = m_file.View(SectorOffset(u32Sector), m_u64Sector);
            for (size_t off = 0; directory.Has(off, OLE_DIR_ENTRY_BYTES);
                 off += OLE_DIR_ENTRY_BYTES) {
                const EXTEND_NAME_TYPE nType =
                    OleEntryType(*directory.Slice(off, OLE_DIR_ENTRY_BYTES), n == 0 && off == 0);
                if (nType != NONE)
                    return nType;
            }
            auto next = FatEntry(u32Sector);
            if (!next)
                break;
            u32Sector = *next;
        }
        return FILE_TYPE_OLE;
    }

    uint64_t SectorBytes() const { return m_u64Sector; }

private:
    uint64_t SectorOffset(uint32_t u32Sector) const {
        return (uint64_t(u32Sector) + 1) * m_u64Sector;
    }

    std::optional<uint32_t> FatEntry(uint32_t u32Sector) {
        const uint64_t u64PerFat = m_u64Sector / 4;
        const uint64_t u64Fat = u32Sector / u64PerFat;
        if (u64Fat >= m_fatSectors.size())
            return std::nullopt;
        return m_file.U32LE(SectorOffset(m_fatSectors[u64Fat]) + 4 * (u32Sector % u64PerFat));
    }

    CCarvedFile& m_file;
    uint64_t m_u64Sector = 512;
    uint32_t m_u32FatSectors = 0;
    uint32_t m_u32Directory = 0;
    std::vector<uint32_t> m_fatSectors;
};

// ---- Outlook

constexpr size_t PST_VERSION = 10;
constexpr uint16_t PST_UNICODE_VERSION = 23;
constexpr size_t PST_UNICODE_EOF = 0xB8;
constexpr size_t PST_ANSI_EOF = 0xA8;
constexpr uint64_t PST_MIN_BYTES = 4096;
constexpr uint64_t MAIL_LIMIT = 64 * GIB;
constexpr uint64_t MAIL_END_CHECK_LIMIT = 2 * GIB;
constexpr uint8_t szDbxHead[] = {0xCF, 0xAD, 0x12, 0xFE};

// ---- ZIP packages

constexpr size_t ZIP_LOCAL_HEADER = 30;
constexpr size_t ZIP_CENTRAL_HEADER = 46;
constexpr uint64_t ZIP_MAX_SCANNED_ENTRIES = 100000;
constexpr char szOdfMime[] = "application/vnd.oasis.opendocument.";
constexpr char szEpubMime[] = "application/epub+zip";

EXTEND_NAME_TYPE MimetypeKind(const std::string& strMime) {
    static const std::pair<const char*, EXTEND_NAME_TYPE> ODF[] = {{"text", FILE_TYPE_ODT},
                                                                   {"spreadsheet", FILE_TYPE_ODS},
                                                                   {"presentation", FILE_TYPE_ODP},
                                                                   {"graphics", FILE_TYPE_ODG}};
    if (strMime == szEpubMime)
        return FILE_TYPE_EPUB;
    if (strMime.rfind(szOdfMime, 0) != 0)
        return NONE;
    const std::string strKind = strMime.substr(std::strlen(szOdfMime));
    for (const auto& [pKind, nType] : ODF) {
        if (strKind.rfind(pKind, 0) == 0)
            return nType;
    }
    return NONE;
}

EXTEND_NAME_TYPE PartNameKind(const std::string& strName) {
    if (strName.rfind("word/", 0) == 0)
        return FILE_TYPE_DOCX;
    if (strName.rfind("xl/", 0) == 0)
        return FILE_TYPE_XLSX;
    if (strName.rfind("ppt/", 0) == 0)
        return FILE_TYPE_PPTX;
    if (strName == "FixedDocSeq.fdseq" || strName == "FixedDocumentSequence.fdseq")
        return FILE_TYPE_XPS;
    return NONE;
}

} // namespace

// ---- PDF

EXTEND_NAME_TYPE CDocumentFormats::IsPdfType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    return HeadMatchesText(head, 0, "%PDF-") && head.Has(0, 8) &&
                   (pBuf[5] == '1' || pBuf[5] == '2') && pBuf[6] == '.' && std::isdigit(pBuf[7])
               ? FILE_TYPE_PDF
               : NONE;
}

CARVED_SIZE CDocumentFormats::GetPDFFileBytesSize(CCarvedFile& file) {
    // The end check is looked at only when the structure does not settle the end: a PDF may
    // hold a picture that happens to start on a sector boundary.
    std::optional<uint64_t> reach;
    auto endCheck = [&]() {
        if (!reach)
            reach = file.NextFileStart(file.SectorBytes(), PDF_LIMIT, true);
        return *reach;
    };
    std::optional<uint64_t> lastEof;
    bool bUpdateFollows = false; // a closed section was followed by another update
    uint64_t pos = 0;
    while (pos < PDF_LIMIT) {
        const uint64_t u64WindowEnd = std::min(PDF_LIMIT, pos + PDF_WINDOW);
        auto eof = file.Find(szPdfEof, PDF_EOF_BYTES, pos, u64WindowEnd);
        if (!eof) {
            // Well past the next file's start, a PDF that no update is known to continue is
            // over: one that broke off, not one holding a picture on a sector boundary.
            pos = u64WindowEnd;
            if (file.DataEnded() || (!bUpdateFollows && pos > endCheck() + PDF_WINDOW))
                break;
            continue;
        }
        // Past the next file's start, only a PDF known to go on is searched further.
        if (lastEof && !bUpdateFollows && *eof >= endCheck())
            break;
        lastEof = *eof;
        pos = *eof + PDF_EOF_BYTES;
        if (ClosesThisFile(file, *eof)) {
            const uint64_t u64End = PastLineEnd(file, *eof);
            bUpdateFollows = UpdateFollows(file, u64End);
            if (!bUpdateFollows)
                return WalkedSize(u64End);
        }
    }
    // No closing cross-reference section: the last %%EOF within reach, else the end check.
    if (lastEof && *lastEof < endCheck())
        return WalkedSize(PastLineEnd(file, *lastEof));
    return WalkedSize(endCheck());
}

// ---- RTF

EXTEND_NAME_TYPE CDocumentFormats::IsRtfType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    return HeadMatchesText(head, 0, "{\\rtf") && head.Has(0, 6) && std::isdigit(pBuf[5])
               ? FILE_TYPE_RTF
               : NONE;
}

CARVED_SIZE CDocumentFormats::GetRTFFileBytesSize(CCarvedFile& file) {
    uint64_t pos = 0;
    uint64_t u64Depth = 0;
    while (pos < RTF_LIMIT) {
        CByteView view = file.View(pos, 1);
        if (view.Size() == 0)
            break;
        size_t i = 0;
        std::optional<uint64_t> binaryEnd;
        while (i < view.Size() && !binaryEnd) {
            const uint8_t c = view.Data()[i];
            if (c == '{') {
                ++u64Depth;
            } else if (c == '}') {
                if (u64Depth == 0 || --u64Depth == 0) {
                    uint64_t u64End = pos + i + 1;
                    if (file.U8(u64End) == '\r')
                        ++u64End;
                    if (file.U8(u64End) == '\n')
                        ++u64End;
                    return WalkedSize(u64End);
                }
            } else if (c == '\\') {
                // A control word may straddle views: it is read again from the backslash.
                CByteView word = file.View(pos + i, RTF_MAX_WORD);
                size_t n = 1;
                while (n < word.Size() && std::isalpha(word.Data()[n]))
                    ++n;
                size_t nDigits = n;
                uint64_t u64Binary = 0;
                while (nDigits < word.Size() && std::isdigit(word.Data()[nDigits]))
                    u64Binary = u64Binary * 10 + (word.Data()[nDigits++] - '0');
                if (n == 4 && word.Matches(1, "bin", 3) && nDigits > n) {
                    const size_t nSpace = word.Matches(nDigits, " ", 1) ? 1 : 0;
                    uint64_t u64End = pos + i + nDigits + nSpace;
                    if (nDigits - n > RTF_MAX_BINARY_DIGITS ||
                        !StepWithin(u64End, u64Binary, RTF_LIMIT))
                        return WalkedSize(pos + i);
                    binaryEnd = u64End;
                    break;
                }
                i += n == 1 ? 2 : n; // an escaped symbol, or the word's letters
                continue;
            } else if (c == 0) {
                // Not text (writers let form feeds and the like through, never NUL): the
                // document broke off before its last brace.
                return pos + i > RTF_MIN_BYTES ? WalkedSize(pos + i) : Refused();
            }
            ++i;
        }
        pos = binaryEnd ? *binaryEnd : pos + i;
    }
    return WalkedSize(pos);
}

// ---- compound documents

EXTEND_NAME_TYPE CDocumentFormats::IsOffice2003Type(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    return head.Matches(0, szOleHead, sizeof(szOleHead)) &&
                   head.U16LE(OLE_BYTE_ORDER) == OLE_LITTLE_ENDIAN
               ? FILE_TYPE_OLE
               : NONE;
}

EXTEND_NAME_TYPE CDocumentFormats::IsFlaType(const unsigned char* pBuf, int nLength) {
    return IsOffice2003Type(pBuf, nLength) != NONE ? FILE_TYPE_FLA : NONE;
}

CARVED_SIZE CDocumentFormats::GetOFFICE2003FileBytesSize(CCarvedFile& file) {
    CCompoundFile compound(file);
    if (!compound.ReadHeader())
        return Refused();
    auto size = compound.Size();
    if (!size)
        return Refused();
    return ClaimedSize(*size, compound.SectorBytes(), compound.Kind());
}

// ---- Outlook

EXTEND_NAME_TYPE CDocumentFormats::IsPstEmailType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    return head.Has(0, 16) && HeadMatchesText(head, 0, "!BDN") && HeadMatchesText(head, 8, "SM")
               ? FILE_TYPE_PST
               : NONE;
}

CARVED_SIZE CDocumentFormats::GetPSTFileBytesSize(CCarvedFile& file) {
    auto version = file.U16LE(PST_VERSION);
    if (!version)
        return Refused();
    auto eof = *version >= PST_UNICODE_VERSION
                   ? file.U64LE(PST_UNICODE_EOF)
                   : std::optional<uint64_t>(file.U32LE(PST_ANSI_EOF).value_or(0));
    if (eof && *eof >= PST_MIN_BYTES && *eof <= MAIL_LIMIT)
        return ClaimedSize(*eof, file.SectorBytes());
    return WalkedSize(file.NextFileStart(file.SectorBytes(), MAIL_END_CHECK_LIMIT));
}

EXTEND_NAME_TYPE CDocumentFormats::IsDbxEmailType(const unsigned char* pBuf, int nLength) {
    CByteView head = HeadView(pBuf, nLength);
    return head.Has(0, 16) && head.Matches(0, szDbxHead, sizeof(szDbxHead)) ? FILE_TYPE_DBX : NONE;
}

CARVED_SIZE CDocumentFormats::GetDBXFileBytesSize(CCarvedFile& file) {
    return WalkedSize(file.NextFileStart(file.SectorBytes(), MAIL_END_CHECK_LIMIT));
}

// ---- ZIP packages

EXTEND_NAME_TYPE CDocumentFormats::ZipPackageType(CCarvedFile& file, uint64_t u64CentralDirectory,
                                                  uint64_t u64Entries) {
    // OpenDocument and EPUB: a first entry "mimetype", stored, holding the media type.
    CByteView local = file.View(0, ZIP_LOCAL_HEADER + 8);
    if (local.Has(0, ZIP_LOCAL_HEADER + 8) && local.Matches(ZIP_LOCAL_HEADER, "mimetype", 8) &&
        LoadU16LE(local.Data() + 26) == 8 && LoadU16LE(local.Data() + 8) == 0) {
        const uint32_t u32Bytes = std::min<uint32_t>(LoadU32LE(local.Data() + 18), 128);
        CByteView mime = file.View(ZIP_LOCAL_HEADER + 8 + LoadU16LE(local.Data() + 28), u32Bytes);
        if (mime.Size() >= u32Bytes) {
            const EXTEND_NAME_TYPE nType =
                MimetypeKind(std::string(reinterpret_cast<const char*>(mime.Data()), u32Bytes));
            if (nType != NONE)
                return nType;
        }
    }
    uint64_t pos = u64CentralDirectory;
    for (uint64_t i = 0; i < std::min(u64Entries, ZIP_MAX_SCANNED_ENTRIES); ++i) {
        CByteView entry = file.View(pos, ZIP_CENTRAL_HEADER);
        if (!entry.Has(0, ZIP_CENTRAL_HEADER) || !entry.Matches(0, "PK\x01\x02", 4))
            break;
        const uint16_t u16Name = LoadU16LE(entry.Data() + 28);
        CByteView name = file.View(pos + ZIP_CENTRAL_HEADER, u16Name);
        const EXTEND_NAME_TYPE nType = PartNameKind(std::string(
            reinterpret_cast<const char*>(name.Data()), std::min<size_t>(name.Size(), u16Name)));
        if (nType != NONE)
            return nType;
        pos += ZIP_CENTRAL_HEADER + u16Name + LoadU16LE(entry.Data() + 30) +
               LoadU16LE(entry.Data() + 32);
    }
    return FILE_TYPE_ZIP;
}
