// What the front ends may ask of a deep scan beyond the engine interface: whether a stored scan of
// the volume will be taken up, and to start afresh instead.
#pragma once

class IDeepScanControl {
public:
    // 1 when a stored, resumable scan of this volume was found at Init.
    virtual int IsFindLogFile() const = 0;
    // Forgets (and deletes) the stored scan, so the next ScanDevice starts afresh.
    virtual void SetNotLoadLogFile() = 0;

protected:
    ~IDeepScanControl() = default;
};
