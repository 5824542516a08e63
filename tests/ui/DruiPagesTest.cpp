// Main window pages: the file-kind check boxes, the device tree over registered images, image
// adding, navigation, placement on small screens, and the keyboard and mouse rules of the
// frameless window.
#include "UiTestSupport.h"
#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"
#include "ui/CHelpDialog.h"
#include "ui/UiMetaTypes.h"
#include "ui/UiStyle.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

namespace {
// Opens a help page through its button and returns the text the viewer showed.
QString ShownHelpText(DRUI& window, void (DRUI::*pSlot)()) {
    QString strShown;
    CModalAnswer close("CHelpDialog", "Close", [&strShown](QWidget* pDialog) {
        strShown = pDialog->findChild<QTextBrowser*>()->toPlainText();
        return true;
    });
    (window.*pSlot)();
    return strShown;
}

void ClickItem(QTreeWidget* pTree, QTreeWidgetItem* pItem) {
    QTest::mouseClick(pTree->viewport(), Qt::LeftButton, {}, pTree->visualItemRect(pItem).center());
}

// Every visible button of the window lies wholly inside it.
bool ButtonsInside(QWidget& window) {
    for (QPushButton* pButton : window.findChildren<QPushButton*>())
        if (pButton->isVisible() &&
            !window.rect().contains(QRect(pButton->mapTo(&window, QPoint()), pButton->size())))
            return false;
    return true;
}
} // namespace

class DruiPagesTest : public QObject {
    Q_OBJECT
private slots:
    void KindBoxesDriveRecoverAllAndStartAndHelpPagesAreLocal() {
        DRUI window;
        window.Init();
        window.show();
        QCheckBox* pAll = FindCheckBox(window, " Recover All");
        QPushButton* pStart = FindButton(window, "Start");
        // Office, Archive and Other wait for a tick.
        QCOMPARE(pAll->checkState(), Qt::PartiallyChecked);
        QVERIFY(pStart->isEnabled() && !FindCheckBox(window, "Archive")->isChecked());
        FindCheckBox(window, "Photo")->setChecked(false);
        FindCheckBox(window, "Music")->setChecked(false);
        QVERIFY(pStart->isEnabled() && FindCheckBox(window, "Video")->isChecked());
        FindCheckBox(window, "Video")->setChecked(false);
        QCOMPARE(pAll->checkState(), Qt::Unchecked);
        QVERIFY(!pStart->isEnabled());
        QCOMPARE(pStart->styleSheet(), main_button_style_no_file);
        QTest::mouseClick(pAll, Qt::LeftButton);
        QCOMPARE(pAll->checkState(), Qt::Checked);
        for (const char* pKind : {"Photo", "Music", "Video", "Office", "Archive", "Other"})
            QVERIFY(FindCheckBox(window, pKind)->isChecked());
        QVERIFY(pStart->isEnabled());
        QCOMPARE(pStart->styleSheet(), main_button_style_);
        // Hover is not the grey of a disabled button, and keyboard focus is drawn.
        QVERIFY(!main_button_style_.contains("hover{background-color:rgb(156, 156, 156)"));
        QVERIFY(main_button_style_.contains("QPushButton:focus{border: 2px solid"));

        // Help, support and about are local pages.
        QVERIFY(ShownHelpText(window, &DRUI::btnHelpSlot).contains("Using Orvanne"));
        QVERIFY(ShownHelpText(window, &DRUI::btnSupportSlot).contains("Log.txt"));
        QVERIFY(ShownHelpText(window, &DRUI::btnAboutSlot).contains("Version " ORVANNE_VERSION));
        for (const char* pPage : {":/help/help.html", ":/help/support.html", ":/help/about.html"}) {
            QFile page(pPage);
            QVERIFY(page.open(QIODevice::ReadOnly));
            QVERIFY2(!page.readAll().contains("http"), pPage);
        }
    }

