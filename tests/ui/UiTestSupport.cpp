// Fake engine, fake-engine window, modal answering, widget finding and image building for the UI
// tests.
#include "UiTestSupport.h"

#include "fixtures/FixtureUtil.h"
#include "ui/CDetail.h"
#include "ui/SCANUI.h"
#include "util/CSafeOutputFile.h"
#include "util/TextUtil.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTreeWidget>

#include <cerrno>
#include <cstring>

namespace {
// Hit n was modified at noon UTC on 2020-01-01 plus n days, as NTFS counts time.
constexpr uint64_t FAKE_FIRST_DAY = 1577836800 + 43200;
constexpr uint64_t DAY_SECONDS = 86400;
constexpr uint64_t FILETIME_1970 = 11644473600;

class CFakeEngine : public IFileRecoveryParse {
public:
    CFakeEngine(FAKE_ENGINE_LOG& log, EFakeScan nMode, std::vector<std::string> vecHitNames)
        : m_log(log), m_nMode(nMode), m_vecHitNames(std::move(vecHitNames)) {
        ++m_log.nCreated;
    }
    ~CFakeEngine() override { ++m_log.nDeleted; }

    int Init(int, long long, long long, char16_t) override { return 0; }
    int Init(const char16_t*, char16_t) override { return 0; }
    int InitCallBack(ScanProgressCallback pScan, RecoveryProgressCallback pRecovery, void* pParam,
                     int nWeight) override {
        m_pScan = pScan;
        m_pRecovery = pRecovery;
        m_pParam = pParam;
        m_log.nWeight = m_nWeight = nWeight;
        return 0;
    }
    // A stoppable scan reports 40 % of the deep pass every 2 ms until told to stop.
    int ScanDevice(const char16_t*) override {
        int nResult = 0;
        if (m_nMode == EFakeScan::FinishAtOnce)
            nResult =
                m_pScan(m_pParam, 100, m_nWeight, 0, 10, 10, m_vecHitNames.size() + 2, nullptr);
        for (uint64_t u64Sector = 0; m_nMode != EFakeScan::FinishAtOnce && nResult == 0;
             ++u64Sector) {
            nResult = m_pScan(m_pParam, 40, 90, 30, u64Sector, 1000000, 9, nullptr);
            QThread::msleep(2);
        }
        return m_log.nScanResult = nResult;
    }
    int GetChildrenFileNode(FILE_NODE*, unsigned int, std::vector<FILE_NODE>&) override {
        return 0;
    }
    int GetChildrenFileCount(FILE_NODE*, unsigned int, unsigned int&) override { return 0; }
    unsigned int GetLostFileCount() override { return 0; }
    int GetFileNodeParentDirPath(FILE_NODE*, char16_t*, int) override { return 0; }
    int SaveFileData(FILE_NODE* pNode, const char16_t* pTargetPath, int nBaseDepth) override {
        m_log.vecBaseDepths.push_back(nBaseDepth);
        const std::string strName = pNode->szFileName;
        if (strName.rfind("silent", 0) == 0)
            return EIO;
        int nStatus = EIO;
        CSafeOutputFile file;
        if (strName.rfind("bad", 0) != 0 &&
            (nStatus = file.Create(Unicode2Ansi(pTargetPath))) == 0 &&
            (nStatus = file.Write(strName.data(), strName.size())) == 0)
            nStatus = file.Commit();
        const int nStop = m_pRecovery(m_pParam, 100, 100, nStatus, pTargetPath);
        return nStop != 0 ? nStop : nStatus;
    }
    int GetUnUsedSectorCount(unsigned long long&, unsigned long long&) override { return 0; }
    int InitSearchCallBack(SearchProgressCallback pSearch, void* pParam) override {
        m_pSearch = pSearch;
        m_pSearchParam = pParam;
        return 0;
    }
    int SearchFileNode(const char16_t* pKey, std::vector<SEARCH_FILE_INFO>& vecOut) override {
        m_log.strSearchKey = pKey;
        m_pSearch(m_pSearchParam, 50, u"half way");
        for (uint32_t nIndex = 1; nIndex <= m_vecHitNames.size(); ++nIndex) {
            vecOut.emplace_back();
            GetFileNodeByIndex(ENGINE_FAST_NTFS, nIndex, &vecOut.back());
        }
        m_pSearch(m_pSearchParam, 100, nullptr);
        return 0;
    }
    int GetFileNodeByIndex(unsigned int, unsigned int nIndex, FILE_NODE* pOut) override {
        if (nIndex == 0 || nIndex > m_vecHitNames.size())
            return ERROR_INVALID_PARAMETER;
        const std::string& strName = m_vecHitNames[nIndex - 1];
        *pOut = FILE_NODE{};
        std::strncpy(pOut->szFileName, strName.c_str(), FILE_NODE_NAME_BYTES - 1);
        pOut->u64FileSize = strName.rfind("empty", 0) == 0 ? 0 : 1024 * nIndex;
        pOut->nFileIndex = nIndex;
        pOut->nDataHealth = 1;
        pOut->u64ModifyTime = (FAKE_FIRST_DAY + nIndex * DAY_SECONDS + FILETIME_1970) * 10000000;
        return 0;
    }
    int BuildBitMapInfo() override { return 0; }
    int PreView(FILE_NODE* pNode, char16_t* pTempPathOut, unsigned char* pBuffer, int& nLength,
                PreviewProgressCallback pCallback, void* pParam) override {
        const QString strName = QString::fromUtf8(pNode->szFileName);
        if (strName.endsWith(".png") || strName.endsWith(".psd")) {
            std::copy(m_log.strPicturePath.begin(), m_log.strPicturePath.end(), pTempPathOut);
            pTempPathOut[m_log.strPicturePath.size()] = 0;
            nLength = 0;
        } else {
            nLength = std::min<int>(nLength, static_cast<int>(std::strlen(pNode->szFileName)));
            std::memcpy(pBuffer, pNode->szFileName, nLength);
        }
        pCallback(pParam, 100, 0);
        return 0;
    }

private:
    FAKE_ENGINE_LOG& m_log;
    EFakeScan m_nMode;
    std::vector<std::string> m_vecHitNames;
    ScanProgressCallback m_pScan = nullptr;
    RecoveryProgressCallback m_pRecovery = nullptr;
    SearchProgressCallback m_pSearch = nullptr;
    void* m_pParam = nullptr;
    void* m_pSearchParam = nullptr;
    int m_nWeight = 0;
};
} // namespace

