// Main window pages: the file-kind check boxes, the device tree over registered images, image
// adding, navigation, and the keyboard and mouse rules of the frameless window.
#include "UiTestSupport.h"
#include "device/CDiskRegistry.h"
#include "fixtures/FixtureUtil.h"
#include "ui/CHelpDialog.h"
#include "ui/UiMetaTypes.h"
#include "ui/UiStyle.h"
#include "util/TextUtil.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

#include <map>

namespace {
QCheckBox* FindCheckBox(QWidget& window, const QString& strText) {
    for (QCheckBox* pBox : window.findChildren<QCheckBox*>())
        if (pBox->text() == strText)
            return pBox;
    return nullptr;
}

QPushButton* FindButton(QWidget& window, const QString& strText) {
    for (QPushButton* pButton : window.findChildren<QPushButton*>())
        if (pButton->text() == strText)
            return pButton;
    return nullptr;
}

// Opens a help page through its button and returns the text the viewer showed.
QString ShownHelpText(DRUI& window, void (DRUI::*pSlot)()) {
    QString strShown;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* pDialog = qobject_cast<CHelpDialog*>(QApplication::activeModalWidget());
        if (pDialog == nullptr)
            return;
        strShown = pDialog->findChild<QTextBrowser*>()->toPlainText();
        timer.stop();
        pDialog->accept();
    });
    timer.start(20);
    (window.*pSlot)();
    return strShown;
}

QTreeWidgetItem* FindDiskItem(QTreeWidget* pTree, int nDiskNo) {
    const QString strLabel = QString("Physical Driver %1").arg(nDiskNo);
    for (int i = 0; i < pTree->topLevelItemCount(); ++i)
        if (pTree->topLevelItem(i)->text(0) == strLabel)
            return pTree->topLevelItem(i);
    return nullptr;
}

void ClickItem(QTreeWidget* pTree, QTreeWidgetItem* pItem) {
    const QRect rcItem = pTree->visualItemRect(pItem);
    QTest::mouseClick(pTree->viewport(), Qt::LeftButton, {}, rcItem.center());
}

} // namespace

class DruiPagesTest : public QObject {
    Q_OBJECT
private slots:
    void UncheckingKindsOneByOneEndsWithStartDisabled() {
        DRUI window;
        window.Init();
        QCheckBox* pAll = FindCheckBox(window, " Recover All");
        QPushButton* pStart = FindButton(window, "Start");
        QVERIFY(pAll && pStart);
        QCOMPARE(pAll->checkState(), Qt::Checked);
        QVERIFY(pStart->isEnabled());

        FindCheckBox(window, "Photo")->setChecked(false);
        QCOMPARE(pAll->checkState(), Qt::PartiallyChecked);
        QVERIFY(pStart->isEnabled());
        FindCheckBox(window, "Music")->setChecked(false);
        QCOMPARE(pAll->checkState(), Qt::PartiallyChecked);
        QVERIFY(pStart->isEnabled());
        QVERIFY(FindCheckBox(window, "Video")->isChecked());
        FindCheckBox(window, "Video")->setChecked(false);
        QCOMPARE(pAll->checkState(), Qt::Unchecked);
        QVERIFY(!pStart->isEnabled());
        QCOMPARE(pStart->styleSheet(), main_button_style_no_file);
    }

    void ClickingRecoverAllIntoPartialChecksEverything() {
        DRUI window;
        window.Init();
        window.show();
        QCheckBox* pAll = FindCheckBox(window, " Recover All");
        pAll->setCheckState(Qt::Unchecked);
        QVERIFY(!FindCheckBox(window, "Photo")->isChecked());
        QTest::mouseClick(pAll, Qt::LeftButton);
        QCOMPARE(pAll->checkState(), Qt::Checked);
        for (const char* pKind : {"Photo", "Music", "Video"})
            QVERIFY(FindCheckBox(window, pKind)->isChecked());
        QPushButton* pStart = FindButton(window, "Start");
        QVERIFY(pStart->isEnabled());
        QCOMPARE(pStart->styleSheet(), main_button_style_);
    }

