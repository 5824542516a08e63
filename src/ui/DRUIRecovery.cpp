// Main window, recovery: the destination question, the worker that saves each selected file into
// its category folder under a free name, and the per-file results.
#include "device/CDiskRegistry.h"
#include "ui/CMessageBox.h"
#include "ui/CMyThread.h"
#include "ui/DRUI.h"
#include "ui/RecoveryDestination.h"
#include "ui/SCANUI.h"
#include "util/CSafeOutputFile.h"
#include "util/DebugLog.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <QFileDialog>

#include <cerrno>

namespace {

const char* const SCANNED_VOLUME_QUESTION =
    "The destination folder is on the drive being recovered. Writing there may overwrite the "
    "files you want to recover. Continue?";
const char* const FAT_LIMIT_NOTICE =
    "The destination is a FAT drive, which cannot hold files of 4 GB or more. Such files will be "
    "listed as failed.";
} // namespace

void DRUI::btnRecovery() {
    m_strRecoveryDir = "/";
    const QString strDir = QFileDialog::getExistingDirectory(this, QString(), "/",
                                                             QFileDialog::ShowDirsOnly |
                                                                 QFileDialog::DontResolveSymlinks |
                                                                 QFileDialog::DontUseNativeDialog);
    if (strDir.isNull())
        return;
    RecoverSelectionTo(strDir);
}

bool DRUI::ConfirmRecoveryDestination(const QString& strDir) {
    const std::string strDevice =
        CDiskRegistry::GetInstance().GetDevicePath(static_cast<int>(m_partitionItem.nDiskNo));
    if (IsOnScannedVolume(strDir.toStdString(), strDevice, m_partitionItem) &&
        !CMessageBox::Ask(this, SCANNED_VOLUME_QUESTION))
        return false;
    m_bRecoveryDirIsFat = IsOnFatFileSystem(strDir.toStdString());
    if (m_bRecoveryDirIsFat) {
        for (const auto& [key, node] : m_mapSelection) {
            if (node.u64FileSize >= FAT_FILE_LIMIT) {
                CMessageBox::Ask(this, FAT_LIMIT_NOTICE, true);
                break;
            }
        }
    }
    return true;
}

void DRUI::RecoverSelectionTo(const QString& strDir) {
    m_strRecoveryDir = strDir;
    if (!ConfirmRecoveryDestination(strDir))
        return;
    unsigned long long u64TotalBytes = 0;
    for (const auto& [key, node] : m_mapSelection)
        u64TotalBytes += node.u64FileSize;
    DebugLog("_RecoveryProcess Start\n");
    RunOperation(OPR_TYPE_RECOVERY, &DRUI::_RecoveryProcess, [&](SCANUI& dialog) {
        dialog.SetSaveDir(m_strRecoveryDir);
        dialog.SetRecoveryTotals(static_cast<int>(m_mapSelection.size()), u64TotalBytes);
    });
}

void DRUI::_RecoveryProcess(void* pParam, int&) {
    auto* pThis = static_cast<DRUI*>(pParam);
    pThis->m_bRecoveryStop = false;
    pThis->m_bRecoveryEnd = false;
    pThis->RecoveryProcess();
    pThis->m_bRecoveryStop = true;
    pThis->m_bRecoveryEnd = true;
}

void DRUI::RecoveryProcess() {
    const std::u16string strDir16 = m_strRecoveryDir.toStdU16String();
    const std::string strDir = m_strRecoveryDir.toStdString();
    int nBaseDepth = 0;
    GetPathDirIndex(strDir16.c_str(), nBaseDepth);
    const int nCount = static_cast<int>(m_mapSelection.size());
    int nIndex = 0;
    int nEnd = ERROR_SUCCESS;
    for (auto& [key, node] : m_mapSelection) {
        const std::string strFolder = strDir + "/" + GetDirTypeByFileName(node.szFileName) + "/";
        const std::string strPath = GetRealFileName(strFolder + node.szFileName);
        const std::u16string strPath16 = Ansi2Unicode(strPath.c_str());
        const QString strShownPath = QString::fromStdU16String(strPath16);
        emit RecoveryFileStart(++nIndex, nCount, strShownPath, node.u64FileSize);
        m_bFileReported = false;
        const int nResult = SaveOneFile(node, strFolder, strPath16, nBaseDepth);
        if (nResult == ERROR_CANCELLED_BY_USER) {
            nEnd = nResult;
            emit RecoveryCallBack(100, RECOVERY_FILE_WEIGHT, nResult, strShownPath);
            break;
        }
        // An engine that gave up before its closing report still gets its row in the list.
        if (!m_bFileReported)
            RecoveryCallBack(this, 100, RECOVERY_FILE_WEIGHT, nResult, strPath16.c_str());
    }
    // Sent past the stop flag: after a stop the dialog still shows what was and was not written.
    emit RecoveryCallBack(100, RECOVERY_DONE_WEIGHT, nEnd, QString());
}

int DRUI::SaveOneFile(FILE_NODE& node, const std::string& strFolder,
                      const std::u16string& strPath16, int nBaseDepth) {
    if (m_bRecoveryDirIsFat && node.u64FileSize >= FAT_FILE_LIMIT)
        return EFBIG;
    // A plain file where the category folder should be: nothing can be written below it.
    const int nDirResult = MakeRecoveryDir(strFolder);
    if (nDirResult != 0)
        return nDirResult == EEXIST ? ENOTDIR : nDirResult;
    if (m_pEngine == nullptr)
        return ERROR_INVALID_PARAMETER;
    return m_pEngine->SaveFileData(&node, strPath16.c_str(), nBaseDepth);
}