IFileRecoveryParse* CFakeEngineWindow::CreateEngine(int nDiskNo, long long llStartSector,
                                                    long long llSectorCount, char16_t wcDriveLetter,
                                                    RECOVERY_TYPE nRecoveryType) {
    m_log.nDiskNo = nDiskNo;
    m_log.llStartSector = llStartSector;
    m_log.llSectorCount = llSectorCount;
    m_log.wcDriveLetter = wcDriveLetter;
    m_log.nRecoveryType = nRecoveryType;
    if (m_nMode == EFakeScan::NoEngine)
        return nullptr;
    return new CFakeEngine(m_log, m_nMode, m_vecHitNames);
}

CModalAnswer::CModalAnswer(const char* pClassName, const QString& strButton, Condition when)
    : m_pClassName(pClassName), m_strButton(strButton), m_when(std::move(when)) {
    connect(&m_timer, &QTimer::timeout, this, &CModalAnswer::Poll);
    m_timer.start(20);
}

void CModalAnswer::Poll() {
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal == nullptr || !pModal->inherits(m_pClassName) || !pModal->isVisible() ||
        (m_when && !m_when(pModal)))
        return;
    if (QPushButton* pButton = FindButton(*pModal, m_strButton)) {
        m_timer.stop();
        m_bAnswered = true;
        pButton->click();
    }
}

RECOVERY_VIEW RecoverAndWatch(DRUI& window, const QString& strDir) {
    RECOVERY_VIEW view;
    CModalAnswer confirm("CMessageBox", "Yes");
    CModalAnswer finished("SCANUI", "Finished", [&view](QWidget* pModal) {
        auto* pDialog = static_cast<SCANUI*>(pModal);
        CDetail& detail = pDialog->GetDetail();
        view.strStatus = pDialog->GetStatusText();
        view.strHeader = detail.GetHeaderText();
        for (int nRow = 0; nRow < detail.GetTable()->rowCount(); ++nRow)
            view.listRows << detail.GetTable()->item(nRow, 1)->text() + " " +
                                 detail.GetTable()->item(nRow, 0)->text();
        view.bSeen = true;
        return true;
    });
    window.RecoverSelectionTo(strDir);
    return view;
}

QPushButton* FindButton(QWidget& widget, const QString& strText, bool bVisible) {
    for (QPushButton* pButton : widget.findChildren<QPushButton*>())
        if (pButton->text() == strText && (!bVisible || pButton->isVisible()))
            return pButton;
    return nullptr;
}

QCheckBox* FindCheckBox(QWidget& widget, const QString& strText) {
    for (QCheckBox* pBox : widget.findChildren<QCheckBox*>())
        if (pBox->text() == strText)
            return pBox;
    return nullptr;
}

QString FindLabel(QWidget& widget, const QString& strStart, const QString& strNot) {
    for (QLabel* pLabel : widget.findChildren<QLabel*>())
        if (pLabel->isVisible() && pLabel->text().startsWith(strStart) &&
            (strNot.isEmpty() || !pLabel->text().startsWith(strNot)))
            return pLabel->text();
    return "<no label " + strStart + ">";
}

QTreeWidgetItem* FindItem(QTreeWidget* pTree, const QString& strPrefix, QTreeWidgetItem* pParent) {
    QTreeWidgetItem* pRoot = pParent != nullptr ? pParent : pTree->invisibleRootItem();
    for (int i = 0; i < pRoot->childCount(); ++i)
        if (pRoot->child(i)->text(0).startsWith(strPrefix))
            return pRoot->child(i);
    return nullptr;
}

void ClickCheckBox(QAbstractItemView* pView, const QModelIndex& index) {
    QStyleOptionViewItem option;
    option.initFrom(pView->viewport());
    option.rect = pView->visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect rcBox =
        pView->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, pView);
    QTest::mouseClick(pView->viewport(), Qt::LeftButton, {}, rcBox.center());
}

QByteArray ReadAll(const QString& strPath) {
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList FilesBelow(const QString& strDir) {
    QStringList listFiles;
    QDirIterator it(strDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        listFiles << it.next().mid(strDir.size() + 1);
    listFiles.sort();
    return listFiles;
}

void ScanFirstPartition(DRUI& window, int nDiskNo) {
    window.Init();
    window.btnSlot();
    window.show();
    auto* pTree = window.findChild<QTreeWidget*>("diskTree");
    QTreeWidgetItem* pDisk = FindItem(pTree, QString("Physical Driver %1").arg(nDiskNo));
    pTree->setCurrentItem(pDisk != nullptr && pDisk->childCount() > 0 ? pDisk->child(0) : pDisk);
    window.btnSlotScan();
}
