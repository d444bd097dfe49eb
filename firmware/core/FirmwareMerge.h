#pragma once

#include "FirmwarePackage.h"

#include <QString>

#include <array>

// The value a version edit stands for: empty 0; longer than three characters cut to the
// first three; not a number 0; 256 and above 255.
int versionValue(const QString &text);

// One image to merge, as the edits hold it. The merge writes the versions back in their
// clamped form, as the page shows them afterwards.
struct FirmwareMergeSource
{
    QString file; // .bin image; empty: this MCU is left out
    QString version1;
    QString version2;
};
using FirmwareMergeSources = std::array<FirmwareMergeSource, FirmwareMcuCount>;

// Where the merge reports and asks.
class FirmwareMergeHost
{
public:
    virtual ~FirmwareMergeHost() = default;
    // One line of the message memo.
    virtual void appendMessage(const QString &line) = 0;
    // A line that reports a failure: the memo too in the window, stderr on a command line.
    virtual void appendError(const QString &line) { appendMessage(line); }
    // Yes/No question; true for Yes.
    virtual bool confirm(const QString &question) = 0;
};

struct FirmwareMergeResult
{
    enum Outcome {
        NothingMerged, // no image given or none could be loaded
        Saved,
        Canceled, // the operator kept an existing file
        SaveFailed,
    };
    Outcome outcome = NothingMerged;
    QString path; // the package, when one was built
};

// Builds "Zelkora8" + suffixes + ".fw" in lastFolder from the images in package order (main,
// slave 1, 2, 3). When lastFolder is empty it becomes the first image's folder.
FirmwareMergeResult MergeFirmware(
    FirmwareMergeSources &sources, QString &lastFolder, FirmwareMergeHost &host);
