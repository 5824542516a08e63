// The result page: categories, icons and folders of found files, tick propagation and the
// selection summary, recovery into category folders with free names and the detail list, the
// destination question, and the preview in text and picture form.
#include "UiTestSupport.h"
#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"
#include "ui/CDetail.h"
#include "ui/FileTypeIcon.h"
#include "ui/SCANUI.h"
#include "util/FileCategory.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

namespace {
QTreeWidgetItem* FindChildItem(QTreeWidgetItem* pParent, const QString& strText) {
    for (int i = 0; i < pParent->childCount(); ++i)
        if (pParent->child(i)->text(0) == strText)
            return pParent->child(i);
    return nullptr;
}

QTreeWidgetItem* FindTopItem(QTreeWidget* pTree, const QString& strText) {
    for (int i = 0; i < pTree->topLevelItemCount(); ++i)
        if (pTree->topLevelItem(i)->text(0) == strText)
            return pTree->topLevelItem(i);
    return nullptr;
}

bool SameIcon(const QIcon& icon, const QString& strResource) {
    return icon.pixmap(32).toImage() == QIcon(strResource).pixmap(32).toImage();
}

QString DirOf(const QString& strFileName) {
    return QString::fromStdString(GetDirTypeByFileName(strFileName.toUtf8().constData()));
}

QByteArray ReadAll(const QString& strPath) {
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Ticks a tree node the way a click on its box does, once it is the node shown.
void TickNode(QTreeWidget* pTree, QTreeWidgetItem* pItem, Qt::CheckState nState, DRUI& window) {
    pTree->setCurrentItem(pItem);
    pItem->setCheckState(0, nState);
    window.treeItemClick(pItem, 0);
}

// What the recovery dialog showed when it finished; its Finished button is then pressed.
struct RECOVERY_VIEW {
    QString strHeader;
    QStringList listRows;
};

class CRecoveryWatcher : public QObject {
public:
    RECOVERY_VIEW m_view;
    bool m_bSeen = false;
    CRecoveryWatcher() {
        connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start(20);
    }

private:
    void Poll() {
        auto* pDialog = qobject_cast<SCANUI*>(QApplication::activeModalWidget());
        if (pDialog == nullptr)
            return;
        for (QPushButton* pButton : pDialog->findChildren<QPushButton*>()) {
            if (pButton->text() != "Finished")
                continue;
            CDetail& detail = pDialog->GetDetail();
            m_view.strHeader = detail.GetHeaderText();
            for (int nRow = 0; nRow < detail.GetTable()->rowCount(); ++nRow)
                m_view.listRows << detail.GetTable()->item(nRow, 1)->text() + " " +
                                       detail.GetTable()->item(nRow, 0)->text();
            m_bSeen = true;
            m_timer.stop();
            pButton->click();
            return;
        }
    }
    QTimer m_timer;
};
} // namespace

class ResultPageTest : public QObject {
    Q_OBJECT
private:
    CTempDir m_dir;
    int m_nDiskNo = -1;

    // A window on page 3 after a scan of the test image whose search found the names.
    void ScanTo(CFakeEngineWindow& window) {
        window.Init();
        window.btnSlot();
        window.show();
        auto* pTree = window.findChild<QTreeWidget*>();
        const QString strLabel = QString("Physical Driver %1").arg(m_nDiskNo);
        for (int i = 0; i < pTree->topLevelItemCount(); ++i)
            if (pTree->topLevelItem(i)->text(0) == strLabel)
                pTree->setCurrentItem(pTree->topLevelItem(i)->child(0));
        window.btnSlotScan();
    }

private slots:
    void initTestCase() {
        const std::string strImage =
            MakePartitionedImage(m_dir.File("result.img"), 8, "start=2048, size=8192\\n");
        QVERIFY(!strImage.empty());
        m_nDiskNo = CDiskRegistry::GetInstance().AddImage(strImage);
        QVERIFY(m_nDiskNo >= 0);
    }

