#pragma once

// The way through the wizard's pages to the scan page, shared by the page
// tests.

#include "ui/CBrellanApp.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/VolumeScanDlg.h"

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace qis::ui {

struct Route {
    std::string image;
    bool gpt = false;
    bool bootSectorSearch = false;
    int row = 0;
    std::string name;
};

// How a failing case names its route.
inline void PrintTo(const Route& route, std::ostream* os)
{
    *os << route.image << (route.gpt ? " (GPT)" : "") << (route.bootSectorSearch ? " (boot-record search)" : "")
        << " volume " << route.row;
}

inline const Route kSampleNtfs{"sample.vhdx", true, false, 0, "sample_ntfs"};
inline const Route kSampleFat32{"sample.vhdx", true, false, 1, "sample_fat32"};

// Image, scan mode, volume `row`: the recovery-mode page.
ParceModeNtfsDlg* openRecoveryModePage(CBrellanApp& app, const Route& route);
// The same, then Standard: the scan page with its scan started (not
// waited for).
VolumeScanDlg* openScanPage(CBrellanApp& app, const Route& route);
// The same, its scan ended.
VolumeScanDlg* scannedPage(CBrellanApp& app, const Route& route);

// Saves the whole volume from its item into `folder` and waits for it.
void saveVolumeItem(VolumeScanDlg& scan, const std::filesystem::path& folder);
// What `qsalvage save` of the route's volume writes, with `extra` options
// (the volume found as the route finds it); empty when it failed.
std::map<std::string, std::string> commandLineSave(const Route& route, const std::filesystem::path& folder,
                                                   const std::vector<std::string>& extra = {});

// Every file below a folder: its path from there, contents and time.
std::map<std::string, std::string> filesBelow(const std::filesystem::path& root);

} // namespace qis::ui