    // A disk lists its partitions with sizes and records; the last partition is current.
    void DeviceTreeListsRegisteredImagesWithTheirPartitions() {
        CTempDir dir;
        const std::string strA = MakePartitionedImage(
            dir.File("a.img"), 16, "start=2048, size=8192\\nstart=10240, size=12288\\n");
        const int nDiskA = CDiskRegistry::GetInstance().AddImage(strA);
        QVERIFY(nDiskA >= 0);
        DRUI window;
        window.Init();
        window.btnSlot();
        window.show();
        auto* pTree = window.findChild<QTreeWidget*>("diskTree");
        QTreeWidgetItem* pDiskA = FindItem(pTree, QString("Physical Driver %1").arg(nDiskA));
        QVERIFY(pDiskA && pDiskA->isExpanded() && pDiskA->text(1).isEmpty());
        QCOMPARE(pDiskA->child(0)->text(1) + " " + pDiskA->child(1)->text(1),
                 QString("4.00 MB 6.00 MB"));
        const auto item1 = pDiskA->child(1)->data(0, Qt::UserRole).value<PARTITION_ITEM>();
        QCOMPARE(item1.u64EndSector - item1.u64StartSector, uint64_t(12288 - 1));
        QCOMPARE(pTree->currentItem(), pDiskA->child(1));
        QCOMPARE(pDiskA->data(0, Qt::UserRole).value<PARTITION_ITEM>().u64EndSector,
                 uint64_t(16 * 2048 - 1));

        QPushButton* pScan = FindButton(window, "Scan");
        ClickItem(pTree, pDiskA);
        QVERIFY(!pScan->isEnabled());
        ClickItem(pTree, pDiskA->child(0));
        QVERIFY(pScan->isEnabled());

        const int nBefore = pTree->topLevelItemCount();
        QVERIFY(window.AddImageDisk(QString::fromStdString(strA)));
        QCOMPARE(pTree->topLevelItemCount(), nBefore);
        QCOMPARE(pTree->currentItem(), pDiskA);
        QVERIFY(!window.AddImageDisk(QString::fromStdString(dir.File("missing.img"))));
        const std::string strC = MakePartitionedImage(dir.File("c.img"), 8, "start=2048\\n");
        QVERIFY(window.AddImageDisk(QString::fromStdString(strC)));
        QCOMPARE(pTree->topLevelItemCount(), nBefore + 1);
        QCOMPARE(pTree->currentItem(), pTree->topLevelItem(nBefore)->child(0));
    }

    // On a 1024 x 600 screen (with or without a panel) the window opens inside the free area,
    // and at that size or its smallest every page keeps its buttons in view.
    void WindowFitsASmallScreen() {
        for (const QRect& rcFree : {QRect(0, 0, 1024, 600), QRect(0, 27, 1024, 573)}) {
            const QRect rcWindow = DRUI::GetWindowRect(rcFree);
            QVERIFY(rcFree.contains(rcWindow));
            QCOMPARE(rcWindow.width(), 1000);
        }
        QCOMPARE(DRUI::GetWindowRect(QRect(0, 0, 1920, 1080)), QRect(460, 210, 1000, 660));
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"a-very-long-name.jpg"});
        ScanFirstPartition(window, TestDiskNo());
        QVERIFY(window.minimumWidth() < 1000 && window.maximumWidth() > 1000);
        CModalAnswer yes("CMessageBox", "Yes");
        for (int nPage = 3; nPage > 0; --nPage) {
            for (const QSize& size : {QSize(1000, 573), window.minimumSize(), QSize(1200, 800)}) {
                window.resize(size);
                QCOMPARE(window.size(), size);
                QVERIFY2(ButtonsInside(window), qPrintable(QString("page %1").arg(nPage)));
            }
            window.btnSlotBack();
        }
        QVERIFY(FindButton(window, "Start", true));
    }

    // Escape and a right click leave the window alone; closing over results asks first.
    void OnlyAnAnsweredQuestionClosesOverResults() {
        CFakeEngineWindow window(EFakeScan::FinishAtOnce, {"a.jpg"});
        ScanFirstPartition(window, TestDiskNo());
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        QTest::keyClick(&window, Qt::Key_Escape);
        for (QWidget* pStrip : window.findChildren<QWidget*>("headerStrip"))
            if (pStrip->isVisible())
                QTest::mouseClick(pStrip, Qt::RightButton, {}, {300, 10});
        QVERIFY(window.isVisible());
        CModalAnswer keep("CMessageBox", "No");
        QVERIFY(!window.close());
        QVERIFY(keep.Answered() && window.isVisible());
        CModalAnswer leave("CMessageBox", "Yes");
        QVERIFY(window.close());
        QVERIFY(leave.Answered());
    }
};

UI_TEST_CLASS(DruiPagesTest);

#include "DruiPagesTest.moc"