    void CategoriesIconsAndFolders() {
        QCOMPARE(DirOf("a.JPG"), QString("photo"));
        QCOMPARE(DirOf("b.mp3"), QString("audio"));
        QCOMPARE(DirOf("c.pdf"), QString("document"));
        QCOMPARE(DirOf("d.avi"), QString("video"));
        QCOMPARE(DirOf("e.rtf"), QString("document"));
        QCOMPARE(DirOf("noext"), QString("others"));
        QCOMPARE(GetExtendNameIcon("jpg"), QString(":/image/FileIcon/jpg.png"));
        QCOMPARE(GetExtendNameIcon("JPEG"), QString(":/image/FileIcon/jpg.png"));
        QCOMPARE(GetExtendNameIcon("tiff"), QString(":/image/FileIcon/tif.png"));
        QCOMPARE(GetExtendNameIcon(".jpg"), QString(":/image/FileIcon/image.png"));
        QCOMPARE(GetExtendNameIcon("nef"), QString(":/image/FileIcon/image.png"));
        QCOMPARE(GetExtendNameIcon("rtf"), QString(":/image/FileIcon/office_default.png"));
        QCOMPARE(GetExtendNameIcon("m"), QString(":/image/FileIcon/other.png"));
        const char* const extensions[] = {"7z",
                                          "accdb",
                                          "ace",
                                          "acid",
                                          "aiff",
                                          "asf",
                                          "at3",
                                          "au",
                                          "avi",
                                          "bmp",
                                          "cab",
                                          "chm",
                                          "divx",
                                          "doc",
                                          "dss",
                                          "dv",
                                          "epson",
                                          "exe",
                                          "gif",
                                          "gzip",
                                          "html",
                                          "ico",
                                          "indd",
                                          "jar",
                                          "jpg",
                                          "jpeg",
                                          "mamiya",
                                          "mid",
                                          "minolta",
                                          "mov",
                                          "mp3",
                                          "mp4",
                                          "mpeg",
                                          "music",
                                          "ods",
                                          "ogg",
                                          "one",
                                          "other",
                                          "pdf",
                                          "png",
                                          "ppt",
                                          "psd",
                                          "psp",
                                          "rar",
                                          "real",
                                          "rmvb",
                                          "rps",
                                          "thm",
                                          "tif",
                                          "tiff",
                                          "tod",
                                          "txt",
                                          "vob",
                                          "wma",
                                          "wmv",
                                          "wps",
                                          "xls",
                                          "xml",
                                          "zip",
                                          "audio_default",
                                          "default",
                                          "image",
                                          "office_default",
                                          "photo_default",
                                          "video_default"};
        QCOMPARE(int(std::size(extensions)), 65);
        for (const char* pExt : extensions)
            QVERIFY2(QFile::exists(GetExtendNameIcon(pExt)), pExt);
    }

