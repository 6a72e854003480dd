#pragma once
// The texts of the creation progress dialog, made from the status records
// that the dialog copies from the creation job every 250 ms: the window
// title, the status line of each phase, the progress bar's percentage, the
// smoothed speed with the remaining and total time of the computing phase,
// and the closing line of a finished job.
//
// CreationProgressLine keeps what the texts need from one tick to the next
// (the speed estimate, the line shown); it is owned by the dialog and used on its thread only. The
// free functions are pure and may be called from any thread.

#include <cstdint>
#include <string>

#include "app/creation_estimate.h"
#include "create/creation_status.h"

namespace vantrove {

// A file name as the status line shows it: the part after the last '/', or,
// for a name without a folder, its last 30 characters (whole UTF-8
// characters, so a name is never cut inside one).
std::string ShownCreationFileName(const std::string& path);

// "12.3 %" for done / total in tenths of a percent (at most 100.0 %); empty
// while done or total is 0.
std::string CreationPercentText(uint64_t done, uint64_t total);

// The window title for a job in `phase` making "<baseName>.PAR2": running,
// succeeded (phase 10) or failed (phase 9).
std::string CreationTitle(int phase, const std::string& baseName);

class CreationProgressLine {
  public:
    // `startTick`: the steady-clock milliseconds when the dialog was made.
    explicit CreationProgressLine(uint64_t startTick)
        : startTick_(startTick), estimate_(startTick) {}

    // Takes one tick's record and returns the status line: the phase's text,
    // the time estimate while recovery data are computed, the result once
    // the job has ended. The estimate needs two records of the computing
    // phase with different ticks; until then, and while the speed is still
    // 0, the line stays as it was.
    const std::string& Update(const CreationStatus& status);

    // The bytes the job works through (the source files' total size): the
    // speed of a finished job that gave no sample of its computing phase is
    // these bytes over the job's time.
    void SetJobBytes(uint64_t bytes) { jobBytes_ = bytes; }

    const std::string& text() const { return text_; }
    // Smoothed speed in MiB per second; 0 before the first computing sample.
    double speed() const;

  private:
    uint64_t startTick_;
    uint64_t jobBytes_ = 0;
    CreationEstimate estimate_;
    std::string text_;
};

}  // namespace vantrove
