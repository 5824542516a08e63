// Main window, preview: the chosen file read by the engine on the worker, then shown as a
// picture, or as a hex and text view of its first bytes.
#include "ui/CMyThread.h"
#include "ui/CResultFolderModel.h"
#include "ui/CResultTableModel.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"
#include "ui/UiMetaTypes.h"
#include "ui/UiStyle.h"

#include <QFontDatabase>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTableView>
#include <QTreeView>

namespace {
constexpr int PREVIEW_BUFFER_BYTES = 10240;
constexpr int HEX_LINE_BYTES = 16;
constexpr int PREVIEW_MIN_WIDTH = 300;
constexpr int PREVIEW_MIN_HEIGHT = 110;
constexpr int PICTURE_MARGIN = 8;
const char* const NO_PREVIEW_TEXT = "No preview for this type";
const char* const UNREADABLE_TEXT = "This file could not be read for a preview.";
const char* const PREVIEW_STYLE =
    "background-color: rgb(244, 247, 251); border: 1px solid rgb(205, 215, 230); color: rgb(60, "
    "60, 60);";

char PrintableOrDot(unsigned char nByte) {
    return nByte >= 0x20 && nByte < 0x7f ? static_cast<char>(nByte) : '.';
}
} // namespace

QWidget* DRUI::CreatePreviewArea(QWidget* pParent) {
    m_pPreviewStack = new QStackedWidget(pParent);
    m_pPreviewStack->setMinimumSize(PREVIEW_MIN_WIDTH, PREVIEW_MIN_HEIGHT);
    m_pPreviewLabel = new QLabel(m_pPreviewStack);
    m_pPreviewLabel->setObjectName("previewLabel");
    m_pPreviewLabel->setStyleSheet(PREVIEW_STYLE);
    m_pPreviewLabel->setAlignment(Qt::AlignCenter);
    m_pPreviewLabel->setFont(UiFont(11));
    // A picture is scaled to the area; it must never make the window grow.
    m_pPreviewLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_pPreviewText = new QPlainTextEdit(m_pPreviewStack);
    m_pPreviewText->setObjectName("previewText");
    m_pPreviewText->setReadOnly(true);
    m_pPreviewText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pPreviewText->setStyleSheet(PREVIEW_STYLE);
    m_pPreviewText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_pPreviewStack->addWidget(m_pPreviewLabel);
    m_pPreviewStack->addWidget(m_pPreviewText);
    return m_pPreviewStack;
}

void DRUI::tableItemClick(const QModelIndex& index) {
    if (!index.isValid() || m_pResultModel == nullptr)
        return;
    {
        // The previewed row is the highlighted one, whoever asked for the preview.
        const QSignalBlocker blocker(m_pResultTable->selectionModel());
        m_pResultTable->selectRow(index.row());
        m_pResultTable->viewport()->update();
    }
    PreviewRow(m_pResultModel->RowAt(index.row()));
}

void DRUI::folderItemClick(const QModelIndex& index) {
    const long long llRow = m_pFolderModel == nullptr ? -1 : m_pFolderModel->RowOf(index);
    if (llRow >= 0)
        PreviewRow(static_cast<uint32_t>(llRow));
}

void DRUI::PreviewRow(uint32_t nRow) {
    m_previewNode = FILE_NODE{};
    if (m_pResultModel->ReadNode(nRow, m_previewNode) != 0) {
        ShowPreviewMessage(UNREADABLE_TEXT);
        return;
    }
    m_strPreviewFileName = QString::fromUtf8(m_previewNode.szFileName);
    RunOperation(OPR_TYPE_PREVIEW, &DRUI::_PreviewProcess);
    ShowPreview();
}

void DRUI::_PreviewProcess(void* pParam, int&) {
    auto* pThis = static_cast<DRUI*>(pParam);
    pThis->m_bPreviewStop = false;
    pThis->m_bPreviewEnd = false;
    pThis->PreviewProcess();
    pThis->m_bPreviewEnd = true;
}

