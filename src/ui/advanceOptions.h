#pragma once

#include "filesystems/VolumeScan.h"
#include "jobs/JobRunner.h"
#include "ui/JobPanel.h"
#include "ui/WizardPage.h"
#include "volumes/VolumeRecord.h"

#include <memory>

class QComboBox;
class QLabel;

namespace qis::ui {

// The advanced mode's first step: the volume is searched for copies of its
// MFT or FAT (and, for exFAT, its cluster heap); the user picks one of
// them and a cluster size, and the scan page reads the volume with them.
class advanceOptions : public WizardPage {
    Q_OBJECT
public:
    advanceOptions(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume, int maxFileSystems);
    ~advanceOptions() override;

    // The candidate search as a job; the lists fill when it ends.
    void runSearch();
    void waitForSearch() { jobs->waitForJob(); }
    [[nodiscard]] bool searching() const { return jobs->running(); }

    QLabel* candidateLabel = nullptr;
    QComboBox* candidates = nullptr;
    QLabel* clusterLabel = nullptr;
    QComboBox* clusterSizes = nullptr;
    QLabel* heapLabel = nullptr;
    QComboBox* heaps = nullptr;
    QLabel* status = nullptr;
    // Progress, Pause, Resume and Stop.
    JobPanel* jobs = nullptr;

protected:
    void onNext() override;
    void onBack() override;

private:
    void searchEnded();

    VolumeRecord volume_;
    int maxFileSystems_;
    // Shared with the scan page, which reads the volume through it with the
    // picks made here; it lives as long as this page.
    std::shared_ptr<VolumeScan> scan_;
    const AdvancedChoices* choices_ = nullptr;
};

} // namespace qis::ui
