// Create File's writer: a regular file only, never a wait on a pipe, and an
// existing file kept whole when the save fails.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <new>
#include <string>
#include <string_view>

#include "commands/exports.h"
#include "commands/exports_shared.h"

namespace kaldrome {

namespace {

// Tr, Told, LineEnd and Whole.
using namespace exports_shared;

// The system's words for an error number.
Failure SystemReason(int error) {
    return Failure{qt_error_string(error).toStdString()};
}

// A failure that left an existing file as it was says so.
Failure Kept(int error, bool existed) {
    Failure reason = SystemReason(error);
    if (existed) reason.message += " " + Tr("The file was left as it was.").toStdString();
    return reason;
}

// Only a file is written: whatever else has the name stays as it is.
Failure NotAFile(mode_t mode) {
    if (S_ISDIR(mode)) return Told("It is a folder, not a file that can be written.");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return Told("It is a device, not a file that can be written.");
    if (S_ISFIFO(mode)) return Told("It is a pipe, not a file that can be written.");
    if (S_ISSOCK(mode)) return Told("It is a socket, not a file that can be written.");
    return Told("It is not a file that can be written.");
}

// Holds back the signals that ask the program to end (kill, Ctrl+C, a closed
// terminal) while a file is written, and delivers them once it is done: the
// program ends as asked, with the file whole and no temporary file left. Any
// thread may take such a signal, so a handler holds it, not a thread's mask.
class HoldTermination {
  public:
    HoldTermination() {
        struct sigaction hold {};
        hold.sa_handler = [](int signal) { held = signal; };
        sigemptyset(&hold.sa_mask);
        hold.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(Signals); ++i)
            sigaction(Signals[i], &hold, &saved_[i]);
    }
    ~HoldTermination() {
        for (std::size_t i = 0; i < std::size(Signals); ++i)
            sigaction(Signals[i], &saved_[i], nullptr);
        if (const int signal = held.exchange(0)) ::raise(signal);
    }
    HoldTermination(const HoldTermination&) = delete;
    HoldTermination& operator=(const HoldTermination&) = delete;

  private:
    static constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};
    static inline std::atomic<int> held{0};
    struct sigaction saved_[std::size(Signals)]{};
};

// An open file descriptor, closed when it goes.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // 0, or the error that closing reports (a write the disk refused late).
    int Close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 || errno == EINTR ? 0 : errno;
    }

  private:
    int fd_;
};

// What has the chosen name: where its symbolic links lead (they stay links),
// and what is there, if anything.
struct Target {
    std::string name;
    bool exists = false;
    struct stat st {};
};

Outcome<Target> FindTarget(std::string name) {
    for (int links = 0; links < 40; ++links) {
        Target target{name};
        if (::lstat(name.c_str(), &target.st) != 0)
            return errno == ENOENT ? Outcome<Target>(target) : SystemReason(errno);
        target.exists = true;
        if (!S_ISLNK(target.st.st_mode)) return target;
        char to[PATH_MAX];
        const ssize_t length = ::readlink(name.c_str(), to, sizeof to);
        if (length < 0) return SystemReason(errno);
        std::string next(to, static_cast<std::size_t>(length));
        const std::size_t slash = name.rfind('/');
        if (next.front() != '/' && slash != std::string::npos) next.insert(0, name, 0, slash + 1);
        name = std::move(next);
    }
    return SystemReason(ELOOP);
}

// 0, or the error that stopped it.
int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// The document and its CR LF, each piece written as it comes; 0 or the error.
int WriteDocument(int fd, const DocumentSource& document) {
    int error = 0;
    document.write([&](std::string_view piece) { return (error = WriteAll(fd, piece)) == 0; });
    return error != 0 ? error : WriteAll(fd, LineEnd);
}

// 0 when the file is whole on the disk, or the error.
int Finish(int fd) {
    return ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
}

// A file size limit (ulimit -f) would end the program in the middle of the
// write; a file it refuses is refused before it is touched.
bool SizeAllowed(std::size_t size) {
    rlimit limit{};
    return getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           size <= limit.rlim_cur;
}

// Sets aside on the disk the blocks that size bytes need beyond those the
// file holds, leaving the file as it is; 0 when they are there. Where the
// file system sets nothing aside, its free space is compared instead.
int MakeRoom(int fd, const struct stat& file, std::size_t size) {
    int result;
    do {
        result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result == 0) return 0;
    if (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) return errno;
    struct statvfs disk {};
    if (::fstatvfs(fd, &disk) != 0) return 0;  // nothing known: the write tells
    const std::uint64_t held = static_cast<std::uint64_t>(file.st_blocks) * 512;
    const std::uint64_t blocks = geteuid() == 0 ? disk.f_bfree : disk.f_bavail;
    return size > held && size - held > blocks * disk.f_frsize ? ENOSPC : 0;
}

