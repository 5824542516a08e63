// The result browser over a real deep scan of the demo disk: the row index, sorting in the table
// model, and the folder tree with its ticks.
#include "UiTestSupport.h"
#include "deepscan/CFileRecoveryFactory.h"
#include "deepscan/CProfessionalRecovery.h"
#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"
#include "formats/proof/CFileProof.h"
#include "ui/CResultFolderModel.h"
#include "ui/CResultTableModel.h"

#include <QTest>

#include <memory>

namespace {

constexpr long long DEMO_PARTITION_START = 2048;
constexpr long long DEMO_PARTITION_SECTORS = 63 * 2048;

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

} // namespace

class ResultBrowserTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        const std::string strScript = TestDataPath("../../scripts/make-demo-image");
        const std::string strImage = m_dir.File("demo.img");
        QVERIFY(RunShell(ShellQuote(strScript) + " " + ShellQuote(strImage) + " >/dev/null"));
        const int nDiskNo = CDiskRegistry::GetInstance().AddImage(strImage);
        QVERIFY(nDiskNo >= 0);
        m_pEngine.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            nDiskNo, DEMO_PARTITION_START, DEMO_PARTITION_SECTORS, u'C', RECOVERY_TYPE_DEEP));
        QVERIFY(m_pEngine != nullptr);
        static_cast<CProfessionalRecovery*>(m_pEngine.get())->SetNotLoadLogFile();
        QCOMPARE(m_pEngine->ScanDevice(nullptr), 0);
        std::unique_ptr<ISearchCursor> pCursor;
        const std::u16string strKey =
            u"*.jpg|*.png|*.gif|*.bmp|*.tif|*.mp3|*.wav|*.mp4|*.avi|*.mkv|";
        QCOMPARE(m_pEngine->OpenSearchCursor(strKey.c_str(), pCursor), 0);
        CResultRowIndex index;
        QCOMPARE(index.Load(*pCursor), 0);
        m_pModel = std::make_unique<CResultTableModel>(m_pEngine.get(), std::move(index));
    }

    // Rows come in name order; sorting by size puts the largest first, equal sizes in name order,
    // and the original path and state of each file are read back from the engine.
    void SortsByNameSizeAndPath() {
        CResultTableModel& model = *m_pModel;
        QCOMPARE(model.rowCount(), 6); // the deleted files and the files of the deleted folder
        QStringList listNames = ColumnTexts(model, COLUMN_NAME);
        QStringList listSorted = listNames;
        std::sort(listSorted.begin(), listSorted.end(), [](const QString& a, const QString& b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
        QCOMPARE(listNames, listSorted);

        model.sort(COLUMN_SIZE, Qt::DescendingOrder);
        for (int nRow = 1; nRow < model.rowCount(); ++nRow)
            QVERIFY(model.index(nRow - 1, COLUMN_SIZE)
                        .data(CResultTableModel::RAW_VALUE_ROLE)
                        .toULongLong() >= model.index(nRow, COLUMN_SIZE)
                                              .data(CResultTableModel::RAW_VALUE_ROLE)
                                              .toULongLong());

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

    // A file whose data does not decode whole shows as damaged, whatever its entry says.
    void StateFollowsTheProofOfTheData() {
        FILE_NODE node{};
        node.bIsDeleted = 1;
        node.nDataHealth = DATA_HEALTH_DAMAGED;
        QVERIFY(CResultRowIndex::StateOf(node) == RESULT_STATE::Damaged);
        node.nDataHealth = DATA_HEALTH_WHOLE;
        QVERIFY(CResultRowIndex::StateOf(node) == RESULT_STATE::Deleted);
    }

    // Files sit under their original folders; ticking a folder ticks its files, and the parent
    // shows partial.
    void FolderTreeShowsOriginalFoldersAndTicksThem() {
        CResultFolderModel tree(*m_pModel);
        QModelIndex photos = ChildNamed(tree, QModelIndex(), "Photos");
        QVERIFY(photos.isValid());
        QModelIndex holiday = ChildNamed(tree, photos, "Holiday");
        QVERIFY(holiday.isValid());
        QCOMPARE(ColumnTexts(tree, 0, photos), (QStringList{"Holiday", "Sunset.jpg"}));
        QCOMPARE(ColumnTexts(tree, 0, holiday), QStringList{"Scan.tif"});
        QVERIFY(tree.setData(holiday, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(tree.data(holiday, Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(tree.data(photos, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(m_pModel->GetIndex().CountTicked(-1, -1), uint64_t(1));
        QCOMPARE(tree.GetTreePath(tree.RowOf(tree.index(0, 0, holiday))),
                 std::string("Photos/Holiday/"));
        tree.setData(holiday, Qt::Unchecked, Qt::CheckStateRole);
        QCOMPARE(m_pModel->GetIndex().CountTicked(-1, -1), uint64_t(0));
    }

    void cleanupTestCase() {
        m_pModel.reset();
        m_pEngine.reset();
    }

private:
    CTempDir m_dir;
    std::unique_ptr<IFileRecoveryParse> m_pEngine;
    std::unique_ptr<CResultTableModel> m_pModel;
};

int RunResultBrowserTest(int argc, char** argv) {
    ResultBrowserTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ResultBrowserTest.moc"
