#pragma once
// Crash points for the kill tests, built only with the tests: with
// VANTROVE_CRASH_AT=N in the environment the program kills itself (SIGKILL,
// as a power cut or the OOM killer would) just before its Nth file
// operation (open, write, resize, rename, delete), and with
// VANTROVE_CRASH_COUNT=FILE it writes the number of operations it made to
// FILE at exit. VANTROVE_SIGNAL_AT=N sends the program SIGTERM just before
// its Nth file operation (which then goes ahead), and VANTROVE_FULL_AT=N
// fails every write and resize from the Nth operation on with ENOSPC, as a
// full disk would. With VANTROVE_FAIL_READS=PATH:BEGIN:END every read of the
// file at PATH (under whatever name it is later given) that touches bytes
// BEGIN to END-1 fails with EIO, as on a disk with bad sectors. Does nothing
// in a build without the tests.

namespace vantrove::cli {

void InstallCrashPoints();

}  // namespace vantrove::cli
