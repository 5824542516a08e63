// Shared pieces of the desktop-application tests: a scriptable engine, a window that uses it,
// partitioned disk images, finding widgets, clicking item check boxes, and a hand that answers
// modal dialogs.
#pragma once

#include "device/CPartitionManager.h"
#include "engine/IFileRecoveryParse.h"
#include "ui/DRUI.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QAbstractItemView;
class QCheckBox;
class QModelIndex;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// What the last fake engine was asked, kept after the window deleted it.
struct FAKE_ENGINE_LOG {
    int nDiskNo = -1;
    long long llStartSector = -1;
    long long llSectorCount = -1;
    char16_t wcDriveLetter = 0;
    int nRecoveryType = -1;
    int nWeight = 0;
    int nScanResult = -100;
    std::u16string strSearchKey;
    std::vector<int> vecBaseDepths; // one per file saved
    std::u16string strPicturePath;  // what a picture preview hands out
    int nCreated = 0;
    int nDeleted = 0;
};

enum class EFakeScan {
    FinishAtOnce,    // one closing report of 100 %
    RunUntilStopped, // reports until the callback says stop
    NoEngine         // the device cannot be read: no engine at all
};

// The main window with a scriptable engine in place of the factory's. The engine finds one file
// per name, of 1024 x (place + 1) bytes ("empty..." of none), modified on 2020-01-(place + 2);
// saving writes the name as the file's bytes ("bad..." fails with EIO, "silent..." without a
// report); a preview of ".png" or ".psd" hands out m_log.strPicturePath, of others the name's
// bytes.
class CFakeEngineWindow : public DRUI {
public:
    CFakeEngineWindow(EFakeScan nMode, std::vector<std::string> vecHitNames)
        : m_nMode(nMode), m_vecHitNames(std::move(vecHitNames)) {}
    FAKE_ENGINE_LOG m_log;

protected:
    IFileRecoveryParse* CreateEngine(int nDiskNo, long long llStartSector, long long llSectorCount,
                                     char16_t wcDriveLetter, RECOVERY_TYPE nRecoveryType) override;

private:
    EFakeScan m_nMode;
    std::vector<std::string> m_vecHitNames;
};

// Presses a button of the next modal dialog of the class once the condition holds (polled on the
// GUI thread); the modal dialog is handed to the condition.
class CModalAnswer : public QObject {
    Q_OBJECT
public:
    using Condition = std::function<bool(QWidget*)>;
    CModalAnswer(const char* pClassName, const QString& strButton, Condition when = {});
    bool Answered() const { return m_bAnswered; }

private slots:
    void Poll();

private:
    const char* m_pClassName;
    QString m_strButton;
    Condition m_when;
    QTimer m_timer;
    bool m_bAnswered = false;
};

// What a recovery run showed when it ended: the dialog's status text and the detail rows
// ("<status> <path>"), taken before Finished was pressed.
struct RECOVERY_VIEW {
    QString strStatus;
    QString strHeader;
    QStringList listRows;
    bool bSeen = false;
};
// Recovers the window's selection into the folder, saying Yes to any question.
RECOVERY_VIEW RecoverAndWatch(DRUI& window, const QString& strDir);

// Widgets by their text; the first visible one when bVisible.
QPushButton* FindButton(QWidget& widget, const QString& strText, bool bVisible = false);
QCheckBox* FindCheckBox(QWidget& widget, const QString& strText);
// The text of the first visible label that starts with strStart (and not with strNot).
QString FindLabel(QWidget& widget, const QString& strStart, const QString& strNot = {});
// The child (of the root when null) whose text starts with the prefix.
QTreeWidgetItem* FindItem(QTreeWidget* pTree, const QString& strPrefix,
                          QTreeWidgetItem* pParent = nullptr);
// Clicks the check box of an item as the mouse does, wherever the current item is.
void ClickCheckBox(QAbstractItemView* pView, const QModelIndex& index);
QByteArray ReadAll(const QString& strPath);
// Every file below the folder, relative to it, sorted.
QStringList FilesBelow(const QString& strDir);

// test_ui's partitioned image (8 MiB, one 4 MiB partition at sector 2048): its disk number and
// the folder that holds it.
int TestDiskNo();
const std::string& TestDiskFolder();
// Page 2 of the window with the first partition of the disk current, then Scan.
void ScanFirstPartition(DRUI& window, int nDiskNo);

// Each test class registers itself by name; test_ui runs the one its first argument names.
bool RegisterUiTestClass(const char* pName, int (*pRun)(int, char**));
#define UI_TEST_CLASS(Class)                                                                       \
    [[maybe_unused]] const bool s_bRegistered##Class =                                             \
        RegisterUiTestClass(#Class, [](int argc, char** argv) {                                    \
            Class test;                                                                            \
            return QTest::qExec(&test, argc, argv);                                                \
        })
