// orvanne-cli: the recovery engines from the command line.
#include "cli/CScanCommand.h"
#include "cli/CScanOptions.h"
#include "cli/DisksCommand.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_USAGE = 2;

constexpr const char* USAGE =
    "usage: orvanne-cli [--verbose] COMMAND ...\n"
    "  disks [--image PATH]...\n"
    "  scan TARGET [--types LIST] [--fast] [--json FILE] [--min-size BYTES] [--report FILE]\n"
    "  recover TARGET --to DIR [--types LIST] [--fast] [--name GLOB]... "
    "[--layout category|tree]\n"
    "          [--min-size BYTES] [--report FILE] [--force]\n"
    "TARGET: an image or device path, or --disk N; add --partition K for one partition\n"
    "LIST: photo,music,video,office,archive,other,all (default all)\n";

void LogToStderr(const char* pLine) {
    std::fputs(pLine, stderr);
}

int UsageError(const std::string& strWhy = std::string()) {
    if (!strWhy.empty())
        std::fprintf(stderr, "orvanne-cli: %s\n", strWhy.c_str());
    std::fputs(USAGE, stderr);
    return EXIT_USAGE;
}

int RunDisks(const std::vector<std::string>& vecArgs) {
    std::vector<std::string> vecImages;
    for (size_t i = 0; i < vecArgs.size(); ++i) {
        if (vecArgs[i] != "--image" || i + 1 >= vecArgs.size())
            return UsageError();
        vecImages.push_back(vecArgs[++i]);
    }
    return RunDisksCommand(vecImages);
}

int RunScanOrRecover(const std::vector<std::string>& vecArgs, bool bRecover) {
    CScanOptions options;
    if (!options.Parse(vecArgs, bRecover))
        return UsageError(options.GetError());
    CScanCommand command(options);
    return bRecover ? command.RunRecover() : command.RunScan();
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
    std::string strCommand = argv[nArg];
    std::vector<std::string> vecArgs(argv + nArg + 1, argv + argc);
    if (strCommand == "disks")
        return RunDisks(vecArgs);
    if (strCommand == "scan" || strCommand == "recover")
        return RunScanOrRecover(vecArgs, strCommand == "recover");
    return UsageError();
}
