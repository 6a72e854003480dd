#pragma once
// Work files: a file being written is kept under a hidden work name in its
// own folder, ".<name>.vantrove-part", until it is complete and verified.
// When a file of that name exists already (it is somebody else's: never
// truncated), the work name carries a random token instead,
// ".<name>.<token>.vantrove-part".
//
// Only what a job of ours provably made is ever cleaned up. Before a work
// file is made, its name is appended to the folder's work journal (the
// hidden file ".vantrove-journal", recognised by its first line; a file of
// that name that is not ours is never touched, and the journal then goes by
// ".vantrove-journal-2" and so on) and flushed to the disk; only then is the
// file created, exclusively. Once the work file is moved into place or
// deleted, the journal says so, and a journal with nothing left open goes.
// A work file that the journal still names is the leftover of an
// interrupted job; a file that merely looks like a work file is left alone.
//
// The journal is written only by the job that holds the folder's lock
// (FolderLock); anyone may read it.

#include <string>
#include <vector>

namespace vantrove {

// The first choice of work name for `path`.
std::string PartPathOf(const std::string& path);
// Whether `name` looks like a work name (a file not ours may, too).
bool IsPartFileName(const std::string& name);
// The final path of a work file that this process made; any other path as
// it is (a file named like a work file that is not ours keeps its name).
std::string FinalPathOfPart(const std::string& path);
// Whether the folder's journal names the file at `path` as a work file of
// ours still in use or left over.
bool IsRecordedWorkFile(const std::string& path);
// Whether the file at `path` is a work journal of ours.
bool IsWorkJournal(const std::string& path);

// The work files of ours in `folder` that the journal names and that still
// exist (names only, sorted).
std::vector<std::string> ListPartFiles(const std::string& folder);
// Deletes the work files of ours in `folder` and then the journal; only
// while no job of ours can be writing there (under the folder's lock).
// Returns the names deleted.
std::vector<std::string> RemovePartFiles(const std::string& folder);

namespace detail {
// Journals `workPath` (the work file of `finalPath`) as about to be made and
// flushes the journal; 0 or the errno of the failure.
int RecordWorkFile(const std::string& workPath, const std::string& finalPath);
// The work file journaled by RecordWorkFile could not be made (its name
// was taken meanwhile, or the creation failed): the journal closes its line.
void WorkFileNotMade(const std::string& workPath);
// The recorded work file at `path` was not made, was deleted, or took
// another name: the journal closes its line. Nothing for any other path.
void WorkFileGone(const std::string& path);
// A work name for `finalPath` with a fresh random token.
std::string TokenPartPathOf(const std::string& finalPath);
}  // namespace detail

}  // namespace vantrove
