// Main window, recovery: the destination question, the worker that saves each ticked file into
// its category folder, or its original folder, under a free name, and the per-file results.
#include "device/CDiskRegistry.h"
#include "ui/CMessageBox.h"
#include "ui/CMyThread.h"
#include "ui/CResultFolderModel.h"
#include "ui/CResultTableModel.h"
#include "ui/DRUI.h"
#include "ui/RecoveryDestination.h"
#include "ui/SCANUI.h"
#include "util/CSafeOutputFile.h"
#include "util/DebugLog.h"
#include "util/FileCategory.h"
#include "util/TextUtil.h"

#include <QCheckBox>
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
        const CResultRowIndex& rows = m_pResultModel->GetIndex();
        for (uint32_t nRow : rows.GetTickedRows()) {
            if (rows.GetRow(nRow).u64FileSize >= FAT_FILE_LIMIT) {
                CMessageBox::Ask(this, FAT_LIMIT_NOTICE, true);
                break;
            }
        }
    }
    return true;
}

void DRUI::RecoverSelectionTo(const QString& strDir) {
    m_strRecoveryDir = strDir;
    if (m_pResultModel == nullptr || !ConfirmRecoveryDestination(strDir))
        return;
    m_bRecoverIntoFolders = m_pRecoverIntoFolders->isChecked();
    const CResultRowIndex& rows = m_pResultModel->GetIndex();
    DebugLog("_RecoveryProcess Start\n");
    RunOperation(OPR_TYPE_RECOVERY, &DRUI::_RecoveryProcess, [&](SCANUI& dialog) {
        dialog.SetSaveDir(m_strRecoveryDir);
        dialog.SetRecoveryTotals(static_cast<int>(rows.CountTicked(-1, -1)), rows.GetTickedBytes());
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

// The ticked rows are read back one at a time: a million ticks never hold a million records.
void DRUI::RecoveryProcess() {
    const std::u16string strDir16 = m_strRecoveryDir.toStdU16String();
    int nBaseDepth = 0;
    GetPathDirIndex(strDir16.c_str(), nBaseDepth);
    const std::vector<uint32_t> vecRows = m_pResultModel->GetIndex().GetTickedRows();
    const int nCount = static_cast<int>(vecRows.size());
    int nIndex = 0;
    int nEnd = ERROR_SUCCESS;
    for (uint32_t nRow : vecRows) {
        FILE_NODE node{};
        int nResult = m_pResultModel->ReadNode(nRow, node);
        std::string strFolder;
        if (nResult == 0)
            nResult = MakeTargetFolder(node, strFolder);
        const std::string strPath =
            GetRealFileName(strFolder + "/" + MakeSafeFileName(node.szFileName));
        const std::u16string strPath16 = Ansi2Unicode(strPath.c_str());
        const QString strShownPath = QString::fromStdU16String(strPath16);
        emit RecoveryFileStart(++nIndex, nCount, strShownPath, node.u64FileSize);
        m_bFileReported = false;
        if (nResult == 0)
            nResult = SaveOneFile(node, strPath16, nBaseDepth);
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

// The category folder, or the folders the file was found in (carved files: their kind's folder
// under "Carved files"). A plain file where a folder should be: nothing can be written below it.
int DRUI::MakeTargetFolder(const FILE_NODE& node, std::string& strFolder) {
    const std::string strDir = m_strRecoveryDir.toStdString();
    int nResult = 0;
    if (m_bRecoverIntoFolders) {
        FILE_NODE nodeCopy = node;
        const std::string strParent =
            m_pEngine == nullptr
                ? std::string()
                : CResultTableModel::ReadParentPath(m_pEngine, nodeCopy).toStdString();
        nResult = MakeRecoveryDirs(strDir,
                                   CResultFolderModel::MakeTreePath(
                                       node.nEngineType,
                                       static_cast<int>(GetFileCategoryOfName(node.szFileName)),
                                       strParent),
                                   strFolder);
    } else {
        strFolder = strDir + "/" + GetDirTypeByFileName(node.szFileName);
        nResult = MakeRecoveryDir(strFolder);
    }
    return nResult == EEXIST ? ENOTDIR : nResult;
}

int DRUI::SaveOneFile(FILE_NODE& node, const std::u16string& strPath16, int nBaseDepth) {
    if (m_bRecoveryDirIsFat && node.u64FileSize >= FAT_FILE_LIMIT)
        return EFBIG;
    if (m_pEngine == nullptr)
        return ERROR_INVALID_PARAMETER;
    return m_pEngine->SaveFileData(&node, strPath16.c_str(), nBaseDepth);
}
