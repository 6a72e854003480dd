// The descriptor budget of DiskFile: however many files a job has open, the
// process holds at most a set number of their descriptors.
//
// Every open DiskFile holding a descriptor is in one list, most recently used
// first. When a file takes a descriptor and the list is longer than the
// budget, the descriptors of the files idle longest are closed; such a file
// stays open and reopens its path at its next operation, checking that the
// path still leads to the same file (device and inode). A file is never
// closed under a running operation (a DescriptorUse is alive) nor while
// asynchronous reads share its descriptor: those would free nothing anyway.
// A file created here takes its exclusive lock again when it is reopened.
//
// The list is guarded by one lock, taken once per operation that needs the
// descriptor; the descriptors taken back are closed after it is released.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "core/disk_file.h"
#include "core/disk_file_io.h"

namespace vantrove {

class DescriptorPool {
  public:
    static DescriptorPool& Instance() {
        static DescriptorPool* pool = new DescriptorPool;  // outlives every static DiskFile
        return *pool;
    }

    void SetBudget(size_t budget) {
        std::vector<Taken> taken;
        {
            std::lock_guard lock(mutex_);
            budget_ = budget != 0 ? budget : DefaultBudget();
            TrimLocked(nullptr, budget_, taken);
        }
        CloseTaken(taken);
    }

    size_t Held() {
        std::lock_guard lock(mutex_);
        return count_;
    }

    // Puts `file` (holding a descriptor, not in the list) at the front, with
    // one use when `use`, and closes descriptors of others over the budget.
    void Enter(DiskFile& file, bool use) {
        std::vector<Taken> taken;
        {
            std::lock_guard lock(mutex_);
            if (use) file.uses_.fetch_add(1, std::memory_order_relaxed);
            LinkFrontLocked(file);
            TrimLocked(&file, budget_, taken);
        }
        CloseTaken(taken);
    }

    void Leave(DiskFile& file) {
        std::lock_guard lock(mutex_);
        if (file.pooled_) UnlinkLocked(file);
    }

    // The file's descriptor with one more use, or -1 when it has none now.
    int Use(DiskFile& file) {
        std::lock_guard lock(mutex_);
        if (!file.pooled_) return -1;
        file.uses_.fetch_add(1, std::memory_order_relaxed);
        if (head_ != &file) {
            UnlinkLocked(file);
            LinkFrontLocked(file);
        }
        return file.fd_;
    }

    // Closes every descriptor that is idle: the system has run out of them.
    void ReclaimIdle() {
        std::vector<Taken> taken;
        {
            std::lock_guard lock(mutex_);
            TrimLocked(nullptr, 0, taken);
        }
        CloseTaken(taken);
    }

  private:
    struct Taken {
        int fd;
        AsyncFileChannel* channel;
    };

    static size_t DefaultBudget() {
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 8192;
        return std::clamp<size_t>(static_cast<size_t>(limit.rlim_cur) / 4, 16, 8192);
    }

    void LinkFrontLocked(DiskFile& file) {
        file.poolPrev_ = nullptr;
        file.poolNext_ = head_;
        if (head_) head_->poolPrev_ = &file;
        head_ = &file;
        if (!tail_) tail_ = &file;
        file.pooled_ = true;
        ++count_;
    }

    void UnlinkLocked(DiskFile& file) {
        (file.poolPrev_ ? file.poolPrev_->poolNext_ : head_) = file.poolNext_;
        (file.poolNext_ ? file.poolNext_->poolPrev_ : tail_) = file.poolPrev_;
        file.poolPrev_ = file.poolNext_ = nullptr;
        file.pooled_ = false;
        --count_;
    }

