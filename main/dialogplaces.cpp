// The folders of the file dialogs and the file systems they keep away from.
#include "main/dialogplaces.h"

#include <QDir>
#include <QFile>

#ifndef Q_OS_WIN
#include <QtCore/private/qabstractfileengine_p.h>
#include <QtCore/private/qfsfileengine_p.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "binio/binio.h"
#include "binio/mounts.h"

namespace tessarin {

namespace {

bool within(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder.endsWith('/') ? folder : folder + '/');
}

// `path` made absolute and clean, from the strings alone: Qt's own look at a path would ask
// SilentMounts about it again.
QString absolute(const QString& path) {
#ifdef Q_OS_WIN
    const bool isabsolute = QDir::isAbsolutePath(path);
#else
    const bool isabsolute = path.startsWith('/');
#endif
    return QDir::cleanPath(isabsolute ? path : QDir::currentPath() + '/' + path);
}

// Whether `path` lies on one of the `mounts`. Each part of the path that does not is looked at in
// turn, and a symbolic link among them followed, up to the first that does. Windows's paths are
// told apart without regard to case, and have no links to follow.
bool liesonany(const QString& path, const QStringList& mounts) {
    if (mounts.isEmpty() || path.isEmpty()) {
        return false;
    }
#ifdef Q_OS_WIN
    const QString at = absolute(path).toLower();
    return std::any_of(mounts.cbegin(), mounts.cend(),
                       [&](const QString& mount) { return within(at, mount.toLower()); });
#else
    const auto silent = [&](const QString& at) {
        return std::any_of(mounts.cbegin(), mounts.cend(),
                           [&](const QString& mount) { return within(at, mount); });
    };
    QStringList rest = absolute(path).split('/', Qt::SkipEmptyParts);
    QString at;  // the parts followed so far; empty for the root
    int links = 0;
    while (!rest.isEmpty()) {
        const QString part = rest.takeFirst();
        if (part == QLatin1String("..")) {
            at.truncate(std::max<qsizetype>(0, at.lastIndexOf('/')));
            continue;
        }
        const QString next = at + '/' + part;
        if (silent(next)) {
            return true;
        }
        const QByteArray local = QFile::encodeName(next);
        struct stat st {};
        if (::lstat(local.constData(), &st) != 0) {
            return false;
        }
        if (S_ISLNK(st.st_mode)) {
            constexpr int kMostLinks = 40;  // as the kernel follows
            char target[4096];
            const ssize_t n = ::readlink(local.constData(), target, sizeof target);
            if (n <= 0 || std::size_t(n) >= sizeof target || ++links > kMostLinks) {
                return false;
            }
            if (target[0] == '/') {
                at.clear();
            }
            rest = QFile::decodeName(QByteArray(target, n)).split('/', Qt::SkipEmptyParts) + rest;
            continue;
        }
        at = next;
    }
    return silent(at.isEmpty() ? QStringLiteral("/") : at);
#endif
}

#ifndef Q_OS_WIN
// What Qt's file look-ups find at a path on a silent file system: nothing, told without asking
// it. Listings leave such a path out, and Qt's dialogs neither enter nor complete it.
class SilentEntry : public QAbstractFileEngine {
public:
    explicit SilentEntry(const QString& name) { SilentEntry::setFileName(name); }

    void setFileName(const QString& name) override {
        name_ = name;
        absolute_ = absolute(name);
    }
    bool isRelativePath() const override { return !name_.startsWith('/'); }
    bool caseSensitive() const override { return true; }
    FileFlags fileFlags(FileFlags) const override { return {}; }

    QString fileName(FileName kind) const override {
        const auto folder = [](const QString& path) {
            const qsizetype slash = path.lastIndexOf('/');
            return slash < 0    ? QStringLiteral(".")
                   : slash == 0 ? QStringLiteral("/")
                                : path.left(slash);
        };
        switch (kind) {
            case DefaultName:
                return name_;
            case BaseName:
                return absolute_.mid(absolute_.lastIndexOf('/') + 1);
            case PathName:
                return folder(name_);
            case AbsoluteName:
                return absolute_;
            case AbsolutePathName:
                return folder(absolute_);
            default:
                // Canonical names, as for anything that does not exist, and link targets.
                return {};
        }
    }

private:
    QString name_;
    QString absolute_;
};

// The entries of a folder without the silent mount points and the links to them. Qt's dialogs
// list a folder on a thread of their own, which looks at every entry past any engine
// (QFileInfo::stat) and would wait on such an entry for good, listing nothing more.
class SievedEntries : public QAbstractFileEngineIterator {
public:
    SievedEntries(QDir::Filters filters, const QStringList& names, QStringList silent)
        : QAbstractFileEngineIterator(filters, names), silent_(std::move(silent)) {}

