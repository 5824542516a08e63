// The result page: categories, icons and folders of found files; ticks by mouse on any box and by
// keyboard, followed by the selection, the summary and the files written; sorting by a header
// click and filtering as one types; honest recovery outcomes; the destination question; the
// preview in hex, picture and message form.
#include "UiTestSupport.h"
#include "fixtures/FixtureUtil.h"
#include "ui/CResultTableModel.h"
#include "ui/FileTypeIcon.h"

#include <QDateEdit>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

namespace {
bool SameIcon(const QIcon& icon, const QString& strResource) {
    return icon.pixmap(32).toImage() == QIcon(strResource).pixmap(32).toImage();
}

QString Summary(QWidget& window) {
    return FindLabel(window, "Select ", "Select Desired");
}

QStringList Column(const QAbstractItemModel& model, int nColumn) {
    QStringList list;
    for (int nRow = 0; nRow < model.rowCount(); ++nRow)
        list << model.index(nRow, nColumn).data().toString();
    return list;
}
} // namespace

class ResultPageTest : public QObject {
    Q_OBJECT
private slots:
    void IconsOfEveryExtension() {
        QCOMPARE(GetExtendNameIcon(".jpg"), QString(":/image/FileIcon/image.png"));
        QCOMPARE(GetExtendNameIcon("rtf"), QString(":/image/FileIcon/office_default.png"));
        QCOMPARE(GetExtendNameIcon("m"), QString(":/image/FileIcon/other.png"));
        const QStringList listIcons =
            QString("7z accdb ace acid aiff asf at3 au avi bmp cab chm divx doc dss dv epson exe "
                    "gif gzip html ico indd jar jpg jpeg mamiya mid minolta mov mp3 mp4 mpeg music "
                    "ods ogg one other pdf png ppt psd psp rar real rmvb rps thm tif tiff tod txt "
                    "vob wma wmv wps xls xml zip audio_default default image office_default "
                    "photo_default video_default")
                .split(' ');
        for (const QString& strExt : listIcons)
            QVERIFY2(QFile::exists(GetExtendNameIcon(strExt)), qPrintable(strExt));
    }

