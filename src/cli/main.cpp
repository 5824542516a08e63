// orvanne-cli: the recovery engines from the command line.
#include "cli/CArgumentVector.h"
#include "cli/CInterruptWatcher.h"
#include "cli/CScanCommand.h"
#include "cli/CScanOptions.h"
#include "cli/CliExit.h"
#include "cli/DisksCommand.h"
#include "util/DebugLog.h"
#include "util/TextUtil.h"

#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>
#include <vector>

namespace {

constexpr const char* USAGE =
    "usage: orvanne-cli [--verbose] COMMAND [OPTIONS] [TARGET]\n"
    "       orvanne-cli --help | --version | help COMMAND\n"
    "commands:\n"
    "  disks     list the disks and their partitions\n"
    "  scan      scan a disk, partition or image and list the files found\n"
    "  recover   scan, then copy the files found into a folder\n"
    "TARGET: an image or device path, or --disk N; add --partition K for one partition\n";

constexpr const char* DISKS_HELP =
    "usage: orvanne-cli disks [--image PATH]...\n"
    "Lists every disk as \"Physical Driver N\" with its partitions: name, size, first and last\n"
    "sector. --image adds a disk image (repeatable). A partition table entry that runs past the\n"
    "end of its disk is clamped to the disk, and said so on stderr.\n";

constexpr const char* SCAN_HELP =
    "usage: orvanne-cli scan TARGET [OPTIONS]\n"
    "Scans the target (deep scan by default) and prints the files found by category.\n"
    "  --disk N          the N-th disk of `orvanne-cli disks` instead of a path\n"
    "  --partition K     only the K-th partition of the target\n"
    "  --types LIST      photo,music,video,office,archive,other,all (default all)\n"
    "  --fast            walk only the file system's own structures\n"
    "  --min-size BYTES  leave out smaller files\n"
    "  --json FILE       write every hit to FILE (a new file) as JSON\n"
    "  --report FILE     write a DFXML report to FILE (a new file)\n"
    "  --force           write the scan log or reports even on the device being scanned\n"
    "Exit status: 0 done, 2 could not run (or the scan failed), 130 stopped by Ctrl-C.\n"
    "Ctrl-C stops the scan and lists what was found so far; a second Ctrl-C quits at once.\n";

constexpr const char* RECOVER_HELP =
    "usage: orvanne-cli recover TARGET --to DIR [OPTIONS]\n"
    "Scans the target, then writes every hit to DIR/<category>/<name>, never over a file:\n"
    "a taken name becomes name(1).ext. Each file is written as name.part and renamed when\n"
    "complete; a sector that cannot be read is written as zeros and the file is listed DAMAGED,\n"
    "as is a file whose format (PNG, JPEG, ZIP, gzip, PDF, FLAC, Ogg, MP3, MP4) does not decode\n"
    "whole.\n"
    "  --to DIR          the destination folder (refused on the device being recovered)\n"
    "  --layout L        category (default) or tree (the folders of the volume)\n"
    "  --name GLOB       only files whose name matches (repeatable, case-insensitive)\n"
    "  --keep-partial    keep a file that failed part-way as name.part (listed PARTIAL)\n"
    "  --force           write even onto the device being recovered\n"
    "  --disk, --partition, --types, --fast, --min-size, --report: as for scan\n"
    "Exit status: 0 all written, 1 some file failed or is damaged, 2 could not run,\n"
    "130 stopped by Ctrl-C or SIGTERM (the file being written is removed).\n";

// One line each: a line's own line break is not escaped with the rest.
void LogToStderr(const char* pLine) {
    std::string strLine(pLine);
    while (!strLine.empty() && (strLine.back() == '\n' || strLine.back() == '\r'))
        strLine.pop_back();
    std::fprintf(stderr, "%s\n", EscapeControlChars(strLine).c_str());
}

int UsageError(const std::string& strWhy, const char* pHelp = USAGE) {
    if (!strWhy.empty())
        std::fprintf(stderr, "orvanne-cli: %s\n", EscapeControlChars(strWhy).c_str());
    std::fputs(pHelp, stderr);
    return EXIT_CANNOT_RUN;
}

const char* HelpOf(const std::string& strCommand) {
    if (strCommand == "disks")
        return DISKS_HELP;
    if (strCommand == "scan")
        return SCAN_HELP;
    if (strCommand == "recover")
        return RECOVER_HELP;
    return nullptr;
}

int RunDisks(const std::vector<std::string>& vecArgs) {
    static const option OPTIONS[] = {
        {"image", required_argument, nullptr, 'i'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    CArgumentVector args("disks", vecArgs);
    optind = 0; // a fresh scan of this argument vector
    opterr = 0;
    std::vector<std::string> vecImages;
    char** ppArgv = args.Data();
    for (int nOption; (nOption = getopt_long(args.Count(), ppArgv, ":", OPTIONS, nullptr)) != -1;) {
        if (nOption == 'h') {
            std::fputs(DISKS_HELP, stdout);
            return EXIT_ALL_WRITTEN;
        }
        if (nOption != 'i')
            return UsageError(std::string(ppArgv[optind - 1]) +
                                  (nOption == ':' ? " needs a value" : ": unknown option"),
                              DISKS_HELP);
        vecImages.push_back(optarg);
    }
    if (optind < args.Count())
        return UsageError("unexpected argument '" + std::string(ppArgv[optind]) + "'", DISKS_HELP);
    return RunDisksCommand(vecImages);
}

int RunScanOrRecover(const std::vector<std::string>& vecArgs, bool bRecover) {
    const char* pHelp = bRecover ? RECOVER_HELP : SCAN_HELP;
    CScanOptions options;
    if (!options.Parse(vecArgs, bRecover))
        return UsageError(options.GetError(), pHelp);
    if (options.IsHelpWanted()) {
        std::fputs(pHelp, stdout);
        return EXIT_ALL_WRITTEN;
    }
    CScanCommand command(options);
    return bRecover ? command.RunRecover() : command.RunScan();
}

int RunHelp(const std::vector<std::string>& vecArgs) {
    if (vecArgs.empty()) {
        std::fputs(USAGE, stdout);
        return EXIT_ALL_WRITTEN;
    }
    const char* pHelp = HelpOf(vecArgs.front());
    if (pHelp == nullptr)
        return UsageError("no command '" + vecArgs.front() + "'");
    std::fputs(pHelp, stdout);
    return EXIT_ALL_WRITTEN;
}

int RunCommand(const std::string& strCommand, const std::vector<std::string>& vecArgs) {
    if (strCommand == "disks")
        return RunDisks(vecArgs);
    if (strCommand == "scan" || strCommand == "recover")
        return RunScanOrRecover(vecArgs, strCommand == "recover");
    if (strCommand == "help")
        return RunHelp(vecArgs);
    return UsageError("no command '" + strCommand + "'");
}

// A listing that could not be written (a full disk, /dev/full) must not end as a success.
int CheckStandardOutput(int nStatus) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return nStatus;
    std::fprintf(stderr, "orvanne-cli: cannot write the standard output: %s\n",
                 std::strerror(errno));
    return nStatus == EXIT_STOPPED ? nStatus : EXIT_CANNOT_RUN;
}

int Run(int argc, char** argv) {
    static const option OPTIONS[] = {
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    // "+": the global options end at the command word.
    for (int nOption; (nOption = getopt_long(argc, argv, "+", OPTIONS, nullptr)) != -1;) {
        switch (nOption) {
        case 'v':
            SetDebugLogSink(LogToStderr);
            break;
        case 'h':
            std::fputs(USAGE, stdout);
            return EXIT_ALL_WRITTEN;
        case 'V':
            std::printf("orvanne-cli %s\n", ORVANNE_VERSION);
            return EXIT_ALL_WRITTEN;
        default:
            return UsageError("unknown option '" + std::string(argv[optind - 1]) + "'");
        }
    }
    if (optind >= argc)
        return UsageError("");
    return RunCommand(argv[optind], {argv + optind + 1, argv + argc});
}

} // namespace

int main(int argc, char** argv) {
    CInterruptWatcher::Start();
    inner_initUnicodeMap("UTF-8");
    return CheckStandardOutput(Run(argc, argv));
}