// Rewrites an open file from its start. Its old contents go with the first
// byte, so first the disk must have room for all of it.
Outcome<void> RewriteInPlace(Descriptor& file, const struct stat& st,
                             const DocumentSource& document, std::size_t size) {
    if (const int error = MakeRoom(file.Get(), st, size); error != 0) return Kept(error, true);
    // Over the old contents, then the old tail cut off: the room set aside
    // beyond the old end stays the file's.
    int error = WriteDocument(file.Get(), document);
    if (error == 0 && ::ftruncate(file.Get(), static_cast<off_t>(size)) != 0) error = errno;
    if (error == 0) error = Finish(file.Get());
    if (error == 0) error = file.Close();
    if (error == 0) return {};
    Failure reason = SystemReason(error);
    reason.message += " " + Tr("The file may be incomplete.").toStdString();
    return reason;
}

// A new file of a name of its own beside name, to take its place when whole.
// It gets the permissions of the file it replaces (old), else those of any
// new file. 0, or the error that kept it from being made.
int MakeTemporary(const std::string& name, const struct stat* old, Descriptor& file,
                  std::string& temporary) {
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = name + '.';
        for (int i = 0; i < 6; ++i)
            temporary += Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))];
        file.Reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          old != nullptr ? 0600 : 0666));
        if (file.Get() >= 0) {
            if (old != nullptr) ::fchmod(file.Get(), old->st_mode & 0777);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// Removes a temporary file unless it was put in its place.
class TemporaryName {
  public:
    explicit TemporaryName(const std::string& name) : name_(name) {}
    ~TemporaryName() {
        if (!placed_) ::unlink(name_.c_str());
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    void Placed() { placed_ = true; }

  private:
    const std::string& name_;
    bool placed_ = false;
};

Outcome<void> WriteFile(const std::string& chosen, const DocumentSource& document) {
    const Outcome<Target> found = FindTarget(chosen);
    if (!found.Ok()) return found.Error();
    const Target& target = found.Value();
    if (target.exists && !S_ISREG(target.st.st_mode)) return NotAFile(target.st.st_mode);

    // An existing file is opened first: whether it may be written is asked of
    // the file itself, and it is the way in where no new file can be made
    // beside it. Opened without waiting and without following a link, and
    // checked once open: a pipe or device put there meanwhile is never written.
    Descriptor existing;
    struct stat st {};
    if (target.exists) {
        existing.Reset(
            ::open(target.name.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
        if (existing.Get() < 0) return errno == ELOOP ? NotAFile(S_IFLNK) : SystemReason(errno);
        if (::fstat(existing.Get(), &st) != 0) return SystemReason(errno);
        if (!S_ISREG(st.st_mode)) return NotAFile(st.st_mode);
        ::fcntl(existing.Get(), F_SETFL, ::fcntl(existing.Get(), F_GETFL) & ~O_NONBLOCK);
    }
    const std::size_t size = document.length + LineEnd.size();
    if (!SizeAllowed(size)) return Kept(EFBIG, target.exists);

    // The new contents go to a file beside it that replaces it only when
    // whole: a failure never leaves a half-written file nor harms the old one.
    Descriptor file;
    std::string temporary;
    if (const int error =
            MakeTemporary(target.name, target.exists ? &st : nullptr, file, temporary);
        error != 0) {
        // A folder that takes no new file: the file is rewritten where it is.
        if (error == EACCES && target.exists) return RewriteInPlace(existing, st, document, size);
        return SystemReason(error);
    }
    TemporaryName remove(temporary);
    int error = WriteDocument(file.Get(), document);
    if (error == 0) error = Finish(file.Get());
    if (error == 0) error = file.Close();
    if (error != 0) return Kept(error, target.exists);
    // Only a file is replaced, also one that came to have the name meanwhile.
    struct stat now {};
    if (::lstat(target.name.c_str(), &now) == 0 && !S_ISREG(now.st_mode))
        return NotAFile(now.st_mode);
    if (::rename(temporary.c_str(), target.name.c_str()) != 0) return Kept(errno, target.exists);
    remove.Placed();
    return {};
}

}  // namespace

Outcome<void> WriteDocumentFile(const QString& path, const std::string& document) {
    return WriteDocumentFile(path, Whole(document));
}

Outcome<void> WriteDocumentFile(const QString& path, const DocumentSource& document) {
    // Declared first, so that it ends last: a polite kill waits until the file
    // is whole and closed and no temporary file is left.
    const HoldTermination hold;
    try {
        return WriteFile(QFile::encodeName(path).toStdString(), document);
    } catch (const std::bad_alloc&) {
        return Failure{OutOfMemoryText().toStdString()};
    }
}

}  // namespace kaldrome
