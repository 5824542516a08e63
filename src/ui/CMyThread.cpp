// Worker thread: calls the work function it was given once, on its own thread.
#include "ui/CMyThread.h"

CMyThread::CMyThread(QObject* pParent) : QThread(pParent) {}

CMyThread::~CMyThread() {
    wait();
}

void CMyThread::SetFunc(WorkFunc pFunc, void* pParam) {
    m_pFunc = pFunc;
    m_pParam = pParam;
}

void CMyThread::run() {
    if (m_pFunc == nullptr)
        return;
    int nResult = 0;
    m_pFunc(m_pParam, nResult);
}
