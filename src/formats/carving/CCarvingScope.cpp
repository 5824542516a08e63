// Resets the carving state around one test or fuzz input.
#include "formats/carving/CCarvingScope.h"

CCarvingScope::CCarvingScope() {
    CFileTypeJudge::ResetClassState();
}

CCarvingScope::~CCarvingScope() {
    CFileTypeJudge::ResetClassState();
}