    // Hits grouped by category and extension, and a title that counts both the hits and what
    // the scan found (two more items). Boxes of items that are not the current one, by mouse and
    // by Space: the tree, the table, the summary and the files written all follow.
    void TicksSortsAndFiltersReachTheFilesWritten() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce,
                                 {"a.jpg", "b.JPG", "c.tiff", "d.psd", "e.mp3", "f"});
        ScanFirstPartition(window, TestDiskNo());
        auto* pTree = window.findChild<QTreeWidget*>("resultTree");
        auto* pTable = window.findChild<QTableView*>("resultTable");
        QAbstractItemModel* pModel = pTable->model();
        QTreeWidgetItem* pPhoto = FindItem(pTree, "Photo(4)");
        QTreeWidgetItem* pJpg = FindItem(pTree, "jpg Files (2)", pPhoto);
        QTreeWidgetItem* pPsd = FindItem(pTree, "psd ", pPhoto);
        QTreeWidgetItem* pMusic = FindItem(pTree, "Music(1)");
        QVERIFY(SameIcon(pJpg->icon(0), ":/image/FileIcon/jpg.png") && pPhoto->isExpanded());
        QVERIFY(SameIcon(FindItem(pTree, "tiff ", pPhoto)->icon(0), ":/image/FileIcon/tif.png"));
        QVERIFY(FindItem(pTree, "unKnow Files (1)", FindItem(pTree, "Other(1)")));
        QVERIFY(FindLabel(window, "Select Desired")
                    .contains("Found 6 recoverable files after the scan, among 8 items found."));
        QVERIFY(!FindButton(window, "Recover", true)->isEnabled());
        QCOMPARE(Column(*pModel, COLUMN_NAME).join(' '),
                 QString("a.jpg b.JPG c.tiff d.psd e.mp3 f")); // every hit at first

        pTree->setCurrentItem(pJpg);
        ClickCheckBox(pTree, pTree->indexFromItem(pPsd));
        QCOMPARE(pPsd->checkState(0), Qt::Checked);
        QCOMPARE(pPhoto->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(Summary(window), QString("Select 4.00 KB in 1 file"));

        ClickCheckBox(pTree, pTree->indexFromItem(pMusic));
        QCOMPARE(FindItem(pTree, "mp3 ", pMusic)->checkState(0), Qt::Checked);
        QCOMPARE(window.GetResultModel()->GetIndex().CountTicked(-1, -1), 2u);

        pTree->setCurrentItem(pJpg);
        QCOMPARE(pModel->rowCount(), 2);
        ClickCheckBox(pTable, pModel->index(1, 0));
        QCOMPARE(pJpg->checkState(0), Qt::PartiallyChecked);
        pTable->setCurrentIndex(pModel->index(0, 1));
        QTest::keyClick(pTable, Qt::Key_Space);
        QCOMPARE(pModel->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(pJpg->checkState(0), Qt::Checked);
        QCOMPARE(Summary(window), QString("Select 12.00 KB in 4 files"));

        pTree->setCurrentItem(pMusic);
        QTest::keyClick(pTree, Qt::Key_Space);
        QCOMPARE(pMusic->checkState(0), Qt::Unchecked);
        pPhoto->setCheckState(0, Qt::Checked);
        QCOMPARE(pTree->topLevelItem(1)->child(2)->checkState(0), Qt::Checked);
        CTempDir out;
        const QString strOut = QString::fromStdString(out.Path());
        for (int nRun = 0; nRun < 3; ++nRun) {
            const RECOVERY_VIEW view = RecoverAndWatch(window, strOut);
            QCOMPARE(view.strHeader, QString("  Recovery Detail\n  Sucess:4 Failed:0\n"));
            QCOMPARE(view.strStatus, QString("  4 recovered, 0 failed"));
            if (nRun == 0)
                QCOMPARE(FilesBelow(strOut), QStringList({"photo/a.jpg", "photo/b.JPG",
                                                          "photo/c.tiff", "photo/d.psd"}));
        }
        // Later runs take free names beside the earlier files.
        QCOMPARE(FilesBelow(strOut).size(), 12);
        QCOMPARE(FilesBelow(strOut).filter("/a").join(' '),
                 QString("photo/a(1).jpg photo/a(2).jpg photo/a.jpg"));
        QCOMPARE(ReadAll(strOut + "/photo/a(2).jpg"), QByteArray("a.jpg"));
        QCOMPARE(window.m_log.vecBaseDepths.front(), int(strOut.count('/')));

        // A header click sorts, a second one turns the order; the name box takes wildcards and a
        // part of a name, the size boxes take units, the date boxes take whole days, and they
        // narrow together.
        pTree->setCurrentItem(FindItem(pTree, "All files(6)"));
        QCOMPARE(Column(*pModel, COLUMN_STATE).first(), QString("Present"));
        QHeaderView* pHeader = pTable->horizontalHeader();
        const QPoint sizeHeader(pHeader->sectionViewportPosition(COLUMN_SIZE) + 5, 5);
        QTest::mouseClick(pHeader->viewport(), Qt::LeftButton, {}, sizeHeader);
        const QString strFirst =
            pHeader->sortIndicatorOrder() == Qt::AscendingOrder ? "a.jpg" : "f";
        QCOMPARE(pModel->index(0, COLUMN_NAME).data().toString(), strFirst);
        QTest::mouseClick(pHeader->viewport(), Qt::LeftButton, {}, sizeHeader);
        QVERIFY(pModel->index(0, COLUMN_NAME).data().toString() != strFirst);

        pTree->setCurrentItem(FindItem(pTree, "Music("));
        QCOMPARE(pModel->rowCount(), 1);
        pTree->setCurrentItem(FindItem(pTree, "All files(6)"));
        QCOMPARE(pModel->rowCount(), 6);

        QList<QLineEdit*> listBoxes = window.findChildren<QLineEdit*>();
        auto Box = [&](const QString& strHint) {
            for (QLineEdit* pBox : listBoxes)
                if (pBox->placeholderText().startsWith(strHint))
                    return pBox;
            return static_cast<QLineEdit*>(nullptr);
        };
        QTest::keyClicks(Box("Name"), "PS");
        QCOMPARE(Column(*pModel, COLUMN_NAME), QStringList({"d.psd"}));
        Box("Name")->clear();
        QTest::keyClicks(Box("Name"), "*.jp*");
        QCOMPARE(pModel->rowCount(), 2);
        QTest::keyClicks(Box("Min size"), "2k");
        QCOMPARE(Column(*pModel, COLUMN_NAME), QStringList({"b.JPG"}));
        Box("Name")->clear();
        Box("Min size")->setText("3.5 KiB");
        QTest::keyClicks(Box("Max size"), "5 kb");
        QStringList listNames = Column(*pModel, COLUMN_NAME);
        listNames.sort();
        QCOMPARE(listNames, QStringList({"d.psd", "e.mp3"}));
        Box("Max size")->setText("five");
        QCOMPARE(pModel->rowCount(), 3); // a size it cannot read is no bound
        Box("Min size")->clear();
        for (QDateEdit* pDate : window.findChildren<QDateEdit*>())
            pDate->setDate(pDate->toolTip().contains("after") ? QDate(2020, 1, 4)
                                                              : QDate(2020, 1, 5));
        listNames = Column(*pModel, COLUMN_NAME);
        listNames.sort();
        QCOMPARE(listNames, QStringList({"c.tiff", "d.psd"})); // both days whole
        QCOMPARE(DRUI::ParseSizeText("1.5 MB").value_or(0), 1572864u);
        QCOMPARE(DRUI::ParseSizeText("4096").value_or(0), 4096u);
    }

    // A destination on the scanned volume asks first (No writes nothing); failures are counted in
    // the dialog itself, with each reason in words in Detail.
    void FailuresAreSaidWithTheirReasons() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce,
                                 {"a.jpg", "bad.jpg", "c.jpg", "silent.jpg", "e.mp3"});
        ScanFirstPartition(window, TestDiskNo());
        auto* pTree = window.findChild<QTreeWidget*>("resultTree");
        FindItem(pTree, "Photo(4)")->setCheckState(0, Qt::Checked);
        FindItem(pTree, "Music(1)")->setCheckState(0, Qt::Checked);
        CModalAnswer refuse("CMessageBox", "No");
        window.RecoverSelectionTo(QString::fromStdString(TestDiskFolder()));
        QVERIFY(refuse.Answered() && window.m_log.vecBaseDepths.empty());
        QVERIFY(!QDir(QString::fromStdString(TestDiskFolder() + "/photo")).exists());
        CTempDir out;
        QVERIFY(WriteFileBytes(out.File("audio"), {'x'}));
        const RECOVERY_VIEW view = RecoverAndWatch(window, QString::fromStdString(out.Path()));
        QCOMPARE(view.strStatus, QString("  2 recovered, 3 failed\n  Press Detail to see why each "
                                         "file failed."));
        QCOMPARE(view.strHeader, QString("  Recovery Detail\n  Sucess:2 Failed:3\n"));
        const QString strEio = "Failed: " + QString::fromLocal8Bit(std::strerror(EIO));
        QVERIFY2(view.listRows[0].startsWith("Failed: a file stands where its folder should be ") &&
                     view.listRows[0].endsWith(" audio/e.mp3"),
                 qPrintable(view.listRows.join('\n')));
        QVERIFY(view.listRows[1].startsWith(strEio + " "));
        QVERIFY(view.listRows[1].endsWith(" photo/silent.jpg"));
        QVERIFY(view.listRows[2].endsWith(" photo/bad.jpg"));
        QVERIFY(view.listRows[3].startsWith("Success "));
        QCOMPARE(FilesBelow(QString::fromStdString(out.Path())),
                 QStringList({"audio", "photo/a.jpg", "photo/c.jpg"}));
    }

    // Pictures fit the area; a type without a decoder, an empty file and a category node each
    // replace the previous picture; other files show their bytes; the previewed row is selected.
    void PreviewShowsWhatTheFileIs() {
        CTempDir pictures;
        const QString strWide = QString::fromStdString(pictures.File("tmp.png"));
        QImage wide(1400, 300, QImage::Format_RGB32);
        wide.fill(Qt::red);
        QVERIFY(wide.save(strWide));
        const QString strTiff = QString::fromStdString(pictures.File("tmp.tif"));
        QVERIFY(QImage(64, 32, QImage::Format_RGB32).save(strTiff, "TIFF"));
        CFakeEngineWindow window(EFakeScan::FinishAtOnce,
                                 {"p.png", "q.psd", "note.txt", "empty.txt", "r.png"});
        window.m_log.strPicturePath = strWide.toStdU16String();
        ScanFirstPartition(window, TestDiskNo());
        auto* pTree = window.findChild<QTreeWidget*>("resultTree");
        auto* pTable = window.findChild<QTableView*>("resultTable");
        QAbstractItemModel* pModel = pTable->model();
        auto* pLabel = window.findChild<QLabel*>("previewLabel");
        auto* pText = window.findChild<QPlainTextEdit*>("previewText");
        auto* pStack = window.findChild<QStackedWidget*>();
        QTreeWidgetItem* pPhoto = FindItem(pTree, "Photo(");
        pTree->setCurrentItem(FindItem(pTree, "png ", pPhoto));
        QVERIFY(pLabel->isVisible() && !pLabel->pixmap().isNull());
        QVERIFY(pLabel->pixmap().width() <= pStack->width());
        QVERIFY(pLabel->pixmap().height() <= pStack->height());

        window.m_log.strPicturePath = strTiff.toStdU16String();
        pTable->selectRow(1);
        QCOMPARE(pLabel->pixmap().size(), QSize(64, 32));
        QCOMPARE(pTable->selectionModel()->selectedRows().front().data().toString(),
                 QString("r.png"));

        const QString strPsd = QString::fromStdString(pictures.File("tmp.psd"));
        QVERIFY(WriteFileBytes(strPsd.toStdString(), {'8', 'B', 'P', 'S', 0, 1}));
        window.m_log.strPicturePath = strPsd.toStdU16String();
        pTree->setCurrentItem(FindItem(pTree, "psd ", pPhoto));
        QVERIFY(pLabel->pixmap().isNull());
        QCOMPARE(pLabel->text(), QString("No preview for this type"));

        pTree->setCurrentItem(FindItem(pTree, "txt ", FindItem(pTree, "Office(")));
        // Sixteen bytes a line: the offset, the bytes in hex and as text.
        QCOMPARE(pText->toPlainText(),
                 "00000000  6e 6f 74 65 2e 74 78 74" + QString(27, ' ') + "note.txt\n");
        const unsigned char bytes[] = {0x41, 0x00, 0x42};
        QVERIFY(DRUI::WinHexText(bytes, 3).startsWith("00000000  41 00 42 "));
        QVERIFY(DRUI::WinHexText(bytes, 3).endsWith(" A.B\n"));
        QVERIFY(pText->isVisible());
        window.tableItemClick(pModel->index(1, 0));
        QCOMPARE(pModel->index(1, 0).data().toString(), QString("empty.txt"));
        QVERIFY(pText->toPlainText().isEmpty() && pTable->selectionModel()->isRowSelected(1));

        // A category shows all its files.
        pTree->setCurrentItem(pPhoto);
        QCOMPARE(Column(*pModel, COLUMN_NAME), QStringList({"p.png", "q.psd", "r.png"}));
        QVERIFY(pTable->selectionModel()->isRowSelected(0));
    }
};

UI_TEST_CLASS(ResultPageTest);

#include "ResultPageTest.moc"