    bool hasNext() const override {
        read();
        return next_ < names_.size();
    }
    QString next() override {
        if (!hasNext()) {
            return {};
        }
        current_ = names_.at(next_++);
        return currentFilePath();
    }
    QString currentFileName() const override { return current_; }

private:
    // The folder's names, as the system lists them, once the folder is known.
    void read() const {
        if (done_) {
            return;
        }
        done_ = true;
        const std::unique_ptr<DIR, int (*)(DIR*)> folder(
            ::opendir(QFile::encodeName(path()).constData()), ::closedir);
        const QString base = absolute(path()) + '/';
        while (const dirent* entry = folder ? ::readdir(folder.get()) : nullptr) {
            const QString name = QFile::decodeName(entry->d_name);
            const bool link = entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN;
            if (name == QLatin1String(".") || name == QLatin1String("..") ||
                (!silent_.contains(base + name) && !(link && liesonany(base + name, silent_)))) {
                names_ << name;
            }
        }
    }

    QStringList silent_;
    mutable bool done_ = false;
    mutable QStringList names_;
    qsizetype next_ = 0;
    QString current_;
};

// Any file or folder while file systems are silent: itself as any other, a folder's listing
// without what lies on them.
class SievedFolder : public QFSFileEngine {
public:
    SievedFolder(const QString& name, QStringList silent)
        : QFSFileEngine(name), silent_(std::move(silent)) {}

    Iterator* beginEntryList(QDir::Filters filters, const QStringList& names) override {
        // QDirIterator takes the iterator over.
        return std::make_unique<SievedEntries>(filters, names, silent_).release();
    }

private:
    QStringList silent_;
};
#endif

}  // namespace

// The file systems noted silent, and the answer Qt's look-ups get for any path on them. Qt asks
// it from the window's thread and from its dialogs' lister threads alike.
class SilentMounts
#ifndef Q_OS_WIN
    : public QAbstractFileEngineHandler
#endif
{
public:
    // Notes `mount`; false when it is noted already. A thread of its own asks the file system
    // whether it answers (statfs goes to the file system itself, where a stat may be answered from
    // a cache); once it has, the mount is forgotten.
    bool add(const QString& mount) {
        const std::lock_guard lock(mutex_);
        prune();
        if (std::any_of(mounts_.cbegin(), mounts_.cend(),
                        [&](const Mount& noted) { return noted.point == mount; })) {
            return false;
        }
        auto answered = std::make_shared<std::atomic<bool>>(false);
#ifdef Q_OS_WIN
        std::string point = QDir::toNativeSeparators(mount).toStdString();
#else
        std::string point = QFile::encodeName(mount).toStdString();
#endif
        std::thread([point = std::move(point), answered] {
            binio::askfilesystem(point);
            answered->store(true);
        }).detach();
        mounts_.push_back({mount, std::move(answered)});
        return true;
    }

    // Whether `path` lies on a noted file system, also through symbolic links.
    bool reaches(const QString& path) const {
        return liesonany(path, points());
    }

#ifndef Q_OS_WIN
    QAbstractFileEngine* create(const QString& name) const override {
        // Qt's resources (":/...") are no files. Qt takes the engine over.
        if (name.isEmpty() || name.startsWith(':')) {
            return nullptr;
        }
        const QStringList silent = points();
        if (silent.isEmpty()) {
            return nullptr;
        }
        if (liesonany(name, silent)) {
            return std::make_unique<SilentEntry>(name).release();
        }
        return std::make_unique<SievedFolder>(name, silent).release();
    }
#endif

private:
    // The mount points noted and not known to answer again.
    QStringList points() const {
        const std::lock_guard lock(mutex_);
        prune();
        QStringList points;
        for (const Mount& mount : mounts_) {
            points << mount.point;
        }
        return points;
    }

    struct Mount {
        QString point;
        std::shared_ptr<std::atomic<bool>> answered;
    };

    void prune() const {
        mounts_.erase(std::remove_if(mounts_.begin(), mounts_.end(),
                                     [](const Mount& mount) { return mount.answered->load(); }),
                      mounts_.end());
    }

    mutable std::mutex mutex_;
    mutable std::vector<Mount> mounts_;
};

DialogPlaces::DialogPlaces(const QString& start) {
    visit(start);
}

DialogPlaces::~DialogPlaces() = default;

void DialogPlaces::visit(const QString& folder) {
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    visited_.removeAll(absolute);
    visited_.append(absolute);
}

QString DialogPlaces::lastfolder() const {
    for (auto folder = visited_.crbegin(); folder != visited_.crend(); ++folder) {
        if (!reaches(*folder)) {
            return *folder;
        }
    }
    return QDir::homePath();
}

bool DialogPlaces::stalled(const QString& place) {
    const QString path = absolute(place);
    // The mount that holds the path, learnt without asking its file system.
    QString mount = path.left(std::max<qsizetype>(1, path.lastIndexOf('/')));
#ifndef Q_OS_WIN
    if (const std::string point = binio::mountpoint(QFile::encodeName(path).toStdString());
        !point.empty()) {
        mount = QFile::decodeName(point.c_str());
    }
#endif
    if (!silent_) {
        // Made on the first stall: from then on, Qt asks it about every path it looks up.
        silent_ = std::make_unique<SilentMounts>();
    }
    return silent_->add(mount);
}

bool DialogPlaces::reaches(const QString& path) const {
    return silent_ && silent_->reaches(path);
}

}  // namespace tessarin
