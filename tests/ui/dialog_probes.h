#pragma once
// What the dialog tests read of a dialog's inner state, without the dialogs
// offering it to anybody else: each probe is a friend of its dialog and only
// reads. User-interface thread, like the dialogs.

#include "app/worker_client.h"
#include "ui/create_dialog.h"
#include "ui/creation_progress_dialog.h"
#include "ui/verify_dialog.h"

namespace vantrove {

class VerifyDialogProbe {
  public:
    explicit VerifyDialogProbe(const VerifyDialog& dialog) : d_(dialog) {}
    explicit VerifyDialogProbe(const VerifyDialog* dialog) : d_(*dialog) {}

    // The status the controls show (the one of the last refresh).
    const RecoverySetStatus& shownStatus() const { return d_.previous_; }
    // True once the controls show the last status the worker handed over.
    bool showsLatestStatus() const { return d_.seen_ == d_.client_.StatusCount(); }
    bool stopRequested() const { return d_.worker_ && d_.worker_->stopFlag().load() != 0; }
    int soundsPlayed() const { return d_.soundsPlayed_; }
    int repairsRequested() const { return d_.repairsRequested_; }
    // The number of source-file rows of each kind now in the list.
    int RowsOfKind(SourceRowKind kind) const { return d_.RowsOfKind(kind); }
    // The client the worker reports to: a test feeds it statuses or listens
    // to it on the worker thread.
    WorkerClient& workerClient() const { return const_cast<WorkerClient&>(d_.client_); }

  private:
    const VerifyDialog& d_;
};

class CreateDialogProbe {
  public:
    explicit CreateDialogProbe(const CreateDialog& dialog) : d_(dialog) {}
    explicit CreateDialogProbe(const CreateDialog* dialog) : d_(*dialog) {}
    // How many times the dialog beeped (with sounds on or off).
    int beepCount() const { return d_.beeps_; }

  private:
    const CreateDialog& d_;
};

class CreationProgressDialogProbe {
  public:
    explicit CreationProgressDialogProbe(const CreationProgressDialog& dialog) : d_(dialog) {}
    explicit CreationProgressDialogProbe(const CreationProgressDialog* dialog) : d_(*dialog) {}
    // The last status record shown.
    const CreationStatus& shownStatus() const { return d_.shown_; }

  private:
    const CreationProgressDialog& d_;
};

}  // namespace vantrove
