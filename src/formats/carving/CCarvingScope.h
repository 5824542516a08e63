// The carving judge's class-wide state for one test or fuzz input: reset on entry and on exit,
// with the shared read buffer held meanwhile.
#pragma once

#include "formats/carving/CFileTypeJudge.h"

class CCarvingScope {
public:
    CCarvingScope();
    ~CCarvingScope();
    CCarvingScope(const CCarvingScope&) = delete;
    CCarvingScope& operator=(const CCarvingScope&) = delete;

private:
    CFileTypeJudge m_judge;
};
