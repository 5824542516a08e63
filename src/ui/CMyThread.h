// The worker thread that runs one engine operation while the GUI shows its progress dialog.
#pragma once

#include <QThread>

class CMyThread : public QThread {
    Q_OBJECT
public:
    using WorkFunc = void (*)(void* pParam, int& nResult);

    explicit CMyThread(QObject* pParent = nullptr);
    // A running thread is waited for: the work may still use the objects it was given.
    ~CMyThread() override;

    void SetFunc(WorkFunc pFunc, void* pParam);

protected:
    void run() override;

private:
    WorkFunc m_pFunc = nullptr;
    void* m_pParam = nullptr;
};
