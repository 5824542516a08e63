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
constexpr int RECOVERY_FILE_WEIGHT = 100;
constexpr int RECOVERY_DONE_WEIGHT = 1000;

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
    auto ask = [this](const QString& strText, bool bInfoOnly) {
        CMessageBox box(this);
        box.setGeometry(x() + (width() - CMessageBox::MESSAGE_BOX_WIDTH) / 2,
                        y() + (height() - CMessageBox::MESSAGE_BOX_HEIGHT) / 2,
                        CMessageBox::MESSAGE_BOX_WIDTH, CMessageBox::MESSAGE_BOX_HEIGHT);
        box.InitQuestionDialog(strText, bInfoOnly);
        box.exec();
        return box.GetMessageBoxRet() == 1;
    };
    if (IsOnScannedVolume(strDir.toStdString(), strDevice, m_partitionItem) &&
        !ask(SCANNED_VOLUME_QUESTION, false))
        return false;
    m_bRecoveryDirIsFat = IsOnFatFileSystem(strDir.toStdString());
    if (m_bRecoveryDirIsFat) {
        for (const auto& [key, node] : m_mapSelection) {
            if (node.u64FileSize >= FAT_FILE_LIMIT) {
                ask(FAT_LIMIT_NOTICE, true);
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
    SCANUI dialog;
    dialog.SetSaveDir(m_strRecoveryDir);
    dialog.InitSlot(this, OPR_TYPE_RECOVERY);
    dialog.setGeometry(x() + width() / 4, y() + height() / 4, SCANUI::DIALOG_WIDTH,
                       SCANUI::DIALOG_HEIGHT);
    DebugLog("_RecoveryProcess Start\n");
    CMyThread thread;
    thread.SetFunc(&DRUI::_RecoveryProcess, this);
    thread.start();
    dialog.exec();
    thread.exit(0);
    thread.wait();
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
    for (auto& [key, node] : m_mapSelection) {
        const std::string strFolder = strDir + "/" + GetDirTypeByFileName(node.szFileName) + "/";
        MakeRecoveryDir(strFolder);
        const std::string strPath = GetRealFileName(strFolder + node.szFileName);
        const std::u16string strPath16 = Ansi2Unicode(strPath.c_str());
        if (m_bRecoveryDirIsFat && node.u64FileSize >= FAT_FILE_LIMIT) {
            RecoveryCallBack(this, 100, RECOVERY_FILE_WEIGHT, EFBIG, strPath16.c_str());
            continue;
        }
        m_bFileReported = false;
        const int nResult = m_pEngine != nullptr
                                ? m_pEngine->SaveFileData(&node, strPath16.c_str(), nBaseDepth)
                                : ERROR_INVALID_PARAMETER;
        if (nResult == ERROR_CANCELLED_BY_USER)
            break;
        // An engine that gave up before its closing report still gets its row in the list.
        if (!m_bFileReported)
            RecoveryCallBack(this, 100, RECOVERY_FILE_WEIGHT, nResult, strPath16.c_str());
    }
    RecoveryCallBack(this, 100, RECOVERY_DONE_WEIGHT, 0, u"");
}