    // Takes descriptors of idle files, oldest use first, until at most
    // `keep` are held; never that of `spare`.
    void TrimLocked(DiskFile* spare, size_t keep, std::vector<Taken>& taken) {
        DiskFile* file = tail_;
        while (count_ > keep && file) {
            DiskFile* newer = file->poolPrev_;
            const bool idle = file != spare && file->uses_.load(std::memory_order_acquire) == 0 &&
                              (!file->channel_ || detail::ChannelIsUnshared(file->channel_));
            if (idle) {
                taken.push_back({file->fd_, file->channel_});
                file->fd_ = -1;
                file->channel_ = nullptr;
                UnlinkLocked(*file);
            }
            file = newer;
        }
    }

    static void CloseTaken(const std::vector<Taken>& taken) {
        for (const Taken& t : taken) {
            if (t.channel) {
                detail::ReleaseChannelShare(t.channel);
            } else {
                ::close(t.fd);
            }
        }
    }

    std::mutex mutex_;
    DiskFile* head_ = nullptr;
    DiskFile* tail_ = nullptr;
    size_t count_ = 0;
    size_t budget_ = DefaultBudget();
};

DiskFile::DescriptorUse::DescriptorUse(DiskFile& file) : file_(file), fd_(-1) {
    if (!file.open_) {
        file.Fail(EBADF);
        return;
    }
    fd_ = DescriptorPool::Instance().Use(file);
    if (fd_ < 0 && file.Reopen()) fd_ = file.fd_;  // Reopen counted this use
}

DiskFile::DescriptorUse::~DescriptorUse() {
    if (fd_ >= 0) file_.uses_.fetch_sub(1, std::memory_order_release);
}

void DiskFile::EnterPool() {
    DescriptorPool::Instance().Enter(*this, false);
}

void DiskFile::LeavePool() {
    DescriptorPool::Instance().Leave(*this);
}

bool DiskFile::Reopen() {
    int flags = O_CLOEXEC | O_NONBLOCK | (mode_ == OpenMode::Read ? O_RDONLY : O_RDWR | O_NOFOLLOW);
    const int fd = detail::OpenDescriptor(path, flags);
    if (fd < 0) return Fail(errno);
    auto abandon = [&](int error) {
        ::close(fd);
        return Fail(error);
    };
    struct stat st {};
    if (fstat(fd, &st) != 0) return abandon(errno);
    if (static_cast<uint64_t>(st.st_dev) != device_ || static_cast<uint64_t>(st.st_ino) != inode_)
        return abandon(ESTALE);
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return abandon(errno);
    if ((mode_ == OpenMode::Create || mode_ == OpenMode::CreateNew) &&
        flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return abandon(EBUSY);
    fd_ = fd;
    DescriptorPool::Instance().Enter(*this, true);
    return true;
}

bool DiskFile::RefreshFromPath() {
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
    if (makedev(sx.stx_dev_major, sx.stx_dev_minor) != device_ || sx.stx_ino != inode_)
        return false;
    size = sx.stx_size;
    lastWriteTime = FileTimeFromUnix(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    const bool haveBirth =
        (sx.stx_mask & STATX_BTIME) && (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0);
    const statx_timestamp& born = haveBirth ? sx.stx_btime : sx.stx_ctime;
    creationTime = FileTimeFromUnix(born.tv_sec, born.tv_nsec);
    return true;
}

namespace detail {

int OpenDescriptor(const std::string& path, int flags) {
    bool reclaimed = false;
    for (;;) {
        const int fd = ::open(path.c_str(), flags, 0666);
        if (fd >= 0) return fd;
        if (errno == EINTR) continue;
        if ((errno != EMFILE && errno != ENFILE) || reclaimed) return -1;
        // Out of descriptors: give back those of idle files and try once more.
        DescriptorPool::Instance().ReclaimIdle();
        reclaimed = true;
    }
}

}  // namespace detail

void SetDiskFileDescriptorBudget(size_t budget) {
    DescriptorPool::Instance().SetBudget(budget);
}

size_t DiskFileDescriptorsHeld() {
    return DescriptorPool::Instance().Held();
}

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) == 0) SetDiskFileDescriptorBudget(0);
}

}  // namespace vantrove