void DRUI::PreviewProcess() {
    m_vecPreviewBuf.assign(PREVIEW_BUFFER_BYTES, 0);
    m_strPreviewPath.assign(PREVIEW_PATH_CAPACITY, u'\0');
    m_nPreviewLength = PREVIEW_BUFFER_BYTES;
    m_nPreviewResult = ERROR_INVALID_PARAMETER;
    if (m_pEngine != nullptr)
        m_nPreviewResult =
            m_pEngine->PreView(&m_previewNode, m_strPreviewPath.data(), m_vecPreviewBuf.data(),
                               m_nPreviewLength, &DRUI::PreViewCallBack, this);
    else
        m_nPreviewLength = 0;
    // The dialog closes on a report of 100 %; an engine that returned without one still ends it.
    PreViewCallBack(this, 100, m_nPreviewResult);
}

void DRUI::ClearPreview() {
    m_pPreviewText->clear();
    m_pPreviewLabel->clear();
    m_pPreviewStack->setCurrentWidget(m_pPreviewText);
}

void DRUI::ShowPreviewMessage(const QString& strText) {
    m_pPreviewLabel->clear();
    m_pPreviewLabel->setText(strText);
    m_pPreviewStack->setCurrentWidget(m_pPreviewLabel);
}

// An empty file shows an empty view; a picture the program cannot decode says so rather than
// showing the last one; any other file shows its first bytes in hex and as text.
void DRUI::ShowPreview() {
    ClearPreview();
    const int nLength = std::clamp(m_nPreviewLength, 0, PREVIEW_BUFFER_BYTES);
    const QString strPath = QString::fromUtf16(m_strPreviewPath.c_str());
    if (m_previewNode.u64FileSize == 0)
        return;
    if (strPath.isEmpty()) {
        if (nLength == 0 && m_nPreviewResult != 0)
            ShowPreviewMessage(UNREADABLE_TEXT);
        else
            WinHexBufData(&m_previewNode, m_vecPreviewBuf.data(), nLength);
        return;
    }
    const QPixmap picture(strPath);
    if (picture.isNull()) {
        ShowPreviewMessage(NO_PREVIEW_TEXT);
        return;
    }
    const QSize area = m_pPreviewStack->size().shrunkBy(
        QMargins(PICTURE_MARGIN, PICTURE_MARGIN, PICTURE_MARGIN, PICTURE_MARGIN));
    if (picture.width() <= area.width() && picture.height() <= area.height())
        m_pPreviewLabel->setPixmap(picture);
    else
        m_pPreviewLabel->setPixmap(
            picture.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_pPreviewStack->setCurrentWidget(m_pPreviewLabel);
}

// Lines of 16 bytes: the offset, the bytes in hex, and the bytes as text with '.' for the
// unprintable ones.
QString DRUI::WinHexText(const unsigned char* pBuffer, int nLength) {
    QString strText;
    for (int nLine = 0; nLine < nLength; nLine += HEX_LINE_BYTES) {
        const int nCount = std::min(HEX_LINE_BYTES, nLength - nLine);
        QString strHex;
        QString strChars;
        for (int i = 0; i < HEX_LINE_BYTES; ++i) {
            strHex += i < nCount ? QString("%1 ").arg(pBuffer[nLine + i], 2, 16, QChar('0'))
                                 : QString("   ");
            if (i == HEX_LINE_BYTES / 2 - 1)
                strHex += ' ';
            if (i < nCount)
                strChars += PrintableOrDot(pBuffer[nLine + i]);
        }
        strText += QString("%1  %2 %3\n").arg(nLine, 8, 16, QChar('0')).arg(strHex, strChars);
    }
    return strText;
}

void DRUI::WinHexBufData(const FILE_NODE*, const unsigned char* pBuffer, int nLength) {
    m_pPreviewText->setPlainText(WinHexText(pBuffer, nLength));
    m_pPreviewStack->setCurrentWidget(m_pPreviewText);
}
