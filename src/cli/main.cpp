// orvanne-cli: the recovery engines from the command line.
#include "cli/DisksCommand.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* USAGE = "usage: orvanne-cli [--verbose] disks [--image PATH]...\n";

void LogToStderr(const char* pLine) {
    std::fputs(pLine, stderr);
}

int UsageError() {
    std::fputs(USAGE, stderr);
    return 2;
}

int RunDisks(int argc, char** argv, int nFirst) {
    std::vector<std::string> vecImages;
    for (int i = nFirst; i < argc; ++i) {
        if (std::strcmp(argv[i], "--image") != 0 || i + 1 >= argc)
            return UsageError();
        vecImages.push_back(argv[++i]);
    }
    return RunDisksCommand(vecImages);
}

} // namespace

int main(int argc, char** argv) {
    inner_initUnicodeMap("UTF-8");
    int nArg = 1;
    if (nArg < argc && std::strcmp(argv[nArg], "--verbose") == 0) {
        SetDebugLogSink(LogToStderr);
        ++nArg;
    }
    if (nArg >= argc)
        return UsageError();
    if (std::strcmp(argv[nArg], "disks") == 0)
        return RunDisks(argc, argv, nArg + 1);
    return UsageError();
}
