#pragma once
// Process and thread priority, as the Priority setting and the threads of
// the program ask for it.
//
// The setting's classes map to nice values: idle 19, normal 0, high -10.
// Linux keeps a nice value per thread, so changing the class moves every
// thread of the process by the same amount and keeps each thread's distance
// from the process's class (the user-interface thread one step below it,
// workers further below). Failures, such as raising the priority without the
// right to, are silent: the threads keep what they had.
//
// Called from the user-interface thread (the class) or from the thread whose
// priority changes (the thread offsets).

#include <cstdint>

namespace vantrove {

// Setting values of Priority.
constexpr uint32_t kPriorityAsStarted = 0;
constexpr uint32_t kPriorityIdle = 1;
constexpr uint32_t kPriorityNormal = 2;
constexpr uint32_t kPriorityHigh = 3;

// Thread offsets from the process's class, in nice steps.
constexpr int kThreadBelowNormal = 1;
constexpr int kThreadLowest = 2;
constexpr int kThreadAboveNormal = -1;

// The nice value of a priority class (1..3); false for 0 and unknown values.
bool NiceForPriorityClass(uint32_t priority, int& nice);

// Sets the class of the process: 1 idle, 2 normal, 3 high; 0 leaves it.
// False when a thread could not be moved (a higher priority than the one
// the process has needs the right to it); the class then stays as it was.
bool ApplyPriorityClass(uint32_t priority);

// Moves the whole process to the nice value `nice`, keeping each thread's
// distance from the process's class.
bool SetProcessNice(int nice);

// Sets the calling thread `offset` nice steps from the process's class
// (kThreadBelowNormal for the user-interface thread).
void SetCurrentThreadPriority(int offset);

// The kernel's id of the calling thread.
int CurrentThreadId();

// Moves thread `threadId` of this process (0 or less: none) `offset` nice
// steps from the process's class; a controlling thread uses it to raise a
// worker that is to stop soon.
void SetThreadPriority(int threadId, int offset);

// The nice value the process's class has now, as far as this program set it
// (the inherited value until then).
int ProcessBaseNice();

}  // namespace vantrove
