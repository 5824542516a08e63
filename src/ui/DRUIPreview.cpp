// Main window, preview: the chosen file read by the engine on the worker, then shown as a
// picture or as the text form of its first bytes.
#include "ui/CMyThread.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"
#include "ui/UiMetaTypes.h"
#include "ui/UiStyle.h"

#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QTableWidgetItem>

namespace {
constexpr int PREVIEW_BUFFER_BYTES = 10240;
constexpr int PREVIEW_LINE_BYTES = 256;
constexpr int PICTURE_MAX_WIDTH = 700;
constexpr int PICTURE_MAX_HEIGHT = 200;
} // namespace

void DRUI::tableItemClick(QTableWidgetItem* pItem) {
    if (pItem == nullptr)
        return;
    const QVariant varNode = pItem->data(Qt::UserRole);
    m_previewNode = varNode.isValid() ? varNode.value<FILE_NODE>() : FILE_NODE{};
    m_strPreviewFileName = QString::fromUtf8(m_previewNode.szFileName);

    SCANUI dialog;
    dialog.InitSlot(this, OPR_TYPE_PREVIEW);
    dialog.setGeometry(x() + width() / 4, y() + height() / 4, SCANUI::DIALOG_WIDTH,
                       SCANUI::DIALOG_HEIGHT);
    CMyThread thread;
    thread.SetFunc(&DRUI::_PreviewProcess, this);
    thread.start();
    dialog.exec();
    thread.exit(0);
    thread.wait();
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
    int nResult = ERROR_INVALID_PARAMETER;
    if (m_pEngine != nullptr)
        nResult =
            m_pEngine->PreView(&m_previewNode, m_strPreviewPath.data(), m_vecPreviewBuf.data(),
                               m_nPreviewLength, &DRUI::PreViewCallBack, this);
    else
        m_nPreviewLength = 0;
    // The dialog closes on a report of 100 %; an engine that returned without one still ends it.
    PreViewCallBack(this, 100, nResult);
}

void DRUI::ShowPreview() {
    if (m_strPreviewPath.empty() || m_strPreviewPath[0] == u'\0') {
        m_pPreviewLabel->setFont(UiFont(11));
        m_pPreviewLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        WinHexBufData(&m_previewNode, m_vecPreviewBuf.data(),
                      std::clamp(m_nPreviewLength, 0, PREVIEW_BUFFER_BYTES));
        return;
    }
    const QString strPath = QString::fromUtf16(m_strPreviewPath.c_str());
    if (!QFile::exists(strPath))
        return;
    const QPixmap picture(strPath);
    m_pPreviewLabel->setAlignment(Qt::AlignCenter);
    // Pictures that do not fit the preview area are shrunk to it, keeping their shape.
    if (picture.width() <= PICTURE_MAX_WIDTH && picture.height() <= PICTURE_MAX_HEIGHT)
        m_pPreviewLabel->setPixmap(picture);
    else
        m_pPreviewLabel->setPixmap(picture.scaled(PICTURE_MAX_WIDTH, PICTURE_MAX_HEIGHT,
                                                  Qt::KeepAspectRatio, Qt::FastTransformation));
}

QString DRUI::WinHexText(const unsigned char* pBuffer, int nLength) {
    QByteArray bytes;
    bytes.reserve(nLength + nLength / PREVIEW_LINE_BYTES * 2 + 2);
    for (int i = 0; i < nLength; ++i) {
        bytes.append(pBuffer[i] == 0 ? '.' : static_cast<char>(pBuffer[i]));
        if ((i + 1) % PREVIEW_LINE_BYTES == 0)
            bytes.append("\r\n");
    }
    if (nLength % PREVIEW_LINE_BYTES != 0)
        bytes.append("\r\n");
    return QString::fromUtf8(bytes);
}

void DRUI::WinHexBufData(const FILE_NODE*, const unsigned char* pBuffer, int nLength) {
    m_pPreviewLabel->setText(WinHexText(pBuffer, nLength));
}
