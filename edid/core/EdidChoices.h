#pragma once

#include <QString>

// The EDID page's six choices, stored as entry texts ("In2 - [Blu-ray]", "All Inputs", ...).
// A text that matches no entry any more selects entry 0; empty means never chosen, or a list
// showing its "Select ..." entry.
struct EdidChoices
{
    QString edidMode; // cbEDIDMode
    QString setModeInput; // cbSetEDIDModeInput
    QString copyOutput; // cbCopyEDIDOutput
    QString copyInput; // cbCopyEDIDInput
    QString readOutput; // cbReadEDIDDataOutput
    QString downloadInput; // cbDownloadEDIDInput

    bool operator==(const EdidChoices &) const = default;
};
