#include "app/process_priority.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace vantrove {
namespace {

// The class's nice value; threads sit at offsets from it. Initialised with
// the nice value the process was started with.
std::atomic<int> g_baseNice{getpriority(PRIO_PROCESS, 0)};

int Clamp(int nice) {
    return nice < -20 ? -20 : (nice > 19 ? 19 : nice);
}

// Ids of every thread of this process.
std::vector<pid_t> ThreadIds() {
    std::vector<pid_t> ids;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) {
        ids.push_back(static_cast<pid_t>(CurrentThreadId()));
        return ids;
    }
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        ids.push_back(static_cast<pid_t>(std::atoi(entry->d_name)));
    }
    closedir(dir);
    return ids;
}

// The nice value of one thread, or false when it cannot be read.
bool ThreadNice(pid_t tid, int& nice) {
    errno = 0;
    int value = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (value == -1 && errno != 0) return false;
    nice = value;
    return true;
}

}  // namespace

bool NiceForPriorityClass(uint32_t priority, int& nice) {
    switch (priority) {
        case kPriorityIdle:
            nice = 19;
            return true;
        case kPriorityNormal:
            nice = 0;
            return true;
        case kPriorityHigh:
            nice = -10;
            return true;
        default:
            return false;
    }
}

bool ApplyPriorityClass(uint32_t priority) {
    int nice;
    return !NiceForPriorityClass(priority, nice) || SetProcessNice(nice);
}

bool SetProcessNice(int nice) {
    nice = Clamp(nice);
    int base = g_baseNice.load();
    bool allMoved = true;
    for (pid_t tid : ThreadIds()) {
        int current;
        if (!ThreadNice(tid, current)) continue;  // the thread has ended
        int target = Clamp(nice + (current - base));
        if (target != current && setpriority(PRIO_PROCESS, static_cast<id_t>(tid), target) != 0) {
            allMoved = false;
        }
    }
    // When the move was refused (a higher priority needs the right to it),
    // the class stays where it was for the threads that start later.
    if (allMoved) g_baseNice.store(nice);
    return allMoved;
}

void SetCurrentThreadPriority(int offset) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()),
                Clamp(g_baseNice.load() + offset));
}

int CurrentThreadId() {
    return static_cast<int>(syscall(SYS_gettid));
}

void SetThreadPriority(int threadId, int offset) {
    if (threadId <= 0) return;
    setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), Clamp(g_baseNice.load() + offset));
}

int ProcessBaseNice() {
    return g_baseNice.load();
}

}  // namespace vantrove
