#pragma once
// The verify/repair dialog's texts, derived from the latest status record.
//
// Every 100 ms the dialog samples the set's RecoverySetStatus; these
// functions turn that copy (and the dialog's own count of missing source
// files, where a text distinguishes missing from damaged) into the window
// title, the status line and its block bar, the button captions, the error
// line, the creator line, the progress text and the counters. They hold no
// state, use no window and take their words from the string table; any
// thread may call them. The time and speed line keeps state of its own
// (repair_time_line.h); the file list's texts are in file_list_texts.h.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/path.h"
#include "engine/recovery_set_status.h"

namespace vantrove {

// The window title for `status`, or nullopt when the title is to stay as it
// is. While busy the title names the activity and the current file (loading,
// verifying, scanning, checking, re-verifying) or the set; while idle it
// follows the set state and what is still needed. `missingFiles` is the
// dialog's count of source files shown as missing: a checksum set's title
// says "missing" rather than "missing or damaged" only when every file it
// lacks is missing.
std::optional<std::string> WindowTitle(const RecoverySetStatus& status, int missingFiles);

// Whether the status line and its bar are shown: not during the repair's
// own activities (renaming to writing) and not once the set is repaired.
bool StatusLineShown(const RecoverySetStatus& status);

// The status line: what is missing, that nothing needs repairing, or what a
// repair would do. Empty while no source file is described.
std::string StatusLineText(const RecoverySetStatus& status, int missingFiles);

// The three values of the status line's bar: data blocks available, those
// plus the recovery blocks available (at most the total), and the total.
// Negative counts count as 0; `available <= covered <= total` always holds.
struct BlockBarValues {
    uint64_t available = 0;
    uint64_t covered = 0;
    uint64_t total = 0;
};
BlockBarValues StatusBarValues(const RecoverySetStatus& status);

// The repair button: "Unisci" when blocks can be joined, "Rinomina" when only
// renaming is needed, "Ripara" otherwise; enabled only while idle in a state
// that a repair can act on (partly joinable or repair possible).
std::string RepairButtonCaption(const RecoverySetStatus& status);
bool RepairButtonEnabled(const RecoverySetStatus& status);

// The stop button: "Ferma" and enabled while busy. While idle, for a PAR2
// set that is repaired or fully verified, "Extra" (further recovery
// volumes) and enabled; otherwise "Ferma" and disabled.
struct StopButtonState {
    std::string caption;
    bool enabled = false;
    bool extra = false;  // a press means Extra, not stop
};
StopButtonState StopButton(const RecoverySetStatus& status);

// Whether the error line replaces the progress bar: idle in state 3 or 4
// with an error recorded.
bool ErrorLineShown(const RecoverySetStatus& status);

// The error line for the status's error kind, naming the failing file
// (without its folder) and the system's text for the error code where the
// kind involves a file (the same message as the command line's,
// app/repair_error_message.h); "Riparazione fallita" for an unknown kind.
std::string ErrorLineText(const RecoverySetStatus& status);

// The note under the progress bar while work files of an interrupted job
// lie in the set's folder (the next repair removes them), or while another
// job is working in that folder; empty while there are none or the set is
// busy.
std::string LeftoverNote(const RecoverySetStatus& status);

// How ampersands of the creator text are written: doubled for a control that
// takes "&x" as a keyboard mnemonic (a button, a label with a buddy), as they
// are for a label that shows its text as it stands.
enum class Ampersands { Doubled, Literal };

// "File di recupero creati da :- " (parity sets) or "File di Verifica creati
// da :- " (checksum sets) followed by the creator text, whose control
// characters become spaces.
std::string CreatorLine(const RecoverySetStatus& status,
                        Ampersands ampersands = Ampersands::Doubled);

// The percentage on the progress bar: "33.3 %" for 1 of 3, in tenths,
// rounded down; empty when the total is 0. A position past the total shows
// 100 %.
std::string ProgressText(uint64_t position, uint64_t total);
std::string ProgressText(const RecoverySetStatus& status);

// The counters beside the list, each "sconosciuto" while the set describes no
// data block; numbers grouped, sizes followed by " Byte".
struct CounterTexts {
    std::string sourceFiles;
    std::string totalSize;
    std::string dataBlocks;
    std::string blockSize;
    std::string completeFiles;
    std::string damagedFiles;
    std::string misnamedFiles;
    std::string missingFiles;
};
CounterTexts Counters(const RecoverySetStatus& status);

}  // namespace vantrove
