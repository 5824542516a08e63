// The question dialog's answers: Yes, No, and closed without a button.
#include "ui/CMessageBox.h"
#include "UiTestSupport.h"

#include <QPushButton>
#include <QTest>

class CMessageBoxTest : public QObject {
    Q_OBJECT
private slots:
    void YesAnswersOne() {
        CMessageBox box;
        box.InitQuestionDialog("Are you sure to cancel the scanning?", false);
        CModalAnswer answer("CMessageBox", "Yes");
        box.exec();
        QVERIFY(answer.Answered());
        QCOMPARE(box.GetMessageBoxRet(), 1);
    }

    void NoAnswersZero() {
        CMessageBox box;
        box.InitQuestionDialog("Are you sure to cancel the scanning?", false);
        CModalAnswer answer("CMessageBox", "No");
        box.exec();
        QCOMPARE(box.GetMessageBoxRet(), 0);
    }

    void ClosedWithoutButtonAnswersZero() {
        CMessageBox box;
        box.InitQuestionDialog("Are you sure to cancel the searching?", false);
        QTimer::singleShot(50, &box, &QWidget::close);
        box.exec();
        QCOMPARE(box.GetMessageBoxRet(), 0);
    }

    void LaidOutAtItsSizeWithNoLeftOfYes() {
        CMessageBox box;
        box.InitQuestionDialog("Are you sure to cancel the scanning?", false);
        box.show();
        QCOMPARE(box.size(), QSize(400, 150));
        QPushButton* pNo = nullptr;
        QPushButton* pYes = nullptr;
        for (QPushButton* pButton : box.findChildren<QPushButton*>()) {
            if (pButton->text() == "No")
                pNo = pButton;
            if (pButton->text() == "Yes")
                pYes = pButton;
        }
        QVERIFY(pNo && pYes);
        QVERIFY(pNo->mapTo(&box, QPoint()).x() < pYes->mapTo(&box, QPoint()).x());
    }

    void InfoOnlyHasOneOkButton() {
        CMessageBox box;
        box.InitQuestionDialog("The image file cannot be opened.", true);
        const auto listButtons = box.findChildren<QPushButton*>();
        QCOMPARE(listButtons.size(), 1);
        QCOMPARE(listButtons.front()->text(), QString("OK"));
    }
};

int RunCMessageBoxTest(int argc, char** argv) {
    CMessageBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CMessageBoxTest.moc"
