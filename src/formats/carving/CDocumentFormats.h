// Documents: each format's detector (its first sector) beside its size finder (its structure).
// OOXML, OpenDocument, EPUB and XPS are ZIP packages: CArchiveFormats sizes them and asks
// ZipPackageType which they are.
#pragma once

#include "formats/carving/CCarvedFile.h"

class CDocumentFormats {
public:
    static EXTEND_NAME_TYPE IsPdfType(const unsigned char* pBuf, int nLength);
    // The last %%EOF (with its line end) whose startxref points at this file's cross-reference
    // data and behind which no incremental update follows.
    static CARVED_SIZE GetPDFFileBytesSize(CCarvedFile& file);

    static EXTEND_NAME_TYPE IsRtfType(const unsigned char* pBuf, int nLength);
    // From "{\rtf" to the brace that balances the first one (escapes and \bin data skipped).
    static CARVED_SIZE GetRTFFileBytesSize(CCarvedFile& file);

    // Compound documents (Word, Excel, PowerPoint 97-2003 and other OLE files).
    static EXTEND_NAME_TYPE IsOffice2003Type(const unsigned char* pBuf, int nLength);
    static EXTEND_NAME_TYPE IsFlaType(const unsigned char* pBuf, int nLength);
    // The header block and every sector up to the highest one the FAT uses; the kind from the
    // directory's stream names and root class.
    static CARVED_SIZE GetOFFICE2003FileBytesSize(CCarvedFile& file);

    // Outlook personal folders: the file size its header states, else the end check.
    static EXTEND_NAME_TYPE IsPstEmailType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetPSTFileBytesSize(CCarvedFile& file);
    // Outlook Express folders: no structure states the end; the end check.
    static EXTEND_NAME_TYPE IsDbxEmailType(const unsigned char* pBuf, int nLength);
    static CARVED_SIZE GetDBXFileBytesSize(CCarvedFile& file);

    // Which document a ZIP package is, from its "mimetype" entry and its central directory's
    // names: docx, xlsx, pptx, odt, ods, odp, odg, epub, xps; else zip.
    static EXTEND_NAME_TYPE ZipPackageType(CCarvedFile& file, uint64_t u64CentralDirectory,
                                           uint64_t u64Entries);
};