    void TreeGroupsHitsByCategoryAndExtension() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"a.JPG", "b.jpg", "c.tiff", "d"});
        ScanTo(window);
        auto* pTree = window.findChild<QTreeWidget*>("resultTree");
        QCOMPARE(pTree->topLevelItemCount(), 2);
        QTreeWidgetItem* pPhoto = FindTopItem(pTree, "Photo(3)");
        QTreeWidgetItem* pOther = FindTopItem(pTree, "Other(1)");
        QVERIFY(pPhoto && pOther);
        QTreeWidgetItem* pJpg = FindChildItem(pPhoto, "jpg Files (2)");
        QTreeWidgetItem* pTiff = FindChildItem(pPhoto, "tiff Files (1)");
        QVERIFY(pJpg && pTiff);
        QVERIFY(SameIcon(pJpg->icon(0), ":/image/FileIcon/jpg.png"));
        QVERIFY(SameIcon(pTiff->icon(0), ":/image/FileIcon/tif.png"));
        QVERIFY(FindChildItem(pOther, "unKnow Files (1)"));
        QVERIFY(pPhoto->isExpanded());
        QVERIFY(window.findChild<QLabel*>("previewLabel"));
    }

    void TicksTravelBetweenTreeAndTable() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"a.JPG", "b.jpg", "c.tiff", "d"});
        ScanTo(window);
        auto* pTree = window.findChild<QTreeWidget*>("resultTree");
        auto* pTable = window.findChild<QTableWidget*>("resultTable");
        QPushButton* pRecover = nullptr;
        for (QPushButton* pButton : window.findChildren<QPushButton*>())
            if (pButton->text() == "Recover" && pButton->isVisible())
                pRecover = pButton;
        QVERIFY(pRecover && !pRecover->isEnabled());
        QLabel* pSummary = nullptr;
        for (QLabel* pLabel : window.findChildren<QLabel*>())
            if (pLabel->text().startsWith("Select ") && pLabel->isVisible())
                pSummary = pLabel;
        QVERIFY(pSummary);
        QCOMPARE(pSummary->text(), QString("Select 0 Bytes in 0 file"));

        QTreeWidgetItem* pPhoto = FindTopItem(pTree, "Photo(3)");
        TickNode(pTree, pPhoto, Qt::Checked, window);
        QTreeWidgetItem* pJpg = FindChildItem(pPhoto, "jpg Files (2)");
        QCOMPARE(pJpg->checkState(0), Qt::Checked);
        QCOMPARE(FindChildItem(pPhoto, "tiff Files (1)")->checkState(0), Qt::Checked);
        QCOMPARE(window.GetSelection().size(), size_t(3));
        QCOMPARE(pSummary->text(), QString("Select 6.00 KB in 3 files"));
        QVERIFY(pRecover->isEnabled());

        pTree->setCurrentItem(pJpg);
        QCOMPARE(pTable->rowCount(), 2);
        QCOMPARE(pTable->item(0, 0)->checkState(), Qt::Checked);
        pTable->item(0, 0)->setCheckState(Qt::Unchecked);
        window.tableItemPress(0, 0);
        QCOMPARE(pJpg->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(pPhoto->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(window.GetSelection().size(), size_t(2));
        QCOMPARE(pSummary->text(), QString("Select 5.00 KB in 2 files"));

        pTree->setCurrentItem(FindChildItem(pPhoto, "tiff Files (1)"));
        pTree->setCurrentItem(pJpg);
        QCOMPARE(pTable->item(0, 0)->checkState(), Qt::Unchecked);
        QCOMPARE(pTable->item(1, 0)->checkState(), Qt::Checked);

        TickNode(pTree, pPhoto, Qt::Unchecked, window);
        QVERIFY(window.GetSelection().empty());
        QCOMPARE(pSummary->text(), QString("Select 0 Bytes in 0 file"));
        QVERIFY(!pRecover->isEnabled());
    }

    void SameNumbersOfDifferentEnginesStayApart() {
        FILE_NODE carved{};
        FILE_NODE fat{};
        carved.nEngineType = ENGINE_FILE_TYPE;
        fat.nEngineType = ENGINE_FAST_FAT;
        carved.nFileIndex = fat.nFileIndex = 7;
        carved.nClusterNo = fat.nClusterNo = 0;
        QVERIFY(DRUI::GetSelectionKey(carved) != DRUI::GetSelectionKey(fat));
    }

    void RecoveryWritesCategoryFoldersWithFreeNames() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"a.jpg", "b.mp3"});
        ScanTo(window);
        auto* pTree = window.findChild<QTreeWidget*>("resultTree");
        TickNode(pTree, FindTopItem(pTree, "Photo(1)"), Qt::Checked, window);
        TickNode(pTree, FindTopItem(pTree, "Music(1)"), Qt::Checked, window);
        CTempDir out;
        const QString strOut = QString::fromStdString(out.Path());
        for (int nRun = 0; nRun < 3; ++nRun) {
            CModalAnswer confirm("CMessageBox", "Yes");
            CRecoveryWatcher watcher;
            window.RecoverSelectionTo(strOut);
            QVERIFY(confirm.Answered());
            QVERIFY(watcher.m_bSeen);
            QCOMPARE(watcher.m_view.strHeader, QString("  Recovery Detail\n  Sucess:2 Failed:0\n"));
        }
        QCOMPARE(ReadAll(strOut + "/photo/a.jpg"), QByteArray("a.jpg"));
        QCOMPARE(ReadAll(strOut + "/audio/b.mp3"), QByteArray("b.mp3"));
        QCOMPARE(ReadAll(strOut + "/photo/a(1).jpg"), QByteArray("a.jpg"));
        QCOMPARE(ReadAll(strOut + "/audio/b(1).mp3"), QByteArray("b.mp3"));
        QCOMPARE(ReadAll(strOut + "/photo/a(2).jpg"), QByteArray("a.jpg"));
        int nSlashes = strOut.count('/');
        QCOMPARE(window.m_log.vecBaseDepths.front(), nSlashes - (strOut.endsWith('/') ? 1 : 0));
    }

    void FailedFileIsListedFirstAndTheRunGoesOn() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce,
                                 {"a.jpg", "bad.jpg", "c.jpg", "silent.jpg"});
        ScanTo(window);
        auto* pTree = window.findChild<QTreeWidget*>("resultTree");
        TickNode(pTree, FindTopItem(pTree, "Photo(4)"), Qt::Checked, window);
        CTempDir out;
        CModalAnswer confirm("CMessageBox", "Yes");
        CRecoveryWatcher watcher;
        window.RecoverSelectionTo(QString::fromStdString(out.Path()));
        QVERIFY(watcher.m_bSeen);
        QCOMPARE(watcher.m_view.strHeader, QString("  Recovery Detail\n  Sucess:2 Failed:2\n"));
        QCOMPARE(watcher.m_view.listRows.size(), 4);
        QVERIFY(watcher.m_view.listRows[0].startsWith("Failed "));
        QVERIFY(watcher.m_view.listRows[0].endsWith("/photo/silent.jpg"));
        QVERIFY(watcher.m_view.listRows[1].endsWith("/photo/bad.jpg"));
        QVERIFY(watcher.m_view.listRows[2].startsWith("Success "));
        QVERIFY(QFile::exists(QString::fromStdString(out.File("photo/c.jpg"))));
    }

    void DestinationOnTheScannedVolumeAsksFirst() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"a.jpg"});
        ScanTo(window);
        auto* pTree = window.findChild<QTreeWidget*>("resultTree");
        TickNode(pTree, FindTopItem(pTree, "Photo(1)"), Qt::Checked, window);
        CTempDir out;
        CModalAnswer refuse("CMessageBox", "No");
        window.RecoverSelectionTo(QString::fromStdString(out.Path()));
        QVERIFY(refuse.Answered());
        QVERIFY(window.m_log.vecSavedPaths.empty());
        QVERIFY(!QDir(QString::fromStdString(out.File("photo"))).exists());
    }

    void TextPreviewLinesOf256Bytes() {
        const std::vector<unsigned char> vecText(300, 'x');
        const QStringList listLines =
            DRUI::WinHexText(vecText.data(), int(vecText.size())).split("\r\n");
        QCOMPARE(listLines.size(), 3);
        QCOMPARE(listLines[0].size(), 256);
        QCOMPARE(listLines[1].size(), 44);
        QCOMPARE(listLines[2], QString());
        const unsigned char bytes[] = {0x41, 0x00, 0x42};
        QCOMPARE(DRUI::WinHexText(bytes, 3), QString("A.B\r\n"));
        QCOMPARE(DRUI::WinHexText(bytes, 0), QString());
        const std::vector<unsigned char> vecLine(256, 'y');
        QCOMPARE(DRUI::WinHexText(vecLine.data(), 256), QString(256, 'y') + "\r\n");
    }

    void PicturePreviewFitsTheArea() {
        CTempDir pictures;
        const QString strWide = QString::fromStdString(pictures.File("tmp.wide.png"));
        const QString strSmall = QString::fromStdString(pictures.File("tmp.small.png"));
        QImage wide(1400, 300, QImage::Format_RGB32);
        wide.fill(Qt::red);
        QVERIFY(wide.save(strWide));
        QImage small(640, 150, QImage::Format_RGB32);
        small.fill(Qt::blue);
        QVERIFY(small.save(strSmall));

        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"p.png", "note.txt"});
        window.m_log.strPicturePath = strWide.toStdU16String();
        ScanTo(window);
        auto* pTree = window.findChild<QTreeWidget*>("resultTree");
        auto* pTable = window.findChild<QTableWidget*>("resultTable");
        auto* pPreview = window.findChild<QLabel*>("previewLabel");
        pTree->setCurrentItem(FindChildItem(FindTopItem(pTree, "Photo(1)"), "png Files (1)"));
        QVERIFY(pPreview->pixmap().width() <= 700);
        QVERIFY(pPreview->pixmap().height() <= 200);
        QVERIFY(pPreview->pixmap().width() > 0);

        window.m_log.strPicturePath = strSmall.toStdU16String();
        window.tableItemClick(pTable->item(0, 0));
        QCOMPARE(pPreview->pixmap().size(), QSize(640, 150));
        QCOMPARE(pPreview->alignment(), Qt::AlignCenter);

        pTree->setCurrentItem(FindChildItem(FindTopItem(pTree, "Office(1)"), "txt Files (1)"));
        QCOMPARE(pPreview->text(), QString("note.txt\r\n"));
    }
};

int RunResultPageTest(int argc, char** argv) {
    ResultPageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ResultPageTest.moc"
