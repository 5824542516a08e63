// The whole road with the real engines: the demo disk scanned and searched through btnSlotScan,
// its results sorted and shown under their original folders, its deleted photos recovered byte
// for byte, into category folders and into their original
// folders, and the scan reopened from the earlier scans without scanning, removed, and refused
// once its image changed; and a large file whose copy is stopped part-way, which leaves nothing
// under its name and a dialog that says so.
#include "UiTestSupport.h"
#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"
#include "formats/proof/CFileProof.h"
#include "store/CLogFileManager.h"
#include "ui/CResultFolderModel.h"
#include "ui/CResultTableModel.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>

namespace {
QStringList ResultNames(DRUI& window) {
    QStringList listNames;
    const CResultRowIndex& rows = window.GetResultModel()->GetIndex();
    for (uint32_t nRow = 0; nRow < rows.GetRowCount(); ++nRow)
        listNames << QString::fromUtf8(rows.GetName(nRow));
    return listNames;
}

// Back from the result page, saying Yes to losing its files.
void LeaveResults(DRUI& window) {
    CModalAnswer yes("CMessageBox", "Yes");
    FindButton(window, "Back", true)->click();
    QVERIFY(yes.Answered());
}

QTreeWidget* EarlierScans(DRUI& window) {
    FindButton(window, "Earlier Scans", true)->click();
    return window.findChild<QTreeWidget*>("scanList");
}

QStringList ColumnTexts(const QAbstractItemModel& model, int nColumn,
                        const QModelIndex& parent = QModelIndex()) {
    QStringList list;
    for (int nRow = 0; nRow < model.rowCount(parent); ++nRow)
        list << model.index(nRow, nColumn, parent).data().toString();
    return list;
}

QModelIndex ChildNamed(const QAbstractItemModel& model, const QModelIndex& parent,
                       const QString& strName) {
    for (int nRow = 0; nRow < model.rowCount(parent); ++nRow)
        if (model.index(nRow, 0, parent).data().toString() == strName)
            return model.index(nRow, 0, parent);
    return QModelIndex();
}

// Rows come in name order; sorting by size puts the largest first, and the original path and
// state of each file are read back from the engine.
void ExpectSortsByNameSizeAndPath(CResultTableModel& model) {
    QStringList listSorted = ColumnTexts(model, COLUMN_NAME);
    std::sort(listSorted.begin(), listSorted.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QCOMPARE(ColumnTexts(model, COLUMN_NAME), listSorted);
    model.sort(COLUMN_SIZE, Qt::DescendingOrder);
    for (int nRow = 1; nRow < model.rowCount(); ++nRow)
        QVERIFY(
            model.index(nRow - 1, COLUMN_SIZE)
                .data(CResultTableModel::RAW_VALUE_ROLE)
                .toULongLong() >=
            model.index(nRow, COLUMN_SIZE).data(CResultTableModel::RAW_VALUE_ROLE).toULongLong());
    model.sort(COLUMN_PATH, Qt::AscendingOrder);
    QStringList listPaths = ColumnTexts(model, COLUMN_PATH);
    QVERIFY(listPaths.contains("Photos/Holiday/"));
    for (int nRow = 0; nRow < model.rowCount(); ++nRow) {
        if (model.index(nRow, COLUMN_NAME).data().toString() != "Scan.tif")
            continue;
        QCOMPARE(listPaths[nRow], QString("Photos/Holiday/"));
        QCOMPARE(model.index(nRow, COLUMN_STATE).data().toString(), QString("Deleted"));
    }
    model.sort(COLUMN_NAME, Qt::AscendingOrder);
}

// Files sit under their original folders; ticking a folder ticks its files, and the parent
// shows partial.
void ExpectFolderTreeShowsOriginalFoldersAndTicksThem(CResultTableModel& model) {
    CResultFolderModel tree(model);
    QModelIndex photos = ChildNamed(tree, QModelIndex(), "Photos");
    QModelIndex holiday = ChildNamed(tree, photos, "Holiday");
    QVERIFY(photos.isValid() && holiday.isValid());
    QCOMPARE(ColumnTexts(tree, 0, photos), (QStringList{"Holiday", "Sunset.jpg"}));
    QCOMPARE(ColumnTexts(tree, 0, holiday), QStringList{"Scan.tif"});
    QVERIFY(tree.setData(holiday, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(tree.data(holiday, Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(tree.data(photos, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(model.GetIndex().CountTicked(-1, -1), uint64_t(1));
    QCOMPARE(tree.GetTreePath(tree.RowOf(tree.index(0, 0, holiday))),
             std::string("Photos/Holiday/"));
    tree.setData(holiday, Qt::Unchecked, Qt::CheckStateRole);
    QCOMPARE(model.GetIndex().CountTicked(-1, -1), uint64_t(0));
}
} // namespace

class DemoScanTest : public QObject {
    Q_OBJECT
private slots:
    void ScanOfTheDemoImageFindsAndRecoversItsDeletedFiles() {
        CTempDir dir;
        const std::string strScript = TestDataPath("../../scripts/make-demo-image");
        const std::string strImage = dir.File("demo.img");
        QVERIFY(RunShell(ShellQuote(strScript) + " " + ShellQuote(strImage) + " >/dev/null"));
        const int nDiskNo = CDiskRegistry::GetInstance().AddImage(strImage);
        QVERIFY(nDiskNo >= 0);

        DRUI window;
        ScanFirstPartition(window, nDiskNo);

        const QStringList listNames = ResultNames(window);
        for (const char* pDeleted : {"Sunset.jpg", "Scan.tif", "Ringtone.mp3", "Garden.avi"})
            QVERIFY2(listNames.filter(pDeleted, Qt::CaseInsensitive).size() >= 1, pDeleted);
        // The deleted files and the files of the deleted folder.
        QCOMPARE(window.GetResultModel()->rowCount(), 6);
        ExpectSortsByNameSizeAndPath(*window.GetResultModel());
        ExpectFolderTreeShowsOriginalFoldersAndTicksThem(*window.GetResultModel());

        QTreeWidgetItem* pPhoto = FindItem(window.findChild<QTreeWidget*>("resultTree"), "Photo(");
        QVERIFY(pPhoto);
        pPhoto->setCheckState(0, Qt::Checked);
        QVERIFY(window.GetResultModel()->GetIndex().CountTicked(-1, -1) > 0);

        CTempDir out;
        const RECOVERY_VIEW view = RecoverAndWatch(window, QString::fromStdString(out.Path()));
        QVERIFY(view.strStatus.contains(" recovered, 0 failed"));
        const QByteArray original =
            ReadAll(QString::fromStdString(TestDataPath("samples/sample_jfif.jpg")));
        QVERIFY(!original.isEmpty());
        QStringList listRecovered =
            QDir(QString::fromStdString(out.File("photo"))).entryList(QDir::Files);
        const QStringList listSunset = listRecovered.filter("Sunset", Qt::CaseInsensitive);
        QVERIFY2(!listSunset.isEmpty(), qPrintable(listRecovered.join(", ")));
        QCOMPARE(
            ReadAll(QString::fromStdString(out.File("photo/" + listSunset.front().toStdString()))),
            original);

        // The folder view and a recovery into the original folders.
        FindButton(window, "Folder view")->click();
        auto* pFolders = window.findChild<QTreeView*>("folderView");
        QVERIFY(pFolders != nullptr && pFolders->isVisible());
        QVERIFY(pFolders->model()
                    ->match(pFolders->model()->index(0, 0), Qt::DisplayRole, "Photos")
                    .size() == 1);
        FindCheckBox(window, "Keep original folders")->setChecked(true);
        CTempDir tree;
        QVERIFY(RecoverAndWatch(window, QString::fromStdString(tree.Path())).bSeen);
        const QStringList listTree = FilesBelow(QString::fromStdString(tree.Path()));
        QVERIFY2(listTree.contains("Photos/Sunset.jpg") &&
                     listTree.contains("Photos/Holiday/Scan.tif"),
                 qPrintable(listTree.join(", ")));
        QCOMPARE(ReadAll(QString::fromStdString(tree.File("Photos/Sunset.jpg"))), original);

        // Reopened: the same files, loaded from the scan-log, not scanned again.
        LeaveResults(window);
        QTreeWidget* pScans = EarlierScans(window);
        QCOMPARE(pScans->topLevelItemCount(), 1);
        QVERIFY(pScans->topLevelItem(0)->text(0).startsWith(QString::fromStdString(strImage)));
        QCOMPARE(pScans->topLevelItem(0)->text(3), QString("Complete"));
        QVERIFY(FindLabel(window, "Scans are kept in ").contains(" and take "));
        FindButton(window, "Open", true)->click();
        QCOMPARE(ResultNames(window), listNames);
        QVERIFY(FindLabel(window, "Select Desired").contains("after the earlier scan, among "));

        // Removed from the list, and from the disk.
        LeaveResults(window);
        pScans = EarlierScans(window);
        const std::string strLogDir = CLogFileManager::GetInstance()->GetRecords()[0].szLogDirPath;
        QVERIFY(QDir(QString::fromStdString(strLogDir)).exists());
        CModalAnswer remove("CMessageBox", "Yes");
        FindButton(window, "Remove", true)->click();
        QCOMPARE(pScans->topLevelItemCount(), 0);
        QVERIFY(!QDir(QString::fromStdString(strLogDir)).exists());
        QVERIFY(!FindLabel(window, "No earlier scans are kept.").isEmpty());

        // An image changed since its scan gets its own new scan: the old results would not match.
        DRUI again;
        ScanFirstPartition(again, nDiskNo);
        LeaveResults(again);
        QVERIFY(RunShell("touch -d 2001-01-01 " + ShellQuote(strImage)));
        pScans = EarlierScans(again);
        QCOMPARE(pScans->topLevelItemCount(), 1);
        CModalAnswer refused("CMessageBox", "OK", [](QWidget* pBox) {
            return FindLabel(*pBox, "That scan cannot be opened").contains("changed");
        });
        FindButton(again, "Open", true)->click();
        QVERIFY(refused.Answered());
        QCOMPARE(pScans->topLevelItemCount(), 0);
        QVERIFY(again.GetResultModel() == nullptr);
    }

    // A file whose data does not decode whole shows as damaged, whatever its entry says.
    void StateFollowsTheProofOfTheData() {
        FILE_NODE node{};
        node.bIsDeleted = 1;
        node.nDataHealth = DATA_HEALTH_DAMAGED;
        QVERIFY(CResultRowIndex::StateOf(node) == RESULT_STATE::Damaged);
        node.nDataHealth = DATA_HEALTH_WHOLE;
        QVERIFY(CResultRowIndex::StateOf(node) == RESULT_STATE::Deleted);
    }

    void StoppedCopyLeavesNothingUnderItsName() {
        CTempDir dir;
        const std::string strImage =
            MakePartitionedImage(dir.File("big.img"), 40, "start=2048, type=c\\n");
        const std::string strPart = strImage + "@@1M";
        QVERIFY(RunShell("mkfs.vfat -F 32 --offset 2048 " + ShellQuote(strImage) + " >/dev/null"));
        // A real JPEG of noise, several MiB: its copy takes many reports.
        QImage noise(2000, 1500, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, (x * 2654435761u) ^ (y * 40503u) ^ (x * y));
        QVERIFY(noise.save(QString::fromStdString(dir.File("Big.jpg")), "JPEG", 100));
        QVERIFY(RunShell("MTOOLS_SKIP_CHECK=1 mcopy -i " + ShellQuote(strPart) + " " +
                         ShellQuote(dir.File("Big.jpg")) +
                         " ::/Big.jpg && MTOOLS_SKIP_CHECK=1 mdel -i " + ShellQuote(strPart) +
                         " ::/Big.jpg"));
        const int nDiskNo = CDiskRegistry::GetInstance().AddImage(strImage);
        DRUI window;
        ScanFirstPartition(window, nDiskNo);
        // Runs on the worker at the engine's report: the first report of a file part-way written
        // stops the run, as a confirmed Cancel does at that moment.
        int nStoppedAt = -1;
        QObject::connect(
            &window, qOverload<int, int, int, QString>(&DRUI::RecoveryCallBack), &window,
            [&](int nPercent, int nWeight, int, QString) {
                if (nWeight == 100 && nPercent > 0 && nPercent < 100 && nStoppedAt < 0) {
                    nStoppedAt = nPercent;
                    window.m_bRecoveryStop = true;
                }
            },
            Qt::DirectConnection);
        FindItem(window.findChild<QTreeWidget*>("resultTree"), "Photo(")
            ->setCheckState(0, Qt::Checked);
        CTempDir out;
        const RECOVERY_VIEW view = RecoverAndWatch(window, QString::fromStdString(out.Path()));
        QVERIFY(nStoppedAt > 0);
        QVERIFY2(view.strStatus.startsWith("  Stopped: 0 recovered, 1 failed"),
                 qPrintable(view.strStatus));
        QCOMPARE(view.listRows, QStringList({"Stopped: nothing was kept photo/Big.jpg"}));
        QCOMPARE(FilesBelow(QString::fromStdString(out.Path())), QStringList());
    }
};

UI_TEST_CLASS(DemoScanTest);

#include "DemoScanTest.moc"