    void DeviceTreeListsRegisteredImagesWithTheirPartitions() {
        CTempDir dir;
        const std::string strA = MakePartitionedImage(
            dir.File("a.img"), 32, "start=2048, size=20480\\nstart=22528, size=40960\\n");
        const std::string strB = MakePartitionedImage(
            dir.File("b.img"), 16, "start=2048, size=8192\\nstart=10240, size=12288\\n");
        QVERIFY(!strA.empty() && !strB.empty());
        const int nDiskA = CDiskRegistry::GetInstance().AddImage(strA);
        const int nDiskB = CDiskRegistry::GetInstance().AddImage(strB);
        QVERIFY(nDiskA >= 0 && nDiskB == nDiskA + 1);

        DRUI window;
        window.Init();
        window.btnSlot();
        window.show();
        auto* pTree = window.findChild<QTreeWidget*>();
        QVERIFY(pTree);
        QCOMPARE(pTree->headerItem()->text(0), QString("Name"));
        QCOMPARE(pTree->headerItem()->text(1), QString("Size"));
        QTreeWidgetItem* pDiskA = FindDiskItem(pTree, nDiskA);
        QTreeWidgetItem* pDiskB = FindDiskItem(pTree, nDiskB);
        QVERIFY(pDiskA && pDiskB);
        QCOMPARE(pDiskA->childCount(), 2);
        QCOMPARE(pDiskB->childCount(), 2);
        QVERIFY(pDiskA->isExpanded() && pDiskB->isExpanded());
        QCOMPARE(pDiskA->text(1), QString());
        QCOMPARE(pDiskA->child(0)->text(1), QString("10.00 MB"));
        QCOMPARE(pDiskA->child(1)->text(1), QString("20.00 MB"));
        QCOMPARE(pDiskB->child(0)->text(1), QString("4.00 MB"));
        QCOMPARE(pDiskB->child(1)->text(1), QString("6.00 MB"));
        std::map<int, std::vector<PARTITION_ITEM>> mapItems;
        CPartitionManager().GetPartitionItems(mapItems);
        QCOMPARE(pDiskB->child(1)->text(0), QString::fromUtf16(mapItems[nDiskB][1].wszName));
        const auto itemB1 = pDiskB->child(1)->data(0, Qt::UserRole).value<PARTITION_ITEM>();
        QCOMPARE(itemB1.u64StartSector, uint64_t(10240));
        QCOMPARE(itemB1.u64EndSector, uint64_t(10240 + 12288 - 1));
        QCOMPARE(pTree->currentItem(), pDiskB->child(1));

        const auto diskB = pDiskB->data(0, Qt::UserRole).value<PARTITION_ITEM>();
        QCOMPARE(diskB.nDiskNo, uint32_t(nDiskB));
        QCOMPARE(diskB.u64StartSector, uint64_t(0));
        QCOMPARE(diskB.u64EndSector, uint64_t(16 * 2048 - 1));

        QPushButton* pScan = FindButton(window, "Scan");
        QVERIFY(pScan->isEnabled());
        ClickItem(pTree, pDiskA);
        QVERIFY(!pScan->isEnabled());
        QCOMPARE(pScan->styleSheet(), main_button_style_no_file);
        ClickItem(pTree, pDiskA->child(0));
        QVERIFY(pScan->isEnabled());
        QCOMPARE(pScan->styleSheet(), main_button_style_);
    }

    void AddedImageJoinsTheTreeOnce() {
        CTempDir dir;
        const std::string strC =
            MakePartitionedImage(dir.File("c.img"), 8, "start=2048, size=4096\\n");
        QVERIFY(!strC.empty());
        DRUI window;
        window.Init();
        window.btnSlot();
        auto* pTree = window.findChild<QTreeWidget*>();
        const int nBefore = pTree->topLevelItemCount();
        QVERIFY(window.AddImageDisk(QString::fromStdString(strC)));
        QCOMPARE(pTree->topLevelItemCount(), nBefore + 1);
        QTreeWidgetItem* pDisk = pTree->topLevelItem(nBefore);
        QCOMPARE(pDisk->childCount(), 1);
        QCOMPARE(pDisk->child(0)->text(1), QString("2.00 MB"));
        QCOMPARE(pTree->currentItem(), pDisk->child(0));
        QVERIFY(FindButton(window, "Scan")->isEnabled());

        QVERIFY(window.AddImageDisk(QString::fromStdString(strC)));
        QCOMPARE(pTree->topLevelItemCount(), nBefore + 1);
        QVERIFY(!window.AddImageDisk(QString::fromStdString(dir.File("missing.img"))));
        QCOMPARE(pTree->topLevelItemCount(), nBefore + 1);
    }

    void StartAndBackWalkThePages() {
        DRUI window;
        window.Init();
        window.show();
        auto* pTree = window.findChild<QTreeWidget*>();
        QVERIFY(!pTree->isVisible());
        QTest::mouseClick(FindButton(window, "Start"), Qt::LeftButton);
        QVERIFY(pTree->isVisible());
        QTest::mouseClick(FindButton(window, "Back"), Qt::LeftButton);
        QVERIFY(!pTree->isVisible());
        QVERIFY(FindCheckBox(window, "Photo")->isVisible());
    }

    void HelpSupportAndAboutAreLocalPages() {
        DRUI window;
        window.Init();
        window.show();
        QVERIFY(ShownHelpText(window, &DRUI::btnHelpSlot).contains("Using Orvanne"));
        QVERIFY(ShownHelpText(window, &DRUI::btnSupportSlot).contains("Log.txt"));
        QVERIFY(ShownHelpText(window, &DRUI::btnAboutSlot).contains("Version " ORVANNE_VERSION));
        for (const char* pPage : {":/help/help.html", ":/help/support.html", ":/help/about.html"}) {
            QFile page(pPage);
            QVERIFY(page.open(QIODevice::ReadOnly));
            QVERIFY2(!page.readAll().contains("http"), pPage);
        }
    }

    void EscapeIsIgnoredAndARightClickCloses() {
        DRUI window;
        window.Init();
        window.show();
        QCOMPARE(window.size(), QSize(1000, 660));
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());
        QWidget* pBody = window.findChild<QWidget*>("kindBody");
        QVERIFY(pBody);
        QTest::mouseClick(pBody, Qt::RightButton, {}, QPoint(10, 10));
        QVERIFY(!window.isVisible());
    }
};

int RunDruiPagesTest(int argc, char** argv) {
    DruiPagesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DruiPagesTest.moc"
