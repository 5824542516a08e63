// The exit statuses of orvanne-cli.
#pragma once

constexpr int EXIT_ALL_WRITTEN = 0; // everything asked for was done
constexpr int EXIT_SOME_FAILED = 1; // some file could not be recovered, or came back damaged
constexpr int EXIT_CANNOT_RUN = 2;  // bad arguments, an unusable target, destination or output
constexpr int EXIT_STOPPED = 130;   // stopped by Ctrl-C or SIGTERM
