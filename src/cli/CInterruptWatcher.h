// Ctrl-C and SIGTERM for the command line, taken by a thread of their own instead of a handler.
#pragma once

// The first signal asks the running operation to stop at its next progress report; a second one
// ends the process at once (status 130) after removing the partial file being written.
class CInterruptWatcher {
public:
    // Blocks both signals in every thread and starts the thread that waits for them; call it
    // before any other thread starts.
    static void Start();
    static bool IsStopRequested();
    // The operation that was asked to stop has stopped: the next one runs until a new signal.
    static void AcknowledgeStop();
};
