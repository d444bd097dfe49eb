#pragma once

#include <QString>

// Where Settings.ini and Settings-demo.ini live. A copy of the programs is installed when the
// marker file that is installed with its data exists at InstalledMarker, relative to the
// executable's folder (cmake --install, or the package installed or unpacked anywhere). An
// installed copy keeps its settings in the user's configuration folder, as no user may write
// beside programs under /usr. Any other copy (a build tree, an executable copied into a folder
// of its own) is portable and keeps them beside the program.
struct SettingsLocation
{
    static constexpr char InstalledMarker[] = "../share/matrix-controller/installed";
    // The configuration folder's own name: the window's application name, so that the window's
    // QStandardPaths::AppConfigLocation and matrixctl's folder are one.
    static constexpr char ConfigFolderName[] = "matrix-controller";

    QString folder;
    bool installed = false;

    // The location for programs started from programFolder.
    static SettingsLocation forProgramFolder(const QString &programFolder);
    // The user's configuration folder ($XDG_CONFIG_HOME/matrix-controller on Linux).
    static QString userConfigFolder();

    // For an installed copy: makes the folder when missing; empty when it can be written, else
    // the system's reason.
    QString prepare() const;
    // An installed copy's refusal naming the folder and the reason; empty for an empty reason.
    QString refusalText(const QString &reason) const;

    // A portable copy's test of its folder: creates and deletes a file of a random name there.
    static bool IsFolderWritable(const QString &folder);
    // The name IsFolderWritable tries: the folder and random capitals up to 240 characters,
    // then ".tmp"; at least minLetters capitals however long the folder is.
    static QString probeFileName(const QString &folder, int minLetters = 0);
};
